// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvUnitMain.h"

#include "kvMenuButton.h"
#include "kvUnitAbout.h"
#include "kvUnitMessage.h"
#include "kvWaitNotice.h"
#include "kvWindowPlacement.h"
#include "common/kvCommon.h"
#include "config/kvConfig.h"
#include "gui/kvCommonGui.h"
#include "gui/kvValueLabel.h"
#include "host/Error.h"
#include "language/kvLanguage.h"
#include "registry/RegistryStore.h"
#include "settings/kvSettings.h"
#include "target/CommandRunner.h"
#include "target/kvOSCheck.h"
#include "target/Target.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QUrl>
#include <QEnterEvent>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// The design size with its frame; also the smallest the window may become.
constexpr int MinimumWidth = 608;
constexpr int MinimumHeight = 429;
constexpr int MenuColumnWidth = 120;
constexpr int PanelMargin = 4;
constexpr int MenuGap = 8;
constexpr int StatusBarHeight = 20;
constexpr int HintPanelWidth = 400;

} // namespace

TkvFormMain::TkvFormMain(Target &target, const TOSCheck &osCheck, const FrameFactory &programFrame,
                         const FrameFactory &settingsFrame, const QString &programFolder)
    : m_target(target)
    , m_osCheck(osCheck)
    , m_systemSupport(osCheck, *target.registry())
    , m_programFolder(programFolder.isEmpty() ? GetProgramFolder() : programFolder)
{
    setObjectName(u"kvFormMain"_s);
    setFont(ShellFont());
    buildLayout();
    CreateForm(programFrame, settingsFrame);
}

TkvFormMain::~TkvFormMain()
{
    // Frames and dialogs read the catalogue and the settings, so they go
    // first; then the catalogue, then the settings.
    qDeleteAll(FrameList);
    FrameList.clear();
    delete m_about;
    delete m_message;
    delete m_waitNotice;
    m_lang.reset();
    m_settings.reset();
}

QPushButton *TkvFormMain::addMenuButton(const QString &name, int height)
{
    auto *button = new TkvMenuButton(PanelMenuButtons);
    button->setObjectName(name);
    button->setFixedSize(MenuColumnWidth - 2 * PanelMargin, height);
    button->installEventFilter(this);
    return button;
}

