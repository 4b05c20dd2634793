// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "RegistryStore.h"
#include "host/FileStamp.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <array>
#include <memory>
#include <vector>

class QIODevice;
struct stat;

namespace kelvane {

class Error;

namespace winereg {
enum class CheckData;
}

// A Wine text registry file (system.reg stands for HKLM) as a RegistryStore.
//
// The original bytes are kept. Loading finds the key lines and parses only
// their names; a key's value lines are indexed when the key is first read,
// and a value is decoded from its line each time it is asked for. Only an
// edited key holds its values decoded. Saving writes unchanged keys as the
// exact bytes Wine wrote and re-serialises only the edited ones, so a file
// loaded and saved unchanged stays byte for byte the same.
//
// Reading fills caches (the value index, recent key lookups): one object
// must not be read from two threads at once.
//
// The key tree takes at most three times the file's size (plus 16 MB for
// small files): a file that names far more keys than Wine writes in its
// size (a damaged or hostile one) is refused rather than indexed.
class WineRegistryFile : public RegistryStore
{
public:
    // Reads the file; throws Error when it is unreadable or not a Wine registry.
    static std::unique_ptr<WineRegistryFile> open(const QString &path);
    // Parses bytes without a file behind them (tests, fuzzing); save() and
    // reload() then throw. nameForMessages names the data in errors.
    static std::unique_ptr<WineRegistryFile> fromBytes(const QByteArray &bytes, const QString &nameForMessages);

    ~WineRegistryFile() override;

    QString location() const override;

    bool keyExists(const QString &path) const override;
    QStringList subkeyNames(const QString &path) const override;
    std::optional<RegistryValue> value(const QString &path, const QString &name) const override;
    QList<RegistryValue> values(const QString &path) const override;
    std::optional<Reading> read(const QString &path, const QString &name) const override;
    void readMany(const QString &path, std::span<const QString> names, std::optional<Reading> *readings) const override;

    void createKey(const QString &path) override;
    void setValue(const QString &path, const RegistryValue &value) override;
    void deleteTree(const QString &path) override;

    void checkWritable() const override;
    void save() override;

    bool changedOnDisk() const override;
    void reload() override;

    // The whole file as it would be saved now.
    QByteArray toBytes() const;
    // Writes the same bytes to a device; throws Error when the device fails.
    void write(QIODevice &device) const;

    // Whether the key is a symbolic link (#link); lookups pass through it.
    bool isLink(const QString &path) const override;
    // Told from the key itself: a hostile file's parent may list millions.
    bool isBrokenLink(const QString &path) const override { return !keyExists(path) && isLink(path); }

    struct Key;

private:
    struct ValueRef;
    struct Edit;
    struct Extra;
    class KeyArena;
    struct Tree;
    class TreeBuilder;
    struct CachedLookup
    {
        QString path;
        size_t hash = 0;
        Key *key = nullptr;
        int hops = 0;
        quint64 used = 0;
    };

    WineRegistryFile();
    void load(const QByteArray &bytes);

    template<typename F>
    decltype(auto) withName(const Key *key, F &&f) const;
    template<typename F>
    static decltype(auto) withName(const char *bytes, const Tree &tree, const Key *key, F &&f);
    QString nameOf(const Key *key) const;

    Key *findChild(Key *key, QStringView name) const;
    void fillChildTable(const Key *key, std::vector<quint32> &table) const;
    Key *addChild(Key *key, QStringView name);
    Key *find(const QString &path, bool followLast) const;
    Key *findFollowing(const QString &path) const;
    Key *walk(QStringView path, bool followLast, int &hops) const;
    Key *resolveLink(Key *key, int &hops) const;
    Key *findOrCreate(const QString &path);
    const CachedLookup *cachedLookup(QStringView path, size_t hash) const;
    void remember(QString path, size_t hash, Key *key, int hops) const;
    void dropLookups();
    void ensureIndex(Key *key) const;
    void recheckIndex(Key *key) const;
    void scanValues(const Key *key, std::vector<ValueRef> &index, QByteArray *classLine,
                    winereg::CheckData check) const;
    std::optional<RegistryValue> readValue(const ValueRef &ref, const QString *asked) const;
    RegistryValue valueAt(const ValueRef &ref, const QString *asked) const;
    std::optional<RegistryValue> lookupValue(Key *key, QStringView name, const QString *asked) const;
    const ValueRef *findRef(Key *key, QStringView name) const;
    // A value's data from p (its head read) as read() gives it; false for
    // data Wine would skip. p ends where parseValue's would.
    static bool readData(const char *&p, const char *lineStop, const char *end, Reading &reading);
    void touch(Key *key);
    Key **ownChildren(Key *key);
    QString fullPath(const Key *key) const;
    void serialise(const Key *key, QByteArray &out) const;
    void emitTree(const Key *root, QByteArray &out) const;
    // ErrorKind::ChangedOnDisk, in words.
    Error changedError() const;

    QString m_path; // empty for fromBytes
    QString m_name;
    QByteArray m_bytes; // the file as loaded
    qsizetype m_firstKey = 0; // where the first key line starts
    bool m_crlf = false;
    bool m_modified = false;
    std::unique_ptr<Tree> m_tree;
    // Recent path lookups; a scan reads many values of one key and opens
    // many siblings under one parent. Dropped on every change.
    mutable std::array<CachedLookup, 16> m_lookups;
    mutable quint64 m_lookupClock = 0;
    // Where scanValues collects a key's values before they are indexed.
    mutable std::vector<ValueRef> m_scannedValues;
    // The file as loaded, for changedOnDisk()
    FileStamp m_stamp;
};

} // namespace kelvane
