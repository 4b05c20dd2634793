// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

namespace kelvane {

class RegistryStore;

enum TOSVersion : quint8 {
    osUnknown = 0,
    osWin95 = 1,
    osWin98 = 2,
    osWinMe = 3,
    osWin2000 = 4,
    osWinXP = 5,
    osWin2003 = 6,
    osWinVista = 7,
};

enum TOSCompatibility : quint8 {
    ocSupported = 0,
    ocUnsupported = 1,
    ocPartial = 2,
};

// Classifies the Windows version of the managed registry. The three numbers
// are read once, at construction, from the store; every answer derives from them.
class TOSCheck : public QObject
{
    Q_OBJECT
public:
    explicit TOSCheck(const RegistryStore &store, QObject *parent = nullptr);

    quint32 GetPlatformId() const { return m_platform; }
    quint32 GetMajorVersion() const { return m_major; }
    quint32 GetMinorVersion() const { return m_minor; }
    TOSVersion GetOSVersion() const;
    TOSCompatibility GetCompatibility() const;
    // Writes the name into `name`; a value outside the enumeration leaves it as it was.
    void GetOSName(QString &name) const;
    QString GetOSName() const;

    static TOSVersion classify(quint32 platform, quint32 major, quint32 minor);
    static TOSCompatibility compatibility(TOSVersion version);
    // The name column of the table; empty outside the enumeration.
    static QString nameOf(TOSVersion version);

private:
    quint32 m_platform = 0;
    quint32 m_major = 0;
    quint32 m_minor = 0;
};

} // namespace kelvane
