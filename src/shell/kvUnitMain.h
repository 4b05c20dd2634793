// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kvShellCommon.h"
#include "gui/kvFrameHost.h"
#include "target/kvSystemSupport.h"

#include <QList>
#include <QMainWindow>

#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QPushButton;
class QStatusBar;

namespace kelvane {

class CommandRunner;
class RegistryStore;
class TkvFormAbout;
class TkvFormMessage;
class TkvValueLabel;
class TkvWaitNotice;
struct RunContext;

// Makes one of the main window's two frames.
using FrameFactory = std::function<QWidget *(TkvFrameHost &host, QWidget *parent)>;

// The main window: owns the settings and the catalogue, hosts the program
// list and the preferences, and saves the settings when it closes.
class TkvFormMain : public QMainWindow, public TkvFrameHost
{
    Q_OBJECT
public:
    // `programFolder` holds languages/ (the executable's folder by default).
    TkvFormMain(Target &target, const TOSCheck &osCheck, const FrameFactory &programFrame,
                const FrameFactory &settingsFrame, const QString &programFolder = {});
    ~TkvFormMain() override;

    // The dialogs created after this window (its children); start-up hands
    // them over and the window deletes them before the catalogue.
    void setForms(TkvFormMessage *message, TkvFormAbout *about);
    // Answers the save-file dialog in tests.
    void setDialogHook(DialogHook hook) { m_dialogHook = std::move(hook); }

    // TkvFrameHost
    TSettings &settings() override { return *m_settings; }
    TLang &lang() override { return *m_lang; }
    Target &target() override { return m_target; }
    const TSystemSupport &systemSupport() const override { return m_systemSupport; }
    QWidget *mainWindow() override { return this; }
    void DisplayStatusHint(QObject *sender) override;
    void ResetStatusHint(QObject *sender) override;
    void setStatusText(const QString &text) override;
    QString statusText() const override;
    void DisplayMessage(const QString &text) override;
    bool DisplayConfirmation(const QString &text) override;
    QString GetSaveFileName(const QString &defaultName, const QString &filter) override;

    void DisplayFrame(QWidget *frame);
    // A second start asked for this window: out of the task bar, to the front.
    void BringToFront();
    // A second start named `path` as its registry: when that is another one
    // than this window's, asks whether to switch to it.
    void OfferTarget(const QString &path);

    // Receives the target the user switches to; the window then closes, and
    // start-up opens a new one on it.
    using TargetSwitcher = std::function<void(std::unique_ptr<Target> target)>;
    void setTargetSwitcher(TargetSwitcher switcher) { m_switchTarget = std::move(switcher); }
    // The list of the prefixes found here, and "Other...", from the status bar.
    void ChooseTarget();
    // Opens `path` as the new target: refused in words (and the current one
    // kept) when it cannot be opened or its system is not supported.
    bool SwitchTarget(const QString &path);

    // The command that opens the Windows components dialog of the target:
    // "OptionalFeatures.exe" on Vista, else sysocmgr.exe with the Windows
    // folder (the target's SystemRoot, or the "windir" variable).
    static QString WindowsComponentsCommand(const TOSCheck &osCheck, const RegistryStore &registry);
    // How commands start from this window: the target's runner, waiting
    // with this window disabled.
    RunContext runContext() override;
    // Tests start commands with a runner of their own.
    void setCommandRunner(CommandRunner *runner) { m_runner = runner; }

    void LaunchProgram();
    void LaunchWindowsComponents();
    void LaunchSettings();
    void LaunchAbout();
    void QuitApplication();

    // The frames in their fixed order: the program list, then the preferences.
    const QList<QWidget *> &frameList() const { return FrameList; }

    QPushButton *ButtonMenuPrograms = nullptr;
    QPushButton *ButtonMenuComponents = nullptr;
    QPushButton *ButtonMenuSettings = nullptr;
    QPushButton *ButtonMenuAbout = nullptr;
    QPushButton *ButtonMenuQuit = nullptr;

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // The screens' areas that windows may take, the primary one first.
    static QList<QRect> availableScreenAreas();
    // The catalogue text `key` with the reason in place of %ERROR%, in the message dialog.
    void reportSettingsProblem(const QString &key, const QString &reason);
    void buildLayout();
    void CreateForm(const FrameFactory &programFrame, const FrameFactory &settingsFrame);
    QPushButton *addMenuButton(const QString &name, int height);
    TkvFormMessage &messageForm();

    // Declared in this order so that the catalogue goes before the settings.
    std::unique_ptr<TSettings> m_settings;
    std::unique_ptr<TLang> m_lang;
    Target &m_target;
    const TOSCheck &m_osCheck;
    TSystemSupport m_systemSupport;
    QString m_programFolder;
    TkvFormMessage *m_message = nullptr;
    TkvFormAbout *m_about = nullptr;
    // Made at the first wait that only other programs keep going.
    TkvWaitNotice *m_waitNotice = nullptr;
    DialogHook m_dialogHook;
    CommandRunner *m_runner = nullptr;
    TargetSwitcher m_switchTarget;
    QList<QWidget *> FrameList;
    bool PendingMaximize = false;
    bool m_centreOnShow = false;
    // Why settings.ini could not be read at start (shown once the window is up).
    QString m_settingsProblem;
    // A remembered place, checked once more against the screens with the frame shown.
    bool m_placeOnShow = false;
    bool m_activated = false;

    QWidget *PanelMenuButtons = nullptr;
    QFrame *PanelFrames = nullptr;
    QStatusBar *StatusBarMain = nullptr;
    QLabel *m_statusHint = nullptr;
    QPushButton *ButtonStatusTarget = nullptr;
    TkvValueLabel *m_statusTarget = nullptr;
};

} // namespace kelvane
