// SPDX-License-Identifier: GPL-3.0-or-later
#include "Target.h"

#include "TargetRunners.h"
#include "config/kvConfig.h"
#include "host/Error.h"
#include "host/HostFile.h"
#include "registry/HiveRegistryFile.h"
#include "registry/WineRegistryFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

const QString SystemRegistryName = config::WineSystemRegistry.toString();

// The SOFTWARE hive of a Windows partition mounted at `root`, found as
// Windows would, without regard to letter case; empty when there is none.
QString windowsSoftwareHive(const QString &root)
{
    QString folder = root;
    const QStringList names = {u"Windows"_s, u"System32"_s, u"config"_s, u"SOFTWARE"_s};
    for (const QString &name : names) {
        const QStringList entries =
            QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        const auto match = std::find_if(entries.cbegin(), entries.cend(), [&name](const QString &entry) {
            return entry.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (match == entries.cend())
            return {};
        folder += u'/' + *match;
    }
    return QFileInfo(folder).isFile() ? folder : QString();
}

// Copies a folder tree; throws Error naming the file that failed.
void copyTree(const QString &source, const QString &destination)
{
    if (!QDir().mkpath(destination))
        throw Error(u"Cannot create the folder %1"_s.arg(destination));
    QDirIterator it(source, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString target = destination + u'/' + QDir(source).relativeFilePath(info.filePath());
        if (info.isDir()) {
            if (!QDir().mkpath(target))
                throw Error(u"Cannot create the folder %1"_s.arg(target));
        } else if (!QFile::copy(info.filePath(), target)) {
            throw Error(u"Cannot copy %1 to %2"_s.arg(info.filePath(), target));
        } else {
            // Shipped files may be read-only; the user's copy must be editable.
            QFile::setPermissions(target, QFile::permissions(target) | QFile::WriteOwner);
        }
    }
}

} // namespace

Target::Target(Kind kind, QString description, QString driveFolder, std::shared_ptr<RegistryStore> registry)
    : m_kind(kind)
    , m_description(std::move(description))
    , m_driveFolder(std::move(driveFolder))
    , m_drives(m_driveFolder, kind == Kind::Sample        ? DriveMap::Layout::DriveCOnly
                              : kind == Kind::WindowsDisk ? DriveMap::Layout::PartitionRoot
                              : kind == Kind::Hive        ? DriveMap::Layout::None
                                                          : DriveMap::Layout::Prefix)
    , m_registry(std::move(registry))
{
    if (m_kind == Kind::WinePrefix)
        m_runner = std::make_unique<WineRunner>(*this);
    else
        m_runner = std::make_unique<OfflineRunner>(*this);
}

Target::~Target() = default;

std::unique_ptr<Target> Target::open(const QString &path)
{
    if (path.isEmpty())
        throw Error(u"No registry was named: give a Wine prefix folder, a Wine registry file, the root folder of a Windows partition or a registry hive file."_s);
    // A name that is not valid text would be spelt with other bytes and then
    // be said not to exist.
    if (const QString problem = HostFile::nameProblem(path); !problem.isEmpty())
        throw Error(problem);
    const QString shown = QDir::toNativeSeparators(path);
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        throw Error(HostFile::failureMessage(path, u"examine"_s, errno));
    const QFileInfo info(path);
    if (S_ISDIR(status.st_mode)) {
        const QString file = QDir(path).filePath(SystemRegistryName);
        // Only a registry that is not there makes this no prefix; a folder
        // that cannot be searched, or a system.reg that is no regular file,
        // is for the registry's own opening to name.
        struct stat fileStatus {};
        if (::lstat(QFile::encodeName(file).constData(), &fileStatus) != 0 && errno == ENOENT) {
            const QString hive = windowsSoftwareHive(path);
            if (hive.isEmpty())
                throw Error(u"%1 is neither a Wine prefix (it holds no %2) nor a Windows partition (it holds no "
                            "Windows\\System32\\config\\SOFTWARE)"_s.arg(shown, SystemRegistryName));
            std::shared_ptr<RegistryStore> store = HiveRegistryFile::open(hive);
            return std::unique_ptr<Target>(new Target(Kind::WindowsDisk, QDir::cleanPath(hive),
                                                        QDir::cleanPath(info.absoluteFilePath()), store));
        }
        std::shared_ptr<RegistryStore> store = WineRegistryFile::open(file);
        return std::unique_ptr<Target>(new Target(Kind::WinePrefix, QDir::cleanPath(info.absoluteFilePath()),
                                                    QDir::cleanPath(info.absoluteFilePath()), store));
    }
    {
        // Opened without blocking: a named pipe or a device is refused at once.
        const HostFile probe(path);
        if (HiveRegistryFile::looksLikeHive(probe.read(0, 4))) {
            std::shared_ptr<RegistryStore> store = HiveRegistryFile::open(path);
            // Named on its own, a hive has no drives to resolve paths on.
            return std::unique_ptr<Target>(new Target(Kind::Hive, QDir::cleanPath(info.absoluteFilePath()),
                                                        QString(), store));
        }
    }
    std::shared_ptr<RegistryStore> store = WineRegistryFile::open(path);
    return std::unique_ptr<Target>(new Target(Kind::RegistryFile, QDir::cleanPath(info.absoluteFilePath()),
                                                    // A registry file named directly usually sits in its prefix.
                                                    QDir::cleanPath(info.absolutePath()), store));
}

QString Target::namedByEnvironment(const QProcessEnvironment &environment)
{
    const QString named = environment.value(u"KELVANE_REGISTRY"_s);
    return named.isEmpty() ? environment.value(u"WINEPREFIX"_s) : named;
}

QString Target::placeOfRegistryFile(const QString &file)
{
    const QFileInfo info(file);
    const QDir folder = info.absoluteDir();
    if (info.fileName() == SystemRegistryName && folder.exists(u"drive_c"_s))
        return folder.absolutePath();
    // <root>/Windows/System32/config/SOFTWARE, in any letter case.
    const QStringList parts = QDir::cleanPath(info.absoluteFilePath()).split(u'/');
    const QStringList tail{u"windows"_s, u"system32"_s, u"config"_s, u"software"_s};
    if (parts.size() > tail.size()
        && parts.mid(parts.size() - tail.size()).join(u'/').compare(tail.join(u'/'), Qt::CaseInsensitive) == 0)
    {
        const QString root = parts.mid(0, parts.size() - tail.size()).join(u'/');
        return root.isEmpty() ? u"/"_s : root;
    }
    return info.absoluteFilePath();
}

std::unique_ptr<Target> Target::fromEnvironment(const QProcessEnvironment &environment, const QString &sampleSource,
                                                const QString &remembered)
{
    const QString named = namedByEnvironment(environment);
    if (!named.isEmpty())
        return open(named);
    if (!remembered.isEmpty()) {
        try {
            return open(remembered);
        } catch (const Error &) {
            // Gone or broken since it was chosen: the usual places then, and
            // the status bar names the one taken.
        }
    }
    const QString home = environment.value(u"HOME"_s, QDir::homePath());
    const QString defaultPrefix = home + u"/.wine"_s;
    if (QFileInfo::exists(defaultPrefix + u'/' + SystemRegistryName))
        return open(defaultPrefix);
    return openSample(sampleSource);
}

std::unique_ptr<Target> Target::openSample(const QString &sampleSource)
{
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataFolder.isEmpty())
        throw Error(u"No per-user data folder is known to copy the sample registry into"_s);
    const QString copy = dataFolder + u"/Kelvane/sample"_s;
    if (!QFileInfo::exists(copy + u'/' + SystemRegistryName)) {
        if (!QFileInfo::exists(sampleSource + u'/' + SystemRegistryName))
            throw Error(u"No registry found: set KELVANE_REGISTRY or WINEPREFIX (the sample registry %1 is missing)"_s
                            .arg(sampleSource));
        // Copy into a fresh folder and move it in place, so that an
        // interrupted copy never passes for the sample.
        const QString partial = copy + u".partial"_s;
        QDir(partial).removeRecursively();
        copyTree(sampleSource, partial);
        QDir(copy).removeRecursively();
        if (!QDir().rename(partial, copy))
            throw Error(u"Cannot move %1 to %2"_s.arg(partial, copy));
    }
    std::shared_ptr<RegistryStore> store = WineRegistryFile::open(copy + u'/' + SystemRegistryName);
    return std::unique_ptr<Target>(new Target(Kind::Sample, copy, copy, store));
}

