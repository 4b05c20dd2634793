// SPDX-License-Identifier: GPL-3.0-or-later
#include "BackupFile.h"

#include "Error.h"
#include "FileStamp.h"
#include "SavedFile.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// Names tried before giving up: "<name>", "<name> (2)", ...
constexpr int MaxNameTries = 1000;
// The hidden name a backup has while it is written.
constexpr char PartialPrefix[] = ".kelvane-partial-";

// Makes the folder and any missing parent private to the user: a backup
// holds whatever the registry held.
void makeFolder(const QString &folder)
{
    const QString absolute = QDir::cleanPath(QDir(folder).absolutePath());
    qsizetype next = 1; // past the leading '/'
    for (;;) {
        const qsizetype cut = absolute.indexOf(u'/', next);
        const QString part = cut < 0 ? absolute : absolute.left(cut);
        if (::mkdir(QFile::encodeName(part).constData(), 0700) != 0 && errno != EEXIST)
            throw systemError(u"%1 cannot be made"_s.arg(QDir::toNativeSeparators(part)), errno);
        if (cut < 0)
            break;
        next = cut + 1;
    }
    struct stat st {};
    if (::stat(QFile::encodeName(absolute).constData(), &st) != 0)
        throw systemError(u"%1 cannot be examined"_s.arg(QDir::toNativeSeparators(absolute)), errno);
    if (!S_ISDIR(st.st_mode))
        throw Error(u"%1 is not a folder"_s.arg(QDir::toNativeSeparators(absolute)));
}

} // namespace

QString writeBackupFile(const QString &folder, const QString &name,
                        const std::function<void(const BackupSink &sink)> &produce)
{
    makeFolder(folder);
    for (const QString &leftover : QDir(folder).entryList({QString::fromLatin1(PartialPrefix) + u'*'},
                                                          QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(folder + u'/' + leftover);

    QByteArray temp = QFile::encodeName(folder + u'/') + PartialPrefix + "XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC); // mode 0600
    if (fd < 0)
        throw systemError(u"a file cannot be made in %1"_s.arg(QDir::toNativeSeparators(folder)), errno);
    bool open = true;
    const auto discard = [&] {
        if (open)
            ::close(fd);
        ::unlink(temp.constData());
    };
    try {
        qint64 written = 0;
        produce([&](const char *data, qint64 size) {
            writeWhole(fd, data, size, u"the backup"_s);
            written += size;
        });
        flushData(fd, u"the backup"_s);
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            throw systemError(u"the backup cannot be examined"_s, errno);
        if (st.st_size != written)
            throw Error(u"the backup holds %1 of its %2 bytes"_s.arg(st.st_size).arg(written));
        open = false;
        closeWritten(fd, u"the backup"_s);
        const qsizetype dot = name.lastIndexOf(u'.');
        for (int n = 1; n <= MaxNameTries; ++n) {
            const QString candidate = n == 1 ? name : name.left(dot) + u" (%1)"_s.arg(n) + name.mid(dot);
            const QString path = folder + u'/' + candidate;
            if (!renameFile(temp, QFile::encodeName(path), false))
                continue;
            try {
                flushFolder(folder);
            } catch (const Error &) {
                // Named, but the name may not survive a crash: no backup to count on.
                ::unlink(QFile::encodeName(path).constData());
                throw;
            }
            return path;
        }
        throw Error(u"%1 names are taken"_s.arg(MaxNameTries));
    } catch (...) {
        discard();
        throw;
    }
}

} // namespace kelvane
