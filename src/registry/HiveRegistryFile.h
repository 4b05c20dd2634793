// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "RegistryStore.h"
#include "host/FileStamp.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <memory>

struct hive_h;

namespace kelvane {

// The SOFTWARE hive of an offline Windows installation (a file in the
// Windows registry's own binary format, read and written through hivex) as
// the HKEY_LOCAL_MACHINE of a RegistryStore: the store path "SOFTWARE\x" is
// the hive's "x"; HKLM holds no other key.
//
// hivex reads the bytes Kelvane has checked (a regular file, the "regf"
// signature), never the file itself. Edits change the hive in memory; save()
// writes it whole to a temporary file beside the hive, flushes it and
// renames it over the hive, keeping its mode. The first save of a run first
// copies the original hive into RegistryBackup::defaultFolder().
//
// A hive whose base block's two sequence numbers differ was not written to
// the end: its .LOG1/.LOG2 files hold newer data that Windows would replay.
// Such a hive is read as it is and every write is refused.
//
// Reading fills a cache of subkey names: one object must not be read from
// two threads at once.
class HiveRegistryFile : public RegistryStore
{
public:
    // Reads the file; throws Error naming it when it is unreadable or not a hive.
    static std::unique_ptr<HiveRegistryFile> open(const QString &path);
    // A hive from bytes without a file behind them (tests, fuzzing): save()
    // and reload() then throw. nameForMessages names the data in errors.
    static std::unique_ptr<HiveRegistryFile> fromBytes(const QByteArray &bytes, const QString &nameForMessages);
    // Whether `bytes` start like a hive file ("regf").
    static bool looksLikeHive(const QByteArray &bytes);

    ~HiveRegistryFile() override;
    HiveRegistryFile(const HiveRegistryFile &) = delete;
    HiveRegistryFile &operator=(const HiveRegistryFile &) = delete;

    // Whether the hive's log files hold newer data (see above).
    bool mayBeOutOfDate() const override { return m_dirty; }
    QString location() const override;
    bool keyExists(const QString &path) const override;
    QStringList subkeyNames(const QString &path) const override;
    std::optional<RegistryValue> value(const QString &path, const QString &name) const override;
    QList<RegistryValue> values(const QString &path) const override;
    void createKey(const QString &path) override;
    void setValue(const QString &path, const RegistryValue &value) override;
    void deleteTree(const QString &path) override;
    void checkWritable() const override;
    void save() override;
    bool changedOnDisk() const override;
    void reload() override;

private:
    using Node = size_t; // hivex's node handle; 0 is none

    HiveRegistryFile() = default;
    // Checks the base block, then has hivex read the file open as `openName`.
    void load(const QByteArray &head, qint64 size, const QByteArray &openName,
              const std::function<QByteArray(qint64, qint64)> &read);
    // Throws, in words, when hivex cannot rewrite the key's values as they
    // are (or, for a subtree, delete it whole).
    void ensureRewritable(Node node, const QString &path, int depth) const;
    void ensureSubtreeRewritable(Node node, const QString &path, int depth) const;
    // The hive node of a store path; 0 when there is none (HKLM itself has none).
    Node find(const QString &path) const;
    Node child(Node parent, const QString &name) const;
    QString nodeName(Node node) const;
    // Throws for a failed hivex call, with errno's reason, the file and the key.
    [[noreturn]] void fail(const QString &what, const QString &keyPath) const;
    void changed();
    Error changedError() const;
    void backUpWholeHive() const;

    struct HiveCloser
    {
        void operator()(hive_h *hive) const;
    };
    std::unique_ptr<hive_h, HiveCloser> m_hive;
    QString m_path; // empty for a hive from bytes
    QString m_name;
    bool m_dirty = false;
    quint32 m_minorVersion = 0;
    bool m_modified = false;
    mutable bool m_backedUp = false;
    // What reading has looked up; emptied by every edit: the subkeys of
    // nodes by lowercased name, their values by name and nodes by path as
    // they were spelt.
    mutable QHash<Node, QHash<QString, Node>> m_children;
    mutable QHash<Node, QHash<QString, size_t>> m_valueIndex;
    mutable QHash<QString, Node> m_nodeByPath;
    FileStamp m_stamp;
};

} // namespace kelvane
