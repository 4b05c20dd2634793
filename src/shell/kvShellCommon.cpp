#include "kvShellCommon.h"

#include "common/kvCommon.h"

#include <QDialog>
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

int ExecDialog(QDialog &dialog, const DialogHook &hook)
{
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