DriveMap::DriveMap(QString driveFolder, Layout layout)
    : m_driveFolder(std::move(driveFolder))
    , m_layout(layout)
{
}

QString DriveMap::driveRoot(QChar letter) const
{
    if (!letter.isLetter() || letter.unicode() > 0x7f)
        return {};
    const QChar lower = letter.toLower();
    if (m_layout == Layout::None)
        return {};
    if (m_layout == Layout::PartitionRoot) {
        const QFileInfo root(m_driveFolder);
        return lower == u'c' && root.isDir() ? root.canonicalFilePath() : QString();
    }
    if (m_layout == Layout::Prefix) {
        const QFileInfo link(m_driveFolder + u"/dosdevices/"_s + lower + u':');
        if (link.isDir())
            return link.canonicalFilePath();
    }
    if (lower == u'c') {
        const QFileInfo driveC(m_driveFolder + u"/drive_c"_s);
        if (driveC.isDir())
            return driveC.canonicalFilePath();
    }
    return {};
}

QString DriveMap::hostPath(const QString &windowsPath) const
{
    if (windowsPath.size() < 2 || windowsPath.at(1) != u':')
        return {};
    const QString rest = windowsPath.mid(2);
    if (!rest.isEmpty() && rest.at(0) != u'\\' && rest.at(0) != u'/')
        return {}; // "C:name" is relative to the drive's current folder
    const QString root = driveRoot(windowsPath.at(0));
    if (root.isEmpty())
        return {};

    QStringList parts;
    for (const QString &part : rest.split(QRegularExpression(u"[\\\\/]"_s), Qt::SkipEmptyParts)) {
        if (part == u"."_s)
            continue;
        if (part == u".."_s) {
            if (!parts.isEmpty())
                parts.removeLast();
            continue;
        }
        parts.append(part);
    }

    QString host = root;
    bool existing = true;
    for (const QString &part : std::as_const(parts)) {
        QString name = part;
        if (existing && !QFileInfo::exists(host + u'/' + part)) {
            // Windows names are case-insensitive: take the entry Wine would find.
            const QStringList entries = QDir(host).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden
                                                             | QDir::System);
            const auto match = std::find_if(entries.begin(), entries.end(), [&part](const QString &entry) {
                return entry.compare(part, Qt::CaseInsensitive) == 0;
            });
            if (match != entries.end())
                name = *match;
            else
                existing = false;
        }
        if (!host.endsWith(u'/')) // Wine's Z: is the host's root
            host += u'/';
        host += name;
    }
    return host;
}

} // namespace kelvane