void TkvFormMain::buildLayout()
{
    auto *central = new QWidget(this);
    auto *columns = new QHBoxLayout(central);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);

    PanelMenuButtons = new QWidget(central);
    PanelMenuButtons->setObjectName(u"PanelMenuButtons"_s);
    PanelMenuButtons->setFixedWidth(MenuColumnWidth);
    auto *menu = new QVBoxLayout(PanelMenuButtons);
    menu->setContentsMargins(PanelMargin, PanelMargin, PanelMargin, PanelMargin);
    menu->setSpacing(0);
    ButtonMenuPrograms = addMenuButton(u"ButtonMenuPrograms"_s, 40);
    ButtonMenuComponents = addMenuButton(u"ButtonMenuComponents"_s, 40);
    ButtonMenuSettings = addMenuButton(u"ButtonMenuSettings"_s, 40);
    ButtonMenuAbout = addMenuButton(u"ButtonMenuAbout"_s, 32);
    ButtonMenuQuit = addMenuButton(u"ButtonMenuQuit"_s, 32);
    menu->addWidget(ButtonMenuPrograms);
    menu->addSpacing(MenuGap);
    menu->addWidget(ButtonMenuComponents);
    menu->addSpacing(MenuGap);
    menu->addWidget(ButtonMenuSettings);
    menu->addStretch(1);
    menu->addWidget(ButtonMenuAbout);
    menu->addSpacing(MenuGap);
    menu->addWidget(ButtonMenuQuit);
    columns->addWidget(PanelMenuButtons);

    auto *frameArea = new QWidget(central);
    auto *frameMargins = new QVBoxLayout(frameArea);
    frameMargins->setContentsMargins(PanelMargin, PanelMargin, PanelMargin, PanelMargin);
    PanelFrames = new QFrame(frameArea);
    PanelFrames->setObjectName(u"PanelFrames"_s);
    PanelFrames->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto *frames = new QVBoxLayout(PanelFrames);
    frames->setContentsMargins(1, 1, 1, 1);
    frames->setSpacing(0);
    frameMargins->addWidget(PanelFrames);
    columns->addWidget(frameArea, 1);
    setCentralWidget(central);

    StatusBarMain = new QStatusBar(this);
    StatusBarMain->setObjectName(u"StatusBarMain"_s);
    StatusBarMain->setFixedHeight(StatusBarHeight);
    m_statusHint = new QLabel(StatusBarMain);
    m_statusHint->setObjectName(u"StatusBarMainHint"_s);
    m_statusHint->setTextFormat(Qt::PlainText);
    m_statusHint->setFixedWidth(HintPanelWidth);
    // The target, on a flat button that opens the list of the others. A
    // long path loses its middle, not the file name at its end.
    ButtonStatusTarget = new QPushButton(StatusBarMain);
    ButtonStatusTarget->setObjectName(u"ButtonStatusTarget"_s);
    ButtonStatusTarget->setFlat(true);
    ButtonStatusTarget->installEventFilter(this);
    m_statusTarget = new TkvValueLabel(ButtonStatusTarget, Qt::ElideMiddle);
    m_statusTarget->setObjectName(u"StatusBarMainTarget"_s);
    m_statusTarget->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *targetLayout = new QHBoxLayout(ButtonStatusTarget);
    targetLayout->setContentsMargins(4, 0, 4, 0);
    targetLayout->addWidget(m_statusTarget);
    StatusBarMain->addWidget(m_statusHint);
    StatusBarMain->addWidget(ButtonStatusTarget, 1);
    setStatusBar(StatusBarMain);

    connect(ButtonStatusTarget, &QPushButton::clicked, this, &TkvFormMain::ChooseTarget);
    connect(ButtonMenuPrograms, &QPushButton::clicked, this, &TkvFormMain::LaunchProgram);
    connect(ButtonMenuComponents, &QPushButton::clicked, this, &TkvFormMain::LaunchWindowsComponents);
    connect(ButtonMenuSettings, &QPushButton::clicked, this, &TkvFormMain::LaunchSettings);
    connect(ButtonMenuAbout, &QPushButton::clicked, this, &TkvFormMain::LaunchAbout);
    connect(ButtonMenuQuit, &QPushButton::clicked, this, &TkvFormMain::QuitApplication);

    setMinimumSize(MinimumWidth, MinimumHeight);
    resize(MinimumWidth, MinimumHeight);
}

void TkvFormMain::CreateForm(const FrameFactory &programFrame, const FrameFactory &settingsFrame)
{
    m_settings = std::make_unique<TSettings>();
    m_settings->FileName = DefaultSettingsPath();
    QString language;
    const bool loaded = m_settings->Load();
    if (!loaded)
        m_settingsProblem = m_settings->LastError;
    if (loaded) {
        PendingMaximize = true;
        if (!m_settings->Maximized) {
            // Restored as saved; the minimum size bounds a saved -1, and the
            // screens there are now bound the rest.
            m_centreOnShow = m_settings->Top == -1 && m_settings->Left == -1;
            // settings.ini is only a file: no number in it may overflow the arithmetic below.
            const auto bounded = [](qint32 value) {
                return std::clamp(value, -config::LargestWindowCoordinate, config::LargestWindowCoordinate);
            };
            QRect saved(bounded(m_settings->Left), bounded(m_settings->Top),
                        std::max(bounded(m_settings->Width), MinimumWidth),
                        std::max(bounded(m_settings->Height), MinimumHeight));
            const QList<QRect> screens = availableScreenAreas();
            if (!m_centreOnShow)
                saved = PlaceOnScreens(saved, screens, style()->pixelMetric(QStyle::PM_TitleBarHeight));
            else if (!screens.isEmpty())
                saved.setSize(saved.size().boundedTo(screens.first().size()));
            move(saved.topLeft());
            resize(saved.size());
            // Once shown, the window's frame is known: it goes on the screen too.
            m_placeOnShow = !m_centreOnShow;
        }
        language = m_settings->Language;
    }

    m_lang = std::make_unique<TLang>(m_programFolder,
                                     TLang::BuiltinInfo{config::AuthorName, config::WebsiteUrl,
                                                        OwnVersionValue(u"ProductVersion"_s)});
    m_lang->LoadLanguage(language, true);
    m_lang->ApplyToForm(this);

    for (const FrameFactory &factory : {programFrame, settingsFrame}) {
        QWidget *frame = factory(*this, PanelFrames);
        frame->hide();
        PanelFrames->layout()->addWidget(frame);
        FrameList.append(frame);
    }
    // Keyboard order: the menu column, then the frame area.
    QWidget *previous = ButtonMenuPrograms;
    for (QWidget *next : {static_cast<QWidget *>(ButtonMenuComponents), static_cast<QWidget *>(ButtonMenuSettings),
                          static_cast<QWidget *>(ButtonMenuAbout), static_cast<QWidget *>(ButtonMenuQuit),
                          FrameList.at(0), FrameList.at(1)}) {
        setTabOrder(previous, next);
        previous = next;
    }

    // A hive whose log files hold newer changes is listed with a warning.
    QString target = m_target.description();
    if (m_target.registry()->mayBeOutOfDate())
        target += u" \u2014 "_s + m_lang->Strings.value(u"StatusRegistryOutOfDate"_s);
    m_statusTarget->setText(target);
    setWindowTitle(OwnVersionValue(u"ProductName"_s));
}

