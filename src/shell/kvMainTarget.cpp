// The main window's choice of the registry it manages: the list of the
// prefixes found here, a registry picked by hand, and a second start that
// names another one.
#include "kvUnitMain.h"

#include "common/kvCommon.h"
#include "inventory/PrefixDiscovery.h"
#include "kvStartup.h"
#include "kvTargetChooser.h"
#include "language/kvLanguage.h"
#include "platform/Error.h"
#include "platform/Target.h"
#include "platform/kvOSCheck.h"
#include "settings/kvSettings.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcessEnvironment>

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
            throw Error(UnsupportedSystemMessage(OwnVersionValue(u"ProductName"_s), osCheck.GetOSName()));
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

void TkvFormMain::OfferTarget(const QString &path)
{
    if (path.isEmpty() || QFileInfo(path).canonicalFilePath() == QFileInfo(m_target.description()).canonicalFilePath())
        return;
    const QString question = ReplaceText(u"%CURRENT_PATH%"_s, QDir::toNativeSeparators(m_target.description()),
                                         ReplaceText(u"%PATH%"_s, QDir::toNativeSeparators(path),
                                                     m_lang->Strings.value(u"ConfirmSwitchTarget"_s)));
    if (DisplayConfirmation(question))
        SwitchTarget(path);
}

} // namespace kelvane
