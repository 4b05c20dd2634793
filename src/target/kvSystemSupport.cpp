// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvSystemSupport.h"

#include "config/kvConfig.h"
#include "host/kvDisplayText.h"
#include "registry/RegistryStore.h"

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

QString textValue(const RegistryStore &store, const QString &key, const QString &name)
{
    const auto value = store.value(key, name);
    return value && value->isText() ? value->text() : QString();
}

// Windows 11 still writes "Windows 10" into ProductName; its build numbers
// start at 22000.
QString ownName(const QString &productName, quint32 major, quint32 build)
{
    QString name = SingleLine(productName).simplified().left(config::LongestSystemName);
    if (major == 10 && build >= config::FirstWindows11Build)
        name.replace(u"Windows 10"_s, u"Windows 11"_s);
    return name;
}

} // namespace

bool TSystemSupport::isNewerNt(quint32 platform, quint32 major, quint32 minor)
{
    return platform == 2 && (major > 6 || (major == 6 && minor >= 1));
}

TSystemSupport::Verdict TSystemSupport::assess(quint32 platform, quint32 major, quint32 minor,
                                               const QString &productName, const QString &build)
{
    const TOSVersion version = TOSCheck::classify(platform, major, minor);
    Verdict verdict{TOSCheck::compatibility(version), TOSCheck::nameOf(version)};
    if (!isNewerNt(platform, major, minor))
        return verdict;

    verdict.compatibility = ocPartial;
    bool numeric = false;
    const QString buildText = build.trimmed();
    const uint buildNumber = buildText.toUInt(&numeric);
    QString name = ownName(productName, major, numeric ? buildNumber : 0);
    if (name.isEmpty())
        name = verdict.name;
    // Windows' own notation, the same in every language: 10.0.19045.
    QString versionText = u"%1.%2"_s.arg(major).arg(minor);
    if (numeric)
        versionText += u".%1"_s.arg(buildNumber);
    verdict.name = name + u" ("_s + versionText + u')';
    return verdict;
}

TSystemSupport::TSystemSupport(const TOSCheck &osCheck, const RegistryStore &store)
{
    const QString key = config::KeyWindowsNtVersion.toString();
    // CurrentBuild may carry more than the number ("2600.xpsp.080413-2111").
    QString build = textValue(store, key, u"CurrentBuildNumber"_s);
    if (build.trimmed().isEmpty())
        build = textValue(store, key, u"CurrentBuild"_s);
    m_verdict = assess(osCheck.GetPlatformId(), osCheck.GetMajorVersion(), osCheck.GetMinorVersion(),
                       textValue(store, key, u"ProductName"_s), build);
}

} // namespace kelvane
