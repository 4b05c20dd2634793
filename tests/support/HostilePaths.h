// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Paths that every reader of host files (settings, language files, icons,
// registries) must refuse at once: without waiting for a writer, without
// reading a device that never ends, and with the same answer as for a file
// it cannot use. Header-only, so a test can include it by its relative path
// without linking the support library.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvane::test {

enum class Hostile {
    Fifo,          // a named pipe without a writer: a blocking open never returns
    LinkToDevZero, // a symbolic link to /dev/zero: a read never ends
    Folder,        // a folder where the file should be
    Missing,       // nothing at all
    NotUtf8Name,   // a good file whose name is not UTF-8
};

inline QList<Hostile> hostileKinds()
{
    return {Hostile::Fifo, Hostile::LinkToDevZero, Hostile::Folder, Hostile::Missing, Hostile::NotUtf8Name};
}

inline const char *hostileName(Hostile kind)
{
    switch (kind) {
    case Hostile::Fifo:
        return "named pipe";
    case Hostile::LinkToDevZero:
        return "link to /dev/zero";
    case Hostile::Folder:
        return "folder";
    case Hostile::Missing:
        return "missing";
    case Hostile::NotUtf8Name:
        return "name not UTF-8";
    }
    return "?";
}

// Makes `relative` (which may hold folders) inside `folder` as `kind` says and
// returns the path to hand to the reader, as Kelvane would spell it. For
// NotUtf8Name the file is a regular one holding `content`, its name the last
// part of `relative` behind the byte 0xE9 (Latin-1 e acute); the path
// returned is that name decoded, so it holds a replacement character and
// names no file. Empty when the path could not be made.
inline QString makeHostile(Hostile kind, const QString &folder, const QString &relative,
                           const QByteArray &content = {})
{
    using namespace Qt::Literals::StringLiterals;
    namespace fs = std::filesystem;
    std::error_code error;
    if (kind == Hostile::NotUtf8Name) {
        // std::filesystem takes the bytes as they are; QDir would re-encode them.
        fs::path file = fs::path(QFile::encodeName(folder).toStdString()) / QFile::encodeName(relative).toStdString();
        file.replace_filename("\xe9" + file.filename().string());
        fs::create_directories(file.parent_path(), error);
        std::ofstream out(file, std::ios::binary);
        out.write(content.constData(), std::streamsize(content.size()));
        out.close();
        return out ? QFile::decodeName(QByteArray::fromStdString(file.string())) : QString();
    }
    const QString path = folder + u'/' + relative;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return {};
    switch (kind) {
    case Hostile::Fifo:
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
    case Hostile::LinkToDevZero:
        return QFile::link(u"/dev/zero"_s, path) ? path : QString();
    case Hostile::Folder:
        return QDir().mkpath(path) ? path : QString();
    case Hostile::Missing:
    case Hostile::NotUtf8Name:
        break;
    }
    return path;
}

// Whether anything opened a path since the watch began. A reader must refuse
// a pipe or a device by its type alone: opening one can act on it (a
// watchdog device arms, a tape rewinds).
class OpenWatch
{
public:
    explicit OpenWatch(const QString &path)
        : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd >= 0 && ::inotify_add_watch(m_fd, QFile::encodeName(path).constData(), IN_OPEN) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~OpenWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenWatch(const OpenWatch &) = delete;
    OpenWatch &operator=(const OpenWatch &) = delete;

    bool isValid() const { return m_fd >= 0; }
    bool opened() const
    {
        char events[4096];
        return ::read(m_fd, events, sizeof events) > 0;
    }

private:
    int m_fd;
};

// A temporary folder that removes itself whatever names it holds:
// QTemporaryDir cannot spell a name that is not UTF-8, and would leave it.
class ScratchFolder
{
public:
    ScratchFolder() { m_dir.setAutoRemove(false); }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (m_dir.isValid())
            std::filesystem::remove_all(QFile::encodeName(m_dir.path()).toStdString(), ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

} // namespace kelvane::test
