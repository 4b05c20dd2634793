// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvStartup.h"

#include "kvInstance.h"
#include "kvUnitAbout.h"
#include "kvUnitMessage.h"
#include "common/kvCommon.h"
#include "config/kvConfig.h"
#include "host/Error.h"
#include "language/kvLanguage.h"
#include "settings/kvSettings.h"
#include "target/kvOSCheck.h"
#include "target/kvSystemSupport.h"
#include "target/Target.h"

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>

#include <memory>

using namespace Qt::Literals::StringLiterals;

// The resources of a static library are registered by hand, at global scope.
static void registerApplicationIcon()
{
    Q_INIT_RESOURCE(kvApplicationIcon);
}

namespace kelvane {

namespace {

// The toolkit's plain message box: one OK button, plain text.
void showBox(QMessageBox::Icon icon, const QString &title, const QString &text, const DialogHook &hook)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    ExecDialog(box, hook);
}

} // namespace

QIcon ApplicationIcon()
{
    registerApplicationIcon();
    QIcon icon;
    for (int size : config::ApplicationIconSizes)
        icon.addFile(u":/application/%1.png"_s.arg(size), QSize(size, size));
    return icon;
}

QString UnsupportedSystemMessage(const QString &title, const QString &osName)
{
    return title + u" has detected that your operating system is not supported.\n\rOperating system: "_s + osName;
}

int RunKelvane(const TkvStartupOptions &options)
{
    const QString title = OwnVersionValue(u"ProductName"_s);
    QCoreApplication::setApplicationName(title);
    QApplication::setFont(ShellFont());
    // Every window's icon, and the launcher the desktop matches the windows to.
    QApplication::setWindowIcon(ApplicationIcon());
    QGuiApplication::setDesktopFileName(config::ApplicationId.toString());

    // The registry chosen in the program last, unless the environment names one.
    TSettings remembered;
    remembered.Load(DefaultSettingsPath());
    std::unique_ptr<Target> target;
    try {
        target = Target::fromEnvironment(options.environment,
                                         options.sampleSource.isEmpty() ? GetSampleFolder()
                                                                        : options.sampleSource,
                                         remembered.Target);
    } catch (const Error &error) {
        showBox(QMessageBox::Critical, title,
                title + u" cannot use the Windows registry it was given.\n\n"_s + error.message(),
                options.messageBoxHook);
        return ExitCannotStart;
    }
    const TOSCheck firstCheck(*target->registry());
    if (TSystemSupport(firstCheck, *target->registry()).Compatibility() == ocUnsupported) {
        // No language is loaded yet: the refusal is fixed English.
        showBox(QMessageBox::NoIcon, title, UnsupportedSystemMessage(title, firstCheck.GetOSName()),
                options.messageBoxHook);
        return ExitDone;
    }

    TkvInstance instance(title);
    try {
        // A registry the environment names is offered to the running window.
        // Absolute: the running one has a working folder of its own.
        const QString named = Target::namedByEnvironment(options.environment);
        if (instance.handOverToRunning(named.isEmpty() ? QString() : QFileInfo(named).absoluteFilePath()))
            return ExitDone;
    } catch (const Error &error) {
        showBox(QMessageBox::Critical, title, error.message(), options.messageBoxHook);
        return ExitCannotStart;
    }

    // One window per target: switching closes it and opens the next.
    for (;;) {
        const TOSCheck osCheck(*target->registry());
        std::unique_ptr<Target> next;
        std::unique_ptr<TkvFormMain> main;
        try {
            main = std::make_unique<TkvFormMain>(*target, osCheck, options.programFrame, options.settingsFrame);
            // In this order: both dialogs take the catalogue the main window loaded.
            auto *message = new TkvFormMessage(main->lang(), main.get());
            auto *about = new TkvFormAbout(main->lang(), TkvAboutInfo::fromConfig(), main.get());
            main->setForms(message, about);
        } catch (const Error &error) {
            main.reset();
            showBox(QMessageBox::Critical, title, error.message(), options.messageBoxHook);
            return ExitCannotStart;
        }
        main->setTargetSwitcher([&next](std::unique_ptr<Target> chosen) { next = std::move(chosen); });
        if (options.windowHook)
            options.windowHook(*main);
        QObject::connect(&instance, &TkvInstance::showRequested, main.get(), [window = main.get()](const QString &path) {
            window->BringToFront();
            window->OfferTarget(path);
        });
        main->show();
        QApplication::exec();
        main.reset(); // before the target it refers to
        if (!next)
            return ExitDone;
        target = std::move(next);
    }
}

} // namespace kelvane
