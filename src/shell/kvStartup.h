// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kvShellCommon.h"
#include "kvUnitMain.h"

#include <QIcon>
#include <QProcessEnvironment>
#include <QString>

namespace kelvane {

struct TkvStartupOptions
{
    FrameFactory programFrame;
    FrameFactory settingsFrame;
    // Where the target is chosen from (KELVANE_REGISTRY, WINEPREFIX, HOME).
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The bundled sample; empty: GetSampleFolder().
    QString sampleSource;
    // Answers the refusal and error boxes shown before the main window (tests).
    DialogHook messageBoxHook;
    // Receives each main window before it is shown (tests).
    std::function<void(TkvFormMain &window)> windowHook;
};

// Exit statuses: every regular path ends with 0 (a normal end, a refused
// system, a hand-over); a registry or instance socket that cannot be used 1.
inline constexpr int ExitDone = 0;
inline constexpr int ExitCannotStart = 1;

// Kelvane's icon at every size it is drawn in.
QIcon ApplicationIcon();

// The refusal shown on an unsupported system, in fixed English.
QString UnsupportedSystemMessage(const QString &title, const QString &osName);

// The whole start-up sequence and the event loop; needs a QApplication.
int RunKelvane(const TkvStartupOptions &options);

} // namespace kelvane
