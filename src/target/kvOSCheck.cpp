// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvOSCheck.h"

#include "config/kvConfig.h"
#include "registry/RegistryStore.h"

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// "5.1" or "4.10.2222": the first two dot-separated numbers, when both parse.
bool parseVersion(const QString &text, quint32 &major, quint32 &minor)
{
    const QStringList parts = text.trimmed().split(u'.');
    if (parts.size() < 2)
        return false;
    bool okMajor = false;
    bool okMinor = false;
    const uint ma = parts.at(0).toUInt(&okMajor);
    const uint mi = parts.at(1).toUInt(&okMinor);
    if (!okMajor || !okMinor)
        return false;
    major = ma;
    minor = mi;
    return true;
}

} // namespace

TOSCheck::TOSCheck(const RegistryStore &store, QObject *parent)
    : QObject(parent)
{
    const QString nt = config::KeyWindowsNtVersion.toString();
    const auto current = store.value(nt, u"CurrentVersion"_s);
    quint32 major = 0;
    quint32 minor = 0;
    if (current && current->isText() && parseVersion(current->text(), major, minor)) {
        // Windows 10 and later freeze CurrentVersion at 6.3; these dwords tell the truth.
        const auto majorDword = store.value(nt, u"CurrentMajorVersionNumber"_s);
        const auto minorDword = store.value(nt, u"CurrentMinorVersionNumber"_s);
        if (majorDword && majorDword->type == RegDword && majorDword->dword()
            && minorDword && minorDword->type == RegDword && minorDword->dword()) {
            major = *majorDword->dword();
            minor = *minorDword->dword();
        }
        m_platform = 2;
        m_major = major;
        m_minor = minor;
        return;
    }
    const auto nine = store.value(config::KeyWindowsVersion.toString(), u"VersionNumber"_s);
    if (nine && nine->isText() && parseVersion(nine->text(), major, minor)) {
        m_platform = 1;
        m_major = major;
        m_minor = minor;
    }
}

TOSVersion TOSCheck::classify(quint32 platform, quint32 major, quint32 minor)
{
    if (platform == 1) {
        if (major != 4)
            return osUnknown;
        switch (minor) {
        case 0: return osWin95;
        case 10: return osWin98;
        case 90: return osWinMe;
        default: return osUnknown;
        }
    }
    if (platform == 2) {
        if (major == 5) {
            switch (minor) {
            case 0: return osWin2000;
            case 1: return osWinXP;
            case 2: return osWin2003;
            default: return osUnknown;
            }
        }
        if (major == 6)
            return minor == 0 ? osWinVista : osUnknown;
    }
    return osUnknown;
}

TOSCompatibility TOSCheck::compatibility(TOSVersion version)
{
    if (version >= osWin2000 && version <= osWin2003)
        return ocSupported;
    if (version == osWinVista)
        return ocPartial;
    return ocUnsupported;
}

TOSVersion TOSCheck::GetOSVersion() const
{
    return classify(m_platform, m_major, m_minor);
}

TOSCompatibility TOSCheck::GetCompatibility() const
{
    return compatibility(GetOSVersion());
}

QString TOSCheck::nameOf(TOSVersion version)
{
    switch (version) {
    case osUnknown: return u"Unknwon Win32 OS"_s;
    case osWin95: return u"Microsoft Windows 95"_s;
    case osWin98: return u"Microsoft Windows 98"_s;
    case osWinMe: return u"Microsoft Windows Me"_s;
    case osWin2000: return u"Microsoft Windows 2000"_s;
    case osWinXP: return u"Microsoft Windows XP"_s;
    case osWin2003: return u"Microsoft Windows Server 2003"_s;
    case osWinVista: return u"Microsoft Windows Vista"_s;
    }
    return {};
}

void TOSCheck::GetOSName(QString &name) const
{
    if (const QString known = nameOf(GetOSVersion()); !known.isEmpty())
        name = known;
}

QString TOSCheck::GetOSName() const
{
    QString name;
    GetOSName(name);
    return name;
}

} // namespace kelvane