void TkvFormMain::setForms(TkvFormMessage *message, TkvFormAbout *about)
{
    m_message = message;
    m_about = about;
}

TkvFormMessage &TkvFormMain::messageForm()
{
    if (!m_message)
        throw Error(u"The main window was asked for a message before the message dialog was created"_s);
    return *m_message;
}

void TkvFormMain::DisplayStatusHint(QObject *sender)
{
    QString key;
    if (qobject_cast<QPushButton *>(sender))
        key = u"Hint"_s + sender->objectName();
    else if (const auto *label = qobject_cast<QLabel *>(sender); label && HasLinkStyle(label))
        key = u"HintGotoLink"_s;
    const QString text = key.isEmpty() ? QString() : m_lang->Strings.value(key);
    if (!text.isEmpty())
        m_statusHint->setText(text);
}

void TkvFormMain::ResetStatusHint(QObject *)
{
    m_statusHint->setText(config::StatusTextIdle.toString());
}

void TkvFormMain::setStatusText(const QString &text)
{
    m_statusHint->setText(text);
}

QString TkvFormMain::statusText() const
{
    return m_statusHint->text();
}

void TkvFormMain::DisplayMessage(const QString &text)
{
    messageForm().DisplayMessage(text);
}

bool TkvFormMain::DisplayConfirmation(const QString &text)
{
    return messageForm().DisplayConfirmation(text);
}

QString TkvFormMain::GetSaveFileName(const QString &defaultName, const QString &filter)
{
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!filter.isEmpty())
        dialog.setNameFilter(filter);
    dialog.selectFile(defaultName);
    if (ExecDialog(dialog, m_dialogHook) != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}

void TkvFormMain::DisplayFrame(QWidget *frame)
{
    if (!frame || !frame->isHidden())
        return;
    // The others go first: showing the frame moves the focus into it, and its
    // entry may take a while (a registry scan) with both pages on screen.
    QWidget *shown = nullptr;
    for (QWidget *candidate : std::as_const(FrameList)) {
        if (candidate->objectName() == frame->objectName())
            shown = candidate;
        else
            candidate->hide();
    }
    if (shown) {
        shown->show();
        shown->setFocus(Qt::OtherFocusReason);
    }
}

