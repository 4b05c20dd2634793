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

    // The host folder of a drive letter, or empty when the target has no such
    // drive. Wine prefixes use their dosdevices links (C: falls back to
    // drive_c); the sample only has C:, its drive_c folder.
    QString driveRoot(QChar letter) const;

    // The host path of an absolute Windows path ("C:\\Program Files\\x"), or
    // empty when its drive is not mapped or the path is not absolute on a
    // drive. Names match case-insensitively like Windows' do; "." and ".."
    // are resolved and never climb above the drive's root. Like driveRoot it
    // keeps no cache and only reads the file system, so a worker thread may
    // call it on its own copy or on a const Target nobody changes meanwhile.
    QString hostPath(const QString &windowsPath) const;

private:
    Target(Kind kind, QString description, QString driveFolder, std::shared_ptr<RegistryStore> registry);
    static std::unique_ptr<Target> openSample(const QString &sampleSource);

    Kind m_kind;
    QString m_description;
    QString m_driveFolder; // the prefix (or sample) folder holding dosdevices and drive_c
    std::shared_ptr<RegistryStore> m_registry;
};

} // namespace kelvane
