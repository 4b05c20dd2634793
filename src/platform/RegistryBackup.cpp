#include "RegistryBackup.h"

#include "Error.h"
#include "RegeditExport.h"
#include "settings/kvConfig.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// Names tried before giving up: "<name>.reg", "<name> (2).reg", ...
constexpr int MaxNameTries = 1000;

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Makes the folder and any missing parent private to the user: a backup
// holds whatever the registry held. Returns why not, or an empty text.
QString makeFolder(const QString &folder)
{
    const QString absolute = QDir::cleanPath(QDir(folder).absolutePath());
    qsizetype next = 1; // past the leading '/'
    for (;;) {
        const qsizetype cut = absolute.indexOf(u'/', next);
        const QString part = cut < 0 ? absolute : absolute.left(cut);
        if (::mkdir(QFile::encodeName(part).constData(), 0700) != 0 && errno != EEXIST)
            return u"%1 cannot be made (%2)"_s.arg(QDir::toNativeSeparators(part), systemReason(errno));
        if (cut < 0)
            break;
        next = cut + 1;
    }
    struct stat st {};
    if (::stat(QFile::encodeName(absolute).constData(), &st) != 0)
        return systemReason(errno);
    if (!S_ISDIR(st.st_mode))
        return u"%1 is not a folder"_s.arg(QDir::toNativeSeparators(absolute));
    return {};
}

// Takes a name no file has: creating it exclusively reserves it, so that
// neither the save nor another program overwrites an earlier backup.
QString reserveFile(const QString &folder, const QString &name, QString &reason)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    for (int n = 1; n <= MaxNameTries; ++n) {
        const QString candidate = n == 1 ? name : name.left(dot) + u" (%1)"_s.arg(n) + name.mid(dot);
        const QString path = folder + u'/' + candidate;
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        if (errno != EEXIST) {
            reason = systemReason(errno);
            return {};
        }
    }
    reason = u"%1 names are taken"_s.arg(MaxNameTries);
    return {};
}

// Whether a file name may hold the character (or surrogate pair) ucs4.
bool safeInName(char32_t ucs4)
{
    static constexpr QStringView refused = u"/\\:*?\"<>|";
    if (ucs4 < 0x10000 && refused.contains(QChar(char16_t(ucs4))))
        return false;
    // Controls, format marks (a right-to-left override would disguise the
    // name), lone surrogates, unassigned and line separators.
    return ucs4 == U' ' || QChar::isPrint(ucs4);
}

} // namespace

QString RegistryBackup::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u'/' + config::DataFolder
           + u'/' + config::BackupFolder;
}

RegistryBackup::RegistryBackup(QString folder)
    : m_folder(std::move(folder))
{
}

QString RegistryBackup::fileName(const QString &keyPath, const QDateTime &when)
{
    const QStringView key =
        keyPath.isEmpty() ? config::RegeditRootKey : QStringView(keyPath).mid(keyPath.lastIndexOf(u'\\') + 1);
    QString name;
    for (qsizetype i = 0; i < key.size();) {
        char32_t ucs4 = key[i].unicode();
        qsizetype units = 1;
        if (key[i].isHighSurrogate() && i + 1 < key.size() && key[i + 1].isLowSurrogate()) {
            ucs4 = QChar::surrogateToUcs4(key[i], key[i + 1]);
            units = 2;
        }
        if (name.size() + units > config::BackupNameLength)
            break;
        if (safeInName(ucs4))
            name += key.mid(i, units);
        else
            name += u'_';
        i += units;
    }
    return when.toString(config::BackupDateFormat.toString()) + u' ' + name + config::BackupExtension;
}

QString RegistryBackup::write(const RegistryStore &store, const QString &path, const QDateTime &when) const
{
    const QString shownFolder = QDir::toNativeSeparators(m_folder);
    auto failure = [&](QString reason) {
        while (reason.endsWith(u'.'))
            reason.chop(1);
        return Error(u"The backup of %1\\%2 could not be written to the folder %3: %4. Nothing was changed; "
                     "make room there or make the folder writable, and try again."_s.arg(config::RegeditRootKey,
                                                                                         path, shownFolder, reason),
                     ErrorKind::BackupFailed, m_folder);
    };
    if (const QString problem = makeFolder(m_folder); !problem.isEmpty())
        throw failure(problem);
    QString reason;
    const QString target = reserveFile(m_folder, fileName(path, when), reason);
    if (target.isEmpty())
        throw failure(reason);
    QSaveFile file(target);
    try {
        if (!file.open(QIODevice::WriteOnly))
            throw Error(file.errorString());
        writeRegeditExport(file, store, path);
        if (!file.commit())
            throw Error(file.errorString());
    } catch (const Error &error) {
        file.cancelWriting();
        QFile::remove(target);
        throw failure(error.message());
    }
    return target;
}

} // namespace kelvane
