// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the shell's screenshots (docs/screenshots/shell-*.png) in English and
// Hebrew. Run by hand: shell_screenshots <folder>; not a test.
#include "gui/kvUnitSettings.h"
#include "language/kvLanguage.h"
#include "program/kvUnitProgram.h"
#include "settings/kvSettings.h"
#include "shell/kvStartup.h"
#include "shell/kvUnitAbout.h"
#include "shell/kvUnitMain.h"
#include "shell/kvUnitMessage.h"
#include "target/kvOSCheck.h"
#include "target/Target.h"

#include <QApplication>
#include <QTreeWidget>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

void save(QWidget &widget, const QString &file)
{
    widget.grab().save(file);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        qWarning("usage: shell_screenshots <folder>");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir appdata;
    qputenv("appdata", appdata.path().toUtf8());
    QApplication::setFont(ShellFont());

    const auto target = Target::open(QStringLiteral(KELVANE_SOURCE_DIR "/data/sample"));
    const TOSCheck osCheck(*target->registry());
    const FrameFactory programFrame = [](TkvFrameHost &host, QWidget *parent) -> QWidget * {
        return new TkvFrameProgram(host, parent);
    };
    const FrameFactory settingsFrame = [](TkvFrameHost &host, QWidget *parent) -> QWidget * {
        return new TkvFrameSettings(host, parent);
    };
    TkvFormMain main(*target, osCheck, programFrame, settingsFrame,
                     QStringLiteral(KELVANE_SOURCE_DIR));
    auto *message = new TkvFormMessage(main.lang(), &main);
    auto *about = new TkvFormAbout(main.lang(),
                                   {u"The Kelvane developers"_s, u"https://kelvane.example.org"_s,
                                    u"bugs@kelvane.example.org"_s},
                                   &main);
    main.setForms(message, about);
    main.resize(760, 520);
    main.show();
    if (!QTest::qWaitForWindowActive(&main))
        return 1;

    for (const QString &language : {u"default"_s, u"hebrew"_s}) {
        const QString suffix = language == u"hebrew" ? u"-he"_s : QString();
        main.settings().Language = language;
        main.lang().LoadLanguage(language, true);
        main.lang().ApplyToForm(&main);
        // Entering the page again shows the language now in use.
        // The dialogs of the previous language took the activation away.
        main.activateWindow();
        if (!QTest::qWaitForWindowActive(&main))
            return 1;
        // As a click does: the focus comes from the menu button into the page.
        main.findChild<QWidget *>(u"ButtonMenuSettings"_s)->setFocus();
        main.LaunchSettings();
        main.findChild<QWidget *>(u"ButtonMenuPrograms"_s)->setFocus();
        main.LaunchProgram();
        if (auto *tree = main.findChild<QTreeWidget *>(u"TreeviewProgram"_s); tree && tree->topLevelItemCount() > 3)
            tree->setCurrentItem(tree->topLevelItem(3));
        QCoreApplication::processEvents();
        save(main, folder + u"/shell-programs"_s + suffix + u".png"_s);
        main.findChild<QWidget *>(u"ButtonMenuSettings"_s)->setFocus();
        main.LaunchSettings();
        main.setStatusText(main.lang().Strings.value(u"HintButtonMenuSettings"_s));
        QCoreApplication::processEvents();
        save(main, folder + u"/shell-main"_s + suffix + u".png"_s);

        message->setTestHook([&](QDialog &dialog) {
            save(dialog, folder + u"/shell-message"_s + suffix + u".png"_s);
            dialog.reject();
        });
        main.DisplayMessage(main.lang().Strings.value(u"OSPartiallyCompatible"_s)
                                .replace(u"%OS_NAME%"_s, u"Microsoft Windows Vista"_s));
        message->setTestHook([&](QDialog &dialog) {
            save(dialog, folder + u"/shell-confirmation"_s + suffix + u".png"_s);
            dialog.reject();
        });
        main.DisplayConfirmation(main.lang().Strings.value(u"ConfirmRemoveEntry"_s)
                                     .replace(u"%APPLICATION_NAME%"_s, u"Zeta Suite 4.2"_s));
        about->setTestHook([&](QDialog &dialog) {
            save(dialog, folder + u"/shell-about"_s + suffix + u".png"_s);
            dialog.reject();
        });
        main.LaunchAbout();
    }

    QMessageBox refusal(QMessageBox::NoIcon, u"Kelvane"_s,
                        UnsupportedSystemMessage(u"Kelvane"_s, u"Unknwon Win32 OS"_s), QMessageBox::Ok);
    refusal.setTextFormat(Qt::PlainText);
    ExecDialog(refusal, [&](QDialog &dialog) {
        save(dialog, folder + u"/shell-refusal.png"_s);
        dialog.reject();
    });
    return 0;
}
