// kelvane: the desktop program. Reads no command-line arguments; the managed
// registry is chosen from the environment (KELVANE_REGISTRY, WINEPREFIX, ~/.wine).
#include "settings/kvUnitSettings.h"
#include "shell/kvStartup.h"

#include <QApplication>
#include <QFrame>

using namespace kelvane;

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    TkvStartupOptions options;
    // An empty page until the program list frame is merged.
    options.programFrame = [](TkvFrameHost &, QWidget *parent) -> QWidget * {
        auto *frame = new QFrame(parent);
        frame->setObjectName(QStringLiteral("kvFrameProgram"));
        frame->setFocusPolicy(Qt::StrongFocus);
        return frame;
    };
    options.settingsFrame = [](TkvFrameHost &host, QWidget *parent) -> QWidget * {
        return new TkvFrameSettings(host, parent);
    };
    return RunKelvane(options);
}
