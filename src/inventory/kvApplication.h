// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include "Wildcard.h"

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace kelvane {

class RegistryAccess;
class RegistryStore;

class TAppSubItem;
class TAppItem;
using TAppSubItemPtr = std::shared_ptr<TAppSubItem>;
using TAppItemPtr = std::shared_ptr<TAppItem>;
// Lists of shared records in insertion order: whoever holds a record keeps it
// readable after the list is refilled.
using TAppSubItems = QList<TAppSubItemPtr>;
using TAppItems = QList<TAppItemPtr>;

// The two interpreted fields of the add/remove-programs cache record
// ("SlowInfoCache", 552 bytes).
struct ArpCacheRecord
{
    static constexpr qsizetype RecordSize = 552;
    static constexpr qsizetype SizeOffset = 8;
    static constexpr qsizetype PathOffset = 28;
    static constexpr qsizetype PathUnits = 262;

    qint32 Size = 0; // bytes; the 64-bit field clamped to 32 bits
    QString ProgramPath;

    // Parses a record of at most RecordSize bytes; missing bytes count as zero.
    static ArpCacheRecord fromBytes(const QByteArray &bytes);
};

// One Windows Installer patch of an application.
class TAppSubItem
{
public:
    QString PatchCode;
    QString KeyPath;
    QString DisplayName;
    QString MoreInfoURL;
    QString UninstallCommand;
    QString Installed;
    bool Uninstallable = false;
};

// One subkey of the Uninstall key that carries an uninstall command.
class TAppItem
{
public:
    // The store is the one the entry was read from; the entry edits write to it.
    explicit TAppItem(std::shared_ptr<RegistryStore> store);

    TAppSubItems SubItems;
    QString KeyName;
    QString KeyPath; // below the hive, no leading backslash
    QString DisplayName;
    QString DisplayVersion;
    QString InstallLocation;
    QString ModifyPath;
    QString Publisher;
    QString UrlInfoAbout;
    QString UninstallString;
    QString QuietUninstallString;
    QStringList IconPaths;
    qint32 EstimatedSize = 0; // bytes, 0 = unknown
    bool IsHotfix = false;

    int SubItemCount() const { return int(SubItems.size()); }
    TAppSubItemPtr GetSubItem(int index) const { return SubItems.at(index); }
    bool HasSubItems() const { return !SubItems.isEmpty(); }
    void AddSubItem(TAppSubItemPtr patch) { SubItems.append(std::move(patch)); }

    // Builds a patch record from the current key of access, which must be the patch's key.
    TAppSubItemPtr ReadPatch(RegistryAccess &access, const QString &productCode,
                             const QString &patchKeyName) const;
    // The entry's cache record; all zero when there is none or it is unreadable.
    ArpCacheRecord ReadArpCache(RegistryAccess &access) const;

    // Whether the name, or a patch's name, matches the wildcard mask (A-Z
    // compared without case). Throws kelvane::Error for an invalid mask.
    bool MatchesFilter(const QString &mask) const;
    bool MatchesFilter(const Wildcard &mask) const;

    // The entry edits write to disk at once; a refused or failed write throws
    // kelvane::Error (its kind() tells a running wineserver, a file changed on
    // disk, a read-only file, a full disk, a failed backup or an entry gone
    // apart) and leaves the file on disk as it was. Each edit first writes the
    // key's subtree to a new file in RegistryBackup::defaultFolder(); nothing
    // is deleted or overwritten without it. Deleting a key already gone is no
    // error; renaming it, or setting its commands, is refused (EntryGone).
    void DeleteEntry();
    // False, changing nothing, for an empty name.
    bool Rename(const QString &newName);
    // The record keeps the commands it was read with until the next scan.
    bool SetUninstallString(const QString &text);
    bool SetQuietUninstallString(const QString &text);
    // Both commands in one write.
    void SetCommands(const QString &uninstall, const QString &quietUninstall);

private:
    // False when the key cannot be opened (a path no key can have).
    bool writeTexts(const QList<std::pair<QString, QString>> &values);
    RegistryStore &store() const;

    std::shared_ptr<RegistryStore> m_store;
};

// The inventory: the applications and hotfixes of the last scan.
class TApplications
{
public:
    explicit TApplications(std::shared_ptr<RegistryStore> store);

    TAppItems Applications;
    TAppItems Hotfixes;
    qint32 KeyCount = 0;

    // Rescans the registry. processEvents, when set, runs once per Uninstall
    // subkey so a user interface stays responsive. Throws kelvane::Error
    // naming the key when an Uninstall key, or a key above it, is a link
    // that cannot be followed; what could be read is kept.
    void LoadFromRegistry(const std::function<void()> &processEvents = {});

    int ApplicationCount() const { return int(Applications.size()); }
    TAppItemPtr GetApplication(int index) const { return Applications.at(index); }
    bool HasApplications() const { return !Applications.isEmpty(); }
    int HotfixCount() const { return int(Hotfixes.size()); }
    TAppItemPtr GetHotfix(int index) const { return Hotfixes.at(index); }
    bool HasHotfixes() const { return !Hotfixes.isEmpty(); }
    void AddApplication(TAppItemPtr entry) { Applications.append(std::move(entry)); }
    void AddHotfix(TAppItemPtr entry) { Hotfixes.append(std::move(entry)); }

    // Builds an entry from the current key of access, which must be the
    // entry's own key; none when it has no uninstall command. (The scan
    // reads its keys in one pass each, through RegistryStore::readMany.)
    TAppItemPtr ReadApplication(RegistryAccess &access, const QString &keyName) const;

private:
    // The Windows Installer products each user has, listed once per scan:
    // looking each entry's code up in the registry cost a tenth of a scan.
    struct UserProducts
    {
        QString productsPath; // ...\UserData\<user>\Products\ (with the final '\')
        QSet<QString> codes; // the product keys' names in ASCII lower case; others not listed
        bool allAscii = true; // false: a name outside ASCII, so a miss in codes proves nothing
    };

    // code: the entry's packed product code, as readApplication found it.
    TAppItemPtr readApplication(RegistryAccess &access, const QString &keyName, QString &code) const;
    QList<UserProducts> listUserProducts(RegistryAccess &access) const;
    void attachPatches(RegistryAccess &access, TAppItem &entry, const QString &code,
                       const QList<UserProducts> &users) const;

    std::shared_ptr<RegistryStore> m_store;
    Wildcard m_hotfixMask; // built once: compiling it per entry cost more than matching
};

// Converts between a braced GUID and the packed code Windows Installer uses
// as a key name (toBraced false: packs the first braced part of text).
QString ConvertGuid(const QString &text, bool toBraced);

// The number of Uninstall subkeys, counted as the scan counts them (the
// Wow6432Node key included); none when no Uninstall key can be read.
// Never throws for a link it cannot follow: the scan reports that.
std::optional<qint32> CountUninstallSubkeys(RegistryStore &store);

} // namespace kelvane
