// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvShellCommon.h"

#include "common/kvCommon.h"

#include <QApplication>
#include <QDialog>
#include <QList>
#include <QFontDatabase>
#include <QPointer>
#include <QStyle>
#include <QTimer>
#include <QWidget>

namespace kelvane {

QString OwnVersionValue(const QString &key)
{
    const QString prefix = key + u'=';
    for (const QString &line : GetVersionInfo(QString())) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    }
    return {};
}

QFont ShellFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    return font;
}

void PlaceLogical(QWidget *child, const QRect &logical)
{
    const QWidget *parent = child->parentWidget();
    if (!parent) {
        child->setGeometry(logical);
        return;
    }
    child->setGeometry(QStyle::visualRect(parent->layoutDirection(), parent->rect(), logical));
}

Qt::Alignment ReadingEdge(const QWidget *widget, Qt::Alignment vertical)
{
    return Qt::AlignAbsolute | vertical
           | (widget->layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft);
}

namespace {

// Where the keyboard was before a dialog, and the widgets around it: the
// focused one may go while the dialog is up (a label editor closes when its
// text is asked about), and its nearest ancestor that takes the focus then
// stands in, so the keys go back to the list, not to the next button.
class FocusReturn
{
public:
    FocusReturn()
    {
        for (QWidget *widget = QApplication::focusWidget(); widget; widget = widget->parentWidget()) {
            m_chain.append(widget);
            if (widget->isWindow())
                break;
        }
    }
    ~FocusReturn()
    {
        for (const QPointer<QWidget> &widget : std::as_const(m_chain)) {
            if (widget && widget->isVisible() && widget->isEnabled() && widget->focusPolicy() != Qt::NoFocus) {
                widget->setFocus(Qt::OtherFocusReason);
                return;
            }
        }
    }
    FocusReturn(const FocusReturn &) = delete;
    FocusReturn &operator=(const FocusReturn &) = delete;

private:
    QList<QPointer<QWidget>> m_chain;
};

} // namespace

int ExecDialog(QDialog &dialog, const DialogHook &hook)
{
    const FocusReturn focusReturn;
    if (hook) {
        // Queued, so it runs inside exec() once the dialog is on screen.
        QPointer<QDialog> guard(&dialog);
        QTimer::singleShot(0, &dialog, [guard, hook] {
            if (guard)
                hook(*guard);
        });
    }
    return dialog.exec();
}

} // namespace kelvane
