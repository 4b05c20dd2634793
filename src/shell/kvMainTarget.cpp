// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's choice of the registry it manages: the list of the
// prefixes found here, a registry picked by hand, and a second start that
// names another one.
#include "kvUnitMain.h"

#include "kvTargetChooser.h"
#include "common/kvCommon.h"
#include "config/kvConfig.h"
#include "host/Error.h"
#include "inventory/PrefixDiscovery.h"
#include "language/kvLanguage.h"
#include "settings/kvSettings.h"
#include "target/kvOSCheck.h"
#include "target/Target.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

void TkvFormMain::ChooseTarget()
{
    const PrefixSearch search = findPrefixes(QDir::homePath(), QProcessEnvironment::systemEnvironment());
    TkvFormTargets list(*m_lang, search.prefixes, m_target.description(), this);
    QString path;
    if (ExecDialog(list, m_dialogHook) == QDialog::Accepted) {
        path = list.chosenPath();
    } else if (list.otherRequested()) {
        // The registry file itself: a prefix's system.reg, a SOFTWARE hive
        // (of a mounted Windows or on its own), or a registry file elsewhere.
        QFileDialog file(this, list.windowTitle(), QDir::homePath());
        file.setFileMode(QFileDialog::ExistingFile);
        if (ExecDialog(file, m_dialogHook) != QDialog::Accepted || file.selectedFiles().isEmpty())
            return;
        path = Target::placeOfRegistryFile(file.selectedFiles().constFirst());
    }
    if (!path.isEmpty())
        SwitchTarget(path);
}

bool TkvFormMain::SwitchTarget(const QString &path)
{
    std::unique_ptr<Target> chosen;
    try {
        chosen = Target::open(path);
        const TOSCheck osCheck(*chosen->registry());
        if (TSystemSupport(osCheck, *chosen->registry()).Compatibility() == ocUnsupported)
            throw Error(u"%1 manages no %2 registry."_s.arg(OwnVersionValue(u"ProductName"_s), osCheck.GetOSName()));
    } catch (const Error &error) {
        DisplayMessage(ReplaceText(u"%ERROR%"_s, error.message(),
                                   ReplaceText(u"%PATH%"_s, QDir::toNativeSeparators(path),
                                               m_lang->Strings.value(u"ErrorTargetRefused"_s))));
        return false;
    }
    if (!m_switchTarget)
        return false;
    // Remembered for the next start; saved as the window closes.
    m_settings->Target = QFileInfo(path).absoluteFilePath();
    m_switchTarget(std::move(chosen));
    close();
    return true;
}

namespace {

// The registry a path names as a target, to compare two: a prefix, its
// system.reg; a partition, its SOFTWARE hive.
QString placeOf(const QString &path)
{
    QString place = QFileInfo(path).isFile() ? Target::placeOfRegistryFile(path) : path;
    if (QFileInfo(place).isDir() && QFileInfo::exists(place + u'/' + config::WineSystemRegistry))
        place += u'/' + config::WineSystemRegistry;
    return QFileInfo(place).canonicalFilePath();
}

} // namespace

void TkvFormMain::OfferTarget(const QString &path)
{
    if (path.isEmpty() || placeOf(path) == placeOf(m_target.description()))
        return;
    // Never over a question or a wait: its answer must stay its own.
    if (QApplication::activeModalWidget() || !isEnabled()) {
        QTimer::singleShot(config::TargetOfferRetry, this, [this, path] { OfferTarget(path); });
        return;
    }
    const QString question = ReplaceText(u"%CURRENT_PATH%"_s, QDir::toNativeSeparators(m_target.description()),
                                         ReplaceText(u"%PATH%"_s, QDir::toNativeSeparators(path),
                                                     m_lang->Strings.value(u"ConfirmSwitchTarget"_s)));
    if (DisplayConfirmation(question))
        SwitchTarget(path);
}

} // namespace kelvane
