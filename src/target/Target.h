// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "registry/RegistryStore.h"

#include <QProcessEnvironment>
#include <QString>

#include <memory>

namespace kelvane {

class CommandRunner;

// How a target's Windows paths map to host paths through its drive letters.
// A plain value, so that a worker thread can keep its own copy.
class DriveMap
{
public:
    enum class Layout {
        Prefix,        // driveFolder holds the dosdevices links and drive_c
        DriveCOnly,    // driveFolder holds drive_c and no other drive
        PartitionRoot, // driveFolder is drive C itself (a mounted Windows partition)
        None,          // no drive at all (a hive file named on its own)
    };
    DriveMap(QString driveFolder, Layout layout);

    QString driveRoot(QChar letter) const;
    QString hostPath(const QString &windowsPath) const;

private:
    QString m_driveFolder;
    Layout m_layout;
};

// The Windows installation Kelvane manages: its HKEY_LOCAL_MACHINE and where
// it lives on this machine.
class Target
{
public:
    enum class Kind {
        WinePrefix,   // a prefix folder holding system.reg
        RegistryFile, // a Wine registry file named directly
        Sample,       // the bundled sample, copied to the user's data folder
        Hive,         // the SOFTWARE hive of an offline Windows, named on its own
        WindowsDisk,  // a mounted Windows partition, through its SOFTWARE hive
    };

    // Opens a prefix folder, a Wine registry file, a Windows partition's root
    // folder or a hive file (recognised by its "regf" signature, whatever its
    // name); throws Error naming the path.
    static std::unique_ptr<Target> open(const QString &path);

    ~Target();
    Target(const Target &) = delete;
    Target &operator=(const Target &) = delete;

    // Chooses the target as every Kelvane program does: KELVANE_REGISTRY,
    // then WINEPREFIX, then `remembered` (the one chosen last in the desktop
    // program) when it can still be opened, then ~/.wine when it holds
    // system.reg, then the bundled sample (sampleSource), copied on first use
    // to the user's data folder so that edits never touch the shipped files.
    static std::unique_ptr<Target> fromEnvironment(const QProcessEnvironment &environment,
                                                   const QString &sampleSource, const QString &remembered = {});
    // Whether the environment names the target (KELVANE_REGISTRY, WINEPREFIX),
    // and which path then; empty when it does not.
    static QString namedByEnvironment(const QProcessEnvironment &environment);

    // What to open for a registry file picked in a file chooser: the prefix
    // of a system.reg that sits in one, the partition of a SOFTWARE hive in
    // its Windows\System32\config folder, else the file itself.
    static QString placeOfRegistryFile(const QString &file);

    Kind kind() const { return m_kind; }
    // The prefix folder or registry file, as shown to the user.
    QString description() const { return m_description; }
    std::shared_ptr<RegistryStore> registry() const { return m_registry; }

    // How this target runs command lines: a Wine prefix through wine; offline
    // targets (the sample, a registry file named on its own) resolve them but
    // never run them.
    CommandRunner &runner() const { return *m_runner; }
    // The folder holding dosdevices and drive_c (for a Wine prefix: WINEPREFIX).
    QString driveFolder() const { return m_driveFolder; }

    // The host folder of a drive letter, or empty when the target has no such
    // drive. Wine prefixes use their dosdevices links (C: falls back to
    // drive_c); the sample only has C:, its drive_c folder.
    QString driveRoot(QChar letter) const { return m_drives.driveRoot(letter); }

    // The host path of an absolute Windows path ("C:\\Program Files\\x"), or
    // empty when its drive is not mapped or the path is not absolute on a
    // drive. Names match case-insensitively like Windows' do; "." and ".."
    // are resolved and never climb above the drive's root. It keeps no cache
    // and only reads the file system, so a worker thread may use its own copy
    // of drives().
    QString hostPath(const QString &windowsPath) const { return m_drives.hostPath(windowsPath); }
    const DriveMap &drives() const { return m_drives; }

private:
    Target(Kind kind, QString description, QString driveFolder, std::shared_ptr<RegistryStore> registry);
    static std::unique_ptr<Target> openSample(const QString &sampleSource);

    Kind m_kind;
    QString m_description;
    QString m_driveFolder; // the prefix (or sample) folder holding dosdevices and drive_c
    DriveMap m_drives;
    std::shared_ptr<RegistryStore> m_registry;
    std::unique_ptr<CommandRunner> m_runner; // refers to this target
};

} // namespace kelvane
