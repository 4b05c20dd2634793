// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLabel>

namespace kelvane {

// A label for a value that comes from a registry or a file: plain text on one
// line (control characters shown as spaces), elided where it does not fit,
// with the whole text as its tooltip then. text() is the whole line.
class TkvValueLabel : public QLabel
{
    Q_OBJECT
    // Catalogue captions are written through the property: it takes the same path.
    Q_PROPERTY(QString text READ text WRITE setText)
public:
    explicit TkvValueLabel(QWidget *parent = nullptr, Qt::TextElideMode elideMode = Qt::ElideRight);

    // Replaces QLabel::setText (not virtual): call it on a TkvValueLabel.
    void setText(const QString &text);
    // The text as painted now: the whole line, or its elided form.
    QString shownText() const;
    // A tooltip for the label; the whole text takes its place while elided.
    void setOwnToolTip(const QString &tip);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateToolTip();

    Qt::TextElideMode m_elideMode;
    QString m_ownToolTip;
};

// A tooltip that shows `text` as it stands, whatever markup it holds.
QString PlainToolTip(const QString &text);

} // namespace kelvane
