// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kvOSCheck.h"

#include <QString>

namespace kelvane {

class RegistryStore;

// How far Kelvane manages the Windows of its target. The version table of
// TOSCheck decides, with one exception: an NT version newer than the table
// (6.1 and later: Windows 7 to 11, and every default Wine prefix) is managed
// partly, as Vista is. Kelvane reads those registries as data and reads them
// correctly; refusing them would lock out nearly every registry in use today.
class TSystemSupport
{
public:
    struct Verdict
    {
        TOSCompatibility compatibility = ocUnsupported;
        // The name for messages: the table's, or for a newer NT version its
        // own ProductName and version ("Windows 10 Pro (10.0.19045)").
        QString name;
    };

    // `productName` and `build` as the target's registry holds them
    // (ProductName, CurrentBuild); either may be empty.
    static Verdict assess(quint32 platform, quint32 major, quint32 minor, const QString &productName,
                          const QString &build);
    static bool isNewerNt(quint32 platform, quint32 major, quint32 minor);

    // Reads ProductName and the build number from the target's registry.
    TSystemSupport(const TOSCheck &osCheck, const RegistryStore &store);

    TOSCompatibility Compatibility() const { return m_verdict.compatibility; }
    QString Name() const { return m_verdict.name; }

private:
    Verdict m_verdict;
};

} // namespace kelvane
