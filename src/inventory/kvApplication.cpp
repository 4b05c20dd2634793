// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvApplication.h"

#include "RegistryAccess.h"
#include "Wildcard.h"
#include "config/kvConfig.h"
#include "host/Error.h"
#include "registry/RegistryBackup.h"
#include "registry/RegistryStore.h"

#include <QtEndian>

#include <algorithm>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

static qint32 clampToInt32(qint64 number)
{
    if (number > std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    if (number < std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    return qint32(number);
}

using Reading = std::optional<RegistryStore::Reading>;

// A value that is missing or of the wrong kind is taken as missing: one odd
// value must not hide the rest of the entry.
static QString textOf(const Reading &reading)
{
    return reading && reading->isText() ? reading->text : QString();
}

static std::optional<quint32> numberOf(const Reading &reading)
{
    return reading ? reading->dword() : std::nullopt;
}

ArpCacheRecord ArpCacheRecord::fromBytes(const QByteArray &bytes)
{
    QByteArray record(RecordSize, '\0');
    std::copy_n(bytes.constData(), std::min(bytes.size(), RecordSize), record.data());
    ArpCacheRecord result;
    // Clamped rather than cut to its low 32 bits, which would turn 5 GB into 705 MB.
    result.Size = clampToInt32(qFromLittleEndian<qint64>(record.constData() + SizeOffset));
    const char *path = record.constData() + PathOffset;
    qsizetype units = 0;
    while (units < PathUnits && qFromLittleEndian<quint16>(path + 2 * units) != 0)
        ++units;
    if (units == 0)
        return result;
    result.ProgramPath = QString(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i)
        result.ProgramPath[i] = QChar(qFromLittleEndian<quint16>(path + 2 * i));
    return result;
}

// ---------------------------------------------------------------- TAppItem

TAppItem::TAppItem(std::shared_ptr<RegistryStore> store)
    : m_store(std::move(store))
{
}

TAppSubItemPtr TAppItem::ReadPatch(RegistryAccess &access, const QString &productCode,
                                   const QString &patchKeyName) const
{
    auto patch = std::make_shared<TAppSubItem>();
    patch->PatchCode = patchKeyName;
    patch->KeyPath = access.CurrentKeyPath();
    // The key's values in one read.
    static const QString names[] = {u"DisplayName"_s, u"MoreInfoURL"_s, u"Installed"_s, u"Uninstallable"_s};
    Reading read[std::size(names)];
    access.ReadValues(names, read);
    patch->DisplayName = textOf(read[0]);
    patch->MoreInfoURL = textOf(read[1]);
    patch->Installed = textOf(read[2]);
    patch->Uninstallable = numberOf(read[3]).value_or(0) != 0; // without a clear yes, never offer to remove it
    patch->UninstallCommand = u"MsiExec /uninstall "_s + ConvertGuid(patchKeyName, true)
                              + u" /package "_s + ConvertGuid(productCode, true) + u" /qb"_s;
    if (patch->DisplayName.isEmpty())
        patch->DisplayName = config::UpdateTypeName.toString();
    return patch;
}

ArpCacheRecord TAppItem::ReadArpCache(RegistryAccess &access) const
{
    if (KeyName.isEmpty() || !access.OpenForRead(config::KeyArpCache.toString() + u'\\' + KeyName))
        return {};
    static const QString name = u"SlowInfoCache"_s;
    Reading cache;
    access.ReadValues({&name, 1}, &cache);
    access.CloseCurrent();
    // Not binary or too long: no cache details, the entry itself stays.
    if (!cache || cache->type != RegBinary || cache->data.size() > ArpCacheRecord::RecordSize)
        return {};
    return ArpCacheRecord::fromBytes(cache->data);
}

bool TAppItem::MatchesFilter(const QString &mask) const
{
    return MatchesFilter(Wildcard(mask)); // compares A-Z without case
}

bool TAppItem::MatchesFilter(const Wildcard &wildcard) const
{
    if (wildcard.matches(DisplayName))
        return true;
    for (const auto &patch : SubItems)
        if (wildcard.matches(patch->DisplayName))
            return true;
    return false;
}

RegistryStore &TAppItem::store() const
{
    if (!m_store)
        throw Error(u"The entry %1 belongs to no registry and cannot be changed"_s.arg(KeyPath));
    return *m_store;
}

void TAppItem::DeleteEntry()
{
    RegistryStore &registry = store();
    RegistryAccess access(registry);
    const QString path = u'\\' + KeyPath;
    if (!access.KeyPresent(path))
        return;
    // No backup, no delete. Taken once the store has agreed to the write, so
    // a refusal (a running wineserver) leaves no backup of a key still there.
    const RegistryBackup backup;
    access.DeleteTree(path, [&](const QString &key) { backup.write(registry, key); });
}

bool TAppItem::Rename(const QString &newName)
{
    if (newName.isEmpty())
        return false;
    if (writeTexts({{u"DisplayName"_s, newName}}))
        DisplayName = newName;
    return true;
}

bool TAppItem::writeTexts(const QList<std::pair<QString, QString>> &values)
{
    RegistryStore &registry = store();
    RegistryAccess access(registry);
    const QString path = u'\\' + KeyPath;
    // A key that vanished since the scan (an uninstaller removed it, and the
    // store was read again) is not made anew: a key holding only a name or
    // commands would bring back an application that is gone.
    if (!access.KeyPresent(path))
        throw Error(u"Cannot change the entry HKEY_LOCAL_MACHINE\\%1 in %2: it is no longer there, another program "
                    "removed it"_s.arg(KeyPath, registry.location()),
                    ErrorKind::EntryGone, KeyPath);
    if (!access.OpenForWrite(path))
        return false;
    const RegistryBackup backup;
    access.WriteTexts(values, [&](const QString &key) { backup.write(registry, key); });
    access.CloseCurrent();
    return true;
}

bool TAppItem::SetUninstallString(const QString &text)
{
    writeTexts({{u"UninstallString"_s, text}});
    return true;
}

bool TAppItem::SetQuietUninstallString(const QString &text)
{
    writeTexts({{u"QuietUninstallString"_s, text}});
    return true;
}

void TAppItem::SetCommands(const QString &uninstall, const QString &quietUninstall)
{
    writeTexts({{u"UninstallString"_s, uninstall}, {u"QuietUninstallString"_s, quietUninstall}});
}

// ----------------------------------------------------------- TApplications

TApplications::TApplications(std::shared_ptr<RegistryStore> store)
    : m_store(std::move(store))
    , m_hotfixMask(config::HotfixPattern.toString())
{
    if (!m_store)
        throw Error(u"An inventory needs a registry to read"_s);
}

void TApplications::LoadFromRegistry(const std::function<void()> &processEvents)
{
    Applications.clear();
    Hotfixes.clear();
    RegistryAccess access(*m_store);

    bool anyOpened = false;
    qint32 count = 0;
    QStringList unreachable;
    const QList<UserProducts> users = listUserProducts(access);
    for (const QString &root : {config::KeyUninstall.toString(), config::KeyUninstallWow64.toString()}) {
        if (!access.OpenForRead(root)) {
            if (const QString key = access.UnreachableKey(root); !key.isEmpty() && !unreachable.contains(key))
                unreachable.append(key);
            continue;
        }
        anyOpened = true;
        const QStringList names = access.SubkeyNames();
        count += qint32(names.size());
        for (const QString &name : names) {
            if (access.OpenForRead(root + u'\\' + name)) {
                QString code;
                if (TAppItemPtr entry = readApplication(access, name, code)) {
                    if (entry->IsHotfix)
                        AddHotfix(entry);
                    else
                        AddApplication(entry);
                    attachPatches(access, *entry, code, users);
                }
            }
            if (processEvents)
                processEvents();
        }
    }
    // The count is what CountUninstallSubkeys sees, so the change watch does
    // not rescan (and report the same link again) until something changes.
    if (anyOpened)
        KeyCount = count;
    if (!unreachable.isEmpty())
        throw Error(u"HKEY_LOCAL_MACHINE\\%1 in %2 is a registry link that cannot be followed: it loops back, passes "
                    u"too many links or leads to no key, so the applications registered below it cannot be listed. "
                    u"Repair or delete the link (for example with wine regedit)."_s
                        .arg(unreachable.join(u", HKEY_LOCAL_MACHINE\\"_s), m_store->location()));
}

TAppItemPtr TApplications::ReadApplication(RegistryAccess &access, const QString &keyName) const
{
    QString code;
    return readApplication(access, keyName, code);
}

TAppItemPtr TApplications::readApplication(RegistryAccess &access, const QString &keyName, QString &code) const
{
    // The entry's values in one read, the stand-ins for missing ones included.
    enum EntryValue {
        Uninstall, QuietUninstall, DisplayName, DisplayVersion, InstallLocation, ModifyPath, Publisher, UrlInfoAbout,
        DisplayIcon, QuietDisplayName, ApplicationVersion, HelpLink, InnoSetupPath, EstimatedSize, EntryValueCount
    };
    static const QString names[EntryValueCount] = {
        u"UninstallString"_s, u"QuietUninstallString"_s, u"DisplayName"_s, u"DisplayVersion"_s,
        u"InstallLocation"_s, u"ModifyPath"_s, u"Publisher"_s, u"UrlInfoAbout"_s, u"DisplayIcon"_s,
        u"QuietDisplayName"_s, u"ApplicationVersion"_s, u"HelpLink"_s, u"Inno Setup: App Path"_s,
        u"EstimatedSize"_s};
    Reading read[EntryValueCount];
    access.ReadValues(names, read);
    // A command we cannot read is a command we cannot run.
    for (const EntryValue command : {Uninstall, QuietUninstall})
        if (read[command] && !read[command]->isText())
            return nullptr;
    auto entry = std::make_shared<TAppItem>(m_store);
    entry->UninstallString = textOf(read[Uninstall]);
    entry->QuietUninstallString = textOf(read[QuietUninstall]);
    if (entry->UninstallString.isEmpty() && entry->QuietUninstallString.isEmpty())
        return nullptr;

    entry->KeyName = keyName;
    entry->KeyPath = access.CurrentKeyPath();

    entry->DisplayName = textOf(read[DisplayName]);
    entry->DisplayVersion = textOf(read[DisplayVersion]);
    entry->InstallLocation = textOf(read[InstallLocation]);
    entry->ModifyPath = textOf(read[ModifyPath]);
    entry->Publisher = textOf(read[Publisher]);
    entry->UrlInfoAbout = textOf(read[UrlInfoAbout]);

    const QString displayIcon = textOf(read[DisplayIcon]);
    if (!displayIcon.isEmpty())
        entry->IconPaths.append(displayIcon);

    if (read[EstimatedSize]) {
        // Kilobytes in an unsigned DWORD; clamped when the bytes do not fit.
        // Another kind counts as none: then the cache may know the size.
        const auto kilobytes = numberOf(read[EstimatedSize]);
        entry->EstimatedSize = kilobytes ? clampToInt32(qint64(*kilobytes) * 1024) : 0;
    }

    code = ConvertGuid(entry->KeyPath, false);
    if (!code.isEmpty() && access.OpenForRead(config::KeyInstallerProducts.toString() + u'\\' + code)) {
        static const QString productNames[] = {u"ProductName"_s, u"ProductIcon"_s};
        Reading product[std::size(productNames)];
        access.ReadValues(productNames, product);
        if (entry->DisplayName.isEmpty())
            entry->DisplayName = textOf(product[0]);
        const QString productIcon = textOf(product[1]);
        if (!productIcon.isEmpty())
            entry->IconPaths.append(productIcon);
    }

    if (entry->DisplayName.isEmpty())
        entry->DisplayName = textOf(read[QuietDisplayName]);
    if (entry->DisplayName.isEmpty())
        entry->DisplayName = entry->KeyName;
    if (entry->DisplayVersion.isEmpty())
        entry->DisplayVersion = textOf(read[ApplicationVersion]);

    const ArpCacheRecord cache = entry->ReadArpCache(access);
    if (!cache.ProgramPath.isEmpty())
        entry->IconPaths.append(cache.ProgramPath);

    if (entry->UrlInfoAbout.isEmpty())
        entry->UrlInfoAbout = textOf(read[HelpLink]);
    if (entry->InstallLocation.isEmpty())
        entry->InstallLocation = textOf(read[InnoSetupPath]);
    if (entry->EstimatedSize == 0)
        entry->EstimatedSize = cache.Size;

    entry->IsHotfix = m_hotfixMask.matches(entry->KeyPath);
    return entry;
}

static bool isAscii(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

QList<TApplications::UserProducts> TApplications::listUserProducts(RegistryAccess &access) const
{
    QList<UserProducts> users;
    if (!access.OpenForRead(config::KeyInstallerUserData.toString()))
        return users;
    const QStringList userIds = access.SubkeyNames();
    for (const QString &userId : userIds) {
        UserProducts user;
        user.productsPath = config::KeyInstallerUserData.toString() + u'\\' + userId + config::KeyPartProducts;
        QStringView products(user.productsPath);
        products.chop(1);
        if (access.OpenForRead(products.toString())) {
            const QStringList codes = access.SubkeyNames();
            user.codes.reserve(codes.size());
            for (const QString &code : codes) {
                user.allAscii = user.allAscii && isAscii(code);
                user.codes.insert(code.toLower());
            }
        }
        users.append(std::move(user));
    }
    access.CloseCurrent();
    return users;
}

void TApplications::attachPatches(RegistryAccess &access, TAppItem &entry, const QString &code,
                                  const QList<UserProducts> &users) const
{
    if (code.isEmpty())
        return;
    const bool asciiCode = isAscii(code);
    const QString lowerCode = code.toLower();
    for (const UserProducts &user : users) {
        // ASCII names compare without case exactly as their ASCII lower case
        // does: then a code the user's products do not list has no key.
        if (asciiCode && user.allAscii && !user.codes.contains(lowerCode))
            continue;
        const QString path = user.productsPath + code + config::KeyPartPatches.toString();
        if (!access.OpenForRead(path))
            continue;
        const QStringList patchNames = access.SubkeyNames();
        for (const QString &patchName : patchNames)
            if (access.OpenForRead(path + u'\\' + patchName))
                entry.AddSubItem(entry.ReadPatch(access, code, patchName));
    }
}

// ---------------------------------------------------------------- GUIDs

static QString insertDashes(QString text)
{
    for (const int position : config::GuidDashPositions)
        text.insert(std::min<qsizetype>(position - 1, text.size()), u'-');
    return text;
}

QString ConvertGuid(const QString &text, bool toBraced)
{
    QString source;
    if (toBraced) {
        source = insertDashes(text);
    } else {
        const qsizetype open = text.indexOf(u'{');
        const qsizetype close = text.indexOf(u'}');
        if (open < 0 || close < 0 || close < open)
            return QString();
        source = text.mid(open + 1, close - open - 1);
    }

    // Each '-'-separated part in place: the first three reversed, the rest
    // with each pair of characters swapped (an odd last one stays last).
    QString result(source.size() - source.count(u'-'), Qt::Uninitialized);
    QChar *out = result.data();
    qsizetype index = 0;
    for (qsizetype start = 0;; ++index) {
        qsizetype stop = source.indexOf(u'-', start);
        if (stop < 0)
            stop = source.size();
        const QStringView part = QStringView(source).sliced(start, stop - start);
        if (index < 3) {
            out = std::reverse_copy(part.begin(), part.end(), out);
        } else {
            for (qsizetype i = 0; i < part.size(); i += 2) {
                if (i + 1 < part.size())
                    *out++ = part[i + 1];
                *out++ = part[i];
            }
        }
        if (stop == source.size())
            break;
        start = stop + 1;
    }
    return toBraced ? u'{' + insertDashes(result) + u'}' : result;
}

std::optional<qint32> CountUninstallSubkeys(RegistryStore &store)
{
    RegistryAccess access(store);
    std::optional<qint32> count;
    for (const QString &root : {config::KeyUninstall.toString(), config::KeyUninstallWow64.toString()})
        if (access.OpenForRead(root))
            count = count.value_or(0) + qint32(access.SubkeyNames().size());
    return count;
}

} // namespace kelvane
