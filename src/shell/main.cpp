// SPDX-License-Identifier: GPL-3.0-or-later
// kelvane: the desktop program. Reads no command-line arguments; the managed
// registry is chosen from the environment (KELVANE_REGISTRY, WINEPREFIX, ~/.wine).
//
// For timing the start-up (bench/startup-time.sh): with KELVANE_EXIT_AT_FIRST_LIST=1
// the program prints the wall-clock time (nanoseconds since the epoch) once
// the program list has been painted with its nodes for the first time, and quits.
// Two more lines say what was painted, for the package checks: the list's
// caption (in the chosen language) and the sizes of the window's icon.
#include "gui/kvUnitSettings.h"
#include "program/kvUnitProgram.h"
#include "shell/kvStartup.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QStringList>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <chrono>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

class FirstListPaint : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Stands in for the window manager (Xvfb has none), which gives the
        // new main window the focus; the list is built when the focus arrives.
        if (event->type() == QEvent::Show && watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow())
            static_cast<QWidget *>(watched)->activateWindow();
        if (!m_seen && event->type() == QEvent::Paint) {
            auto *tree = qobject_cast<QTreeWidget *>(watched->parent());
            if (tree && watched == tree->viewport() && tree->objectName() == u"TreeviewProgram"_s
                && tree->topLevelItemCount() > 0) {
                m_seen = true;
                QWidget *window = tree->window();
                // Once this paint has been delivered and flushed.
                QTimer::singleShot(0, [window] {
                    const auto now = std::chrono::system_clock::now().time_since_epoch();
                    std::printf("first_list_paint_ns=%lld\n",
                                static_cast<long long>(std::chrono::nanoseconds(now).count()));
                    const auto *caption = window->findChild<QLabel *>(u"LabelProgramTitle"_s);
                    std::printf("first_list_caption=%s\n", caption ? qUtf8Printable(caption->text()) : "");
                    QStringList sizes;
                    for (const QSize &size : window->windowIcon().availableSizes())
                        sizes.append(QString::number(size.width()));
                    std::printf("window_icon_sizes=%s\n", qPrintable(sizes.join(u',')));
                    std::fflush(stdout);
                    QCoreApplication::exit(0);
                });
            }
        }
        return false;
    }

private:
    bool m_seen = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    FirstListPaint probe;
    if (qEnvironmentVariableIntValue("KELVANE_EXIT_AT_FIRST_LIST") == 1)
        application.installEventFilter(&probe);
    TkvStartupOptions options;
    options.programFrame = [](TkvFrameHost &host, QWidget *parent) -> QWidget * {
        return new TkvFrameProgram(host, parent);
    };
    options.settingsFrame = [](TkvFrameHost &host, QWidget *parent) -> QWidget * {
        return new TkvFrameSettings(host, parent);
    };
    return RunKelvane(options);
}
