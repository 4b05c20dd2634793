// kelvane: the desktop program. Reads no command-line arguments; the managed
// registry is chosen from the environment (KELVANE_REGISTRY, WINEPREFIX, ~/.wine).
#include "program/kvUnitProgram.h"
#include "settings/kvUnitSettings.h"
#include "shell/kvStartup.h"

#include <QApplication>

using namespace kelvane;

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    TkvStartupOptions options;
    options.programFrame = [](TkvFrameHost &host, QWidget *parent) -> QWidget * {
        return new TkvFrameProgram(host, parent);
    };
    options.settingsFrame = [](TkvFrameHost &host, QWidget *parent) -> QWidget * {
        return new TkvFrameSettings(host, parent);
    };
    return RunKelvane(options);
}