void TkvFormMain::BringToFront()
{
    // Out of the task bar if minimised, keeping a maximised state.
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TkvFormMain::LaunchProgram()
{
    DisplayFrame(FrameList.at(0));
}

QString TkvFormMain::WindowsComponentsCommand(const TOSCheck &osCheck, const RegistryStore &registry)
{
    if (osCheck.GetOSVersion() == osWinVista)
        return config::ComponentsProgramVista.toString();
    // The managed Windows' own folder; this machine's environment knows it
    // only when the program runs inside that Windows.
    QString windir;
    if (const auto root = registry.value(config::KeyWindowsNtVersion.toString(), u"SystemRoot"_s);
        root && root->isText())
        windir = root->text();
    if (windir.isEmpty())
        windir = qEnvironmentVariable("windir");
    return config::ComponentsProgram.toString() + windir + config::ComponentsInf.toString();
}

RunContext TkvFormMain::runContext()
{
    RunContext context;
    context.runner = m_runner ? m_runner : &m_target.runner();
    context.processEvents = [] { QCoreApplication::processEvents(); };
    context.setMainWindowEnabled = [this](bool enabled) {
        setEnabled(enabled);
        // Back to the front; the window's own focus widget takes the keys again.
        if (enabled) {
            if (m_waitNotice)
                m_waitNotice->finish();
            activateWindow();
        }
    };
    context.keepWaitingForOthers = [this] {
        if (!m_waitNotice)
            m_waitNotice = new TkvWaitNotice(*m_lang, this);
        m_waitNotice->showWaiting(ReplaceText(u"%PATH%"_s, QDir::toNativeSeparators(m_target.description()),
                                              m_lang->Strings.value(u"StatusServerWaiting"_s)));
        return !m_waitNotice->stopRequested();
    };
    context.openFolder = [](const QString &hostFolder) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(hostFolder));
    };
    return context;
}

void TkvFormMain::LaunchWindowsComponents()
{
    // A components program that cannot start shows nothing.
    RunCommand(WindowsComponentsCommand(m_osCheck, *m_target.registry()), true, runContext());
}

void TkvFormMain::LaunchSettings()
{
    DisplayFrame(FrameList.at(1));
}

void TkvFormMain::LaunchAbout()
{
    if (m_about)
        m_about->ShowModal();
}

void TkvFormMain::QuitApplication()
{
    close();
}

bool TkvFormMain::event(QEvent *event)
{
    // Only the first activation shows the program list: coming back from a
    // dialog or another application leaves the frame that was showing.
    if (event->type() == QEvent::WindowActivate && !m_activated) {
        m_activated = true;
        DisplayFrame(FrameList.at(0));
        // Said once the window is up, not before any window shows.
        if (!m_settingsProblem.isEmpty())
            QMetaObject::invokeMethod(this, [this] { reportSettingsProblem(u"ErrorSettingsRead"_s, m_settingsProblem); },
                                      Qt::QueuedConnection);
    }
    return QMainWindow::event(event);
}

bool TkvFormMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Enter)
        DisplayStatusHint(watched);
    else if (event->type() == QEvent::Leave)
        ResetStatusHint(watched);
    return QMainWindow::eventFilter(watched, event);
}

void TkvFormMain::reportSettingsProblem(const QString &key, const QString &reason)
{
    if (!m_message)
        return;
    DisplayMessage(ReplaceText(u"%ERROR%"_s, reason, m_lang->Strings.value(key)));
}

QList<QRect> TkvFormMain::availableScreenAreas()
{
    QList<QRect> areas;
    for (const QScreen *screen : QGuiApplication::screens())
        areas.append(screen->availableGeometry());
    return areas;
}

void TkvFormMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_placeOnShow) {
        m_placeOnShow = false;
        const QRect outer = frameGeometry();
        const QRect placed =
            PlaceOnScreens(outer, availableScreenAreas(), style()->pixelMetric(QStyle::PM_TitleBarHeight));
        if (placed != outer) {
            resize(size() - (outer.size() - placed.size()));
            move(placed.topLeft());
        }
    }
    if (m_centreOnShow) {
        m_centreOnShow = false;
        if (const QScreen *desktop = screen()) {
            QRect outer = frameGeometry();
            outer.moveCenter(desktop->availableGeometry().center());
            move(outer.topLeft());
        }
    }
}

void TkvFormMain::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    if (PendingMaximize && m_settings->Maximized && !isMaximized()) {
        PendingMaximize = false;
        // Not from inside the paint itself: the new size repaints the window.
        QMetaObject::invokeMethod(
            this, [this] { setWindowState(windowState() | Qt::WindowMaximized); }, Qt::QueuedConnection);
    }
}

void TkvFormMain::closeEvent(QCloseEvent *event)
{
    const TWindowState state{isMaximized(), y(), x(), width(), height()};
    // A failed save never keeps the program open, but it is said.
    if (!m_settings->Save(state))
        reportSettingsProblem(u"ErrorSettingsWrite"_s, m_settings->LastError);
    event->accept();
}

} // namespace kelvane
