#pragma once

#include "RegistryStore.h"

#include <QProcessEnvironment>
#include <QString>

#include <memory>

namespace kelvane {

// The Windows installation Kelvane manages: its HKEY_LOCAL_MACHINE and where
// it lives on this machine.
class Target
{
public:
    enum class Kind {
        WinePrefix,   // a prefix folder holding system.reg
        RegistryFile, // a Wine registry file named directly
        Sample,       // the bundled sample, copied to the user's data folder
    };

    // Opens a prefix folder or a Wine registry file; throws Error naming the path.
    static std::unique_ptr<Target> open(const QString &path);

    // Chooses the target as every Kelvane program does: KELVANE_REGISTRY,
    // then WINEPREFIX, then ~/.wine when it holds system.reg, then the
    // bundled sample (sampleSource), copied on first use to the user's data
    // folder so that edits never touch the shipped files.
    static std::unique_ptr<Target> fromEnvironment(const QProcessEnvironment &environment,
                                                   const QString &sampleSource);

    // The bundled sample folder: beside the installed program, or in the source tree.
    static QString defaultSampleSource();

    Kind kind() const { return m_kind; }
    // The prefix folder or registry file, as shown to the user.
    QString description() const { return m_description; }
    std::shared_ptr<RegistryStore> registry() const { return m_registry; }

private:
    Target(Kind kind, QString description, std::shared_ptr<RegistryStore> registry);
    static std::unique_ptr<Target> openSample(const QString &sampleSource);

    Kind m_kind;
    QString m_description;
    std::shared_ptr<RegistryStore> m_registry;
};

} // namespace kelvane
