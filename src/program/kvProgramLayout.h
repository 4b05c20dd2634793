// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Pieces of the program list's layout shared by the files of its frame.

#include <QFrame>
#include <QRect>
#include <QSize>
#include <QString>

#include <vector>

class QHBoxLayout;
class QLabel;
class QVBoxLayout;
class QPushButton;

namespace kelvane::programlayout {

// Sizes at 96 dpi.
inline constexpr int Margin = 8;
inline constexpr int ButtonWidth = 100;
inline constexpr int ButtonHeight = 28;

// A panel whose children sit at fixed design positions; the ones marked as
// stretching take up the panel's growth. Positions are mirrored for
// right-to-left languages.
class TkvPlacedPanel : public QFrame
{
public:
    TkvPlacedPanel(const QString &name, QSize designSize, QWidget *parent);

    void place(QWidget *child, QRect designRect, bool stretchWidth, bool stretchHeight = false);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Placed
    {
        QWidget *widget;
        QRect design;
        bool stretchWidth;
        bool stretchHeight;
    };

    void layoutChildren();

    QSize m_designSize;
    std::vector<Placed> m_children;
};

// A panel in the place below the tree: a column of buttons on its left,
// ButtonWidth wide, and room for one more widget beside it.
struct ButtonPanel
{
    QFrame *panel;
    QHBoxLayout *layout;
    QWidget *buttons;
    QVBoxLayout *buttonLayout;
};
ButtonPanel newButtonPanel(const QString &name, const QString &buttonsName, QWidget *parent);

QLabel *newLabel(const QString &name, QWidget *parent, const QString &text = {});
QPushButton *newButton(const QString &name, QWidget *parent);

} // namespace kelvane::programlayout
