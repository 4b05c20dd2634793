// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a WineRegistryFile: key paths, links, subkeys and values.
#include "WineRegistryTree.h"

#include "WineRegistryFormat.h"


#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

using namespace winereg;

namespace {

constexpr int maxLinkHops = 16;

// Tells the few remembered lookups apart before their paths are compared:
// the length and the last eight units, where the paths of siblings differ.
// A full hash of every path asked for cost a twentieth of a scan.
size_t lookupHash(QStringView path)
{
    size_t h = size_t(path.size()) * 0x9e3779b97f4a7c15ULL;
    const qsizetype from = std::max<qsizetype>(0, path.size() - 8);
    for (qsizetype i = from; i < path.size(); ++i)
        h = (h ^ path[i].unicode()) * 0x100000001b3ULL;
    return h;
}

} // namespace

QString WineRegistryFile::nameOf(const Key *key) const
{
    return withName(key, [](auto name) { return name.toString(); });
}

// A key with this many subkeys as loaded finds them by hash: the Uninstall
// and cache keys list thousands, whose names share long beginnings that
// each step of a binary search compares again. Far larger lists (only a
// damaged or hostile file has them) keep the search, bounding the tables.
constexpr quint32 minHashedChildren = 64;
constexpr quint32 maxHashedChildren = 1 << 16;

WineRegistryFile::Key *WineRegistryFile::findChild(Key *key, QStringView name) const
{
    if (key->childCount >= minHashedChildren && key->childCount <= maxHashedChildren
        && !key->has(Key::OwnChildren)) {
        std::vector<quint32> &table = key->ensureExtra().childTable;
        if (table.empty())
            fillChildTable(key, table);
        const size_t mask = table.size() - 1;
        for (size_t slot = foldedHash(name, 0) & mask;; slot = (slot + 1) & mask) {
            if (!table[slot])
                return nullptr;
            Key *child = key->children[table[slot] - 1];
            if (withName(child, [&](auto spelt) { return wineCompare(spelt, name); }) == 0)
                return child;
        }
    }
    Key **const begin = key->children;
    Key **const end = begin + key->childCount;
    Key **it = std::lower_bound(begin, end, name, [this](const Key *child, QStringView n) {
        return withName(child, [&](auto spelt) { return wineCompare(spelt, n); }) < 0;
    });
    if (it != end && withName(*it, [&](auto spelt) { return wineCompare(spelt, name); }) == 0)
        return *it;
    return nullptr;
}

// Open addressing, at most half full: each subkey's number + 1 at the
// first free slot from the hash of its folded name.
void WineRegistryFile::fillChildTable(const Key *key, std::vector<quint32> &table) const
{
    size_t size = 1;
    while (size < 2 * size_t(key->childCount))
        size *= 2;
    table.assign(size, 0);
    const size_t mask = size - 1;
    for (quint32 i = 0; i < key->childCount; ++i) {
        size_t slot = withName(key->children[i], [](auto name) { return foldedHash(name, 0); }) & mask;
        while (table[slot])
            slot = (slot + 1) & mask;
        table[slot] = i + 1;
    }
}

// Goes over a key's value lines as Wine reads them: index (empty) gets each
// name once (where it is first spelt, defined by its last line), in Wine's
// order; classLine, when given, the key's last "#class=" line. With
// CheckData::Skip, texts and hex data laid out as Wine writes it are taken
// unread. A key that names a value twice or out of order is always checked
// whole: only then can a malformed line that is taken change which line
// spells or defines a name.
void WineRegistryFile::scanValues(const Key *key, std::vector<ValueRef> &index, QByteArray *classLine,
                                  CheckData check) const
{
    const char *const data = m_bytes.constData();
    const qsizetype size = m_bytes.size();
    const char *const fileEnd = data + size;
    // Collected in a list kept from key to key and copied at its size: a key
    // of a million empty values must not cost twice that, nor a key of ten
    // values several allocations.
    std::vector<ValueRef> &found = m_scannedValues;
    found.clear();
    // Wine writes the names in order: each is compared with the one before,
    // and only a key out of order (or naming a value twice) is sorted.
    bool ordered = true;
    ValueName names[2];
    int current = 0;
    key->forEachBlock([&](quint32 begin) {
        qsizetype line = lineEnd(data, begin, size) + 1;
        while (line < size && data[line] != '[') {
            const char c = data[line];
            if (c != '"' && c != '@') {
                const qsizetype stop = lineEnd(data, line, size);
                if (c == '#' && classLine) {
                    QByteArrayView text(data + line, stop - line);
                    if (text.endsWith('\r'))
                        text.chop(1);
                    if (text.startsWith("#class="))
                        *classLine = text.toByteArray();
                }
                line = stop + 1;
                continue;
            }
            const char *p = data + line;
            ValueName &name = names[current];
            if (parseValue(p, fileEnd, nullptr, check, &name)) {
                if (ordered && !found.empty() && compareNames(names[1 - current], name) >= 0)
                    ordered = false;
                found.push_back({quint32(line), quint32(line), name.hash(),
                                 name.isPlain ? quint32(name.plain.size()) : ValueRef::NotPlain});
                current = 1 - current;
            }
            // Go on after the line where the value ended (hex values span
            // lines), unless its data ran up to the next key line.
            const qsizetype reached = std::max<qsizetype>(p - data, line);
            if (reached > line && reached < size && data[reached] == '[' && data[reached - 1] == '\n')
                break;
            line = lineEnd(data, reached, size) + 1;
        }
    });
    if (!ordered && check == CheckData::Skip) {
        scanValues(key, index, classLine, CheckData::Read);
        return;
    }
    if (!ordered) {
        // Sorted by name, then by line: of a repeated name the first line
        // spells it, the last one defines it.
        ValueName a, b;
        auto compare = [&](const ValueRef &x, const ValueRef &y) {
            x.readName(data, fileEnd, a);
            y.readName(data, fileEnd, b);
            return compareNames(a, b);
        };
        std::sort(found.begin(), found.end(), [&](const ValueRef &x, const ValueRef &y) {
            const int c = compare(x, y);
            return c != 0 ? c < 0 : x.nameLine < y.nameLine;
        });
        size_t kept = 0;
        for (size_t i = 0; i < found.size(); ++i) {
            if (kept > 0 && found[kept - 1].nameHash == found[i].nameHash && compare(found[kept - 1], found[i]) == 0)
                found[kept - 1].dataLine = found[i].dataLine;
            else
                found[kept++] = found[i];
        }
        found.resize(kept);
    }
    index.assign(found.begin(), found.end());
    // What one key needed is not kept for all the others.
    constexpr size_t keptScratch = 4096;
    if (found.capacity() > keptScratch)
        std::vector<ValueRef>().swap(found);
}

void WineRegistryFile::ensureIndex(Key *key) const
{
    if (key->has(Key::Indexed))
        return;
    key->flags |= Key::Indexed;
    std::vector<ValueRef> index;
    // Each text and each hex value (the add/remove-programs cache) is read
    // once, when asked for, and not also checked beforehand.
    scanValues(key, index, nullptr, CheckData::Skip);
    if (!index.empty())
        key->ensureExtra().index = std::move(index);
}

// A value in the index that does not parse was taken unread: the key is
// indexed again with every value checked, as Wine would have read it.
void WineRegistryFile::recheckIndex(Key *key) const
{
    std::vector<ValueRef> index;
    scanValues(key, index, nullptr, CheckData::Read);
    key->extra->index = std::move(index);
}

std::optional<RegistryValue> WineRegistryFile::readValue(const ValueRef &ref, const QString *asked) const
{
    const char *const data = m_bytes.constData();
    const char *const fileEnd = data + m_bytes.size();
    RegistryValue value;
    const char *p = data + ref.dataLine;
    if (!parseValue(p, fileEnd, &value))
        return std::nullopt;
    ValueName name;
    ref.readName(data, fileEnd, name);
    value.name = name.spelt(asked);
    return value;
}

RegistryValue WineRegistryFile::valueAt(const ValueRef &ref, const QString *asked) const
{
    auto value = readValue(ref, asked);
    Q_ASSERT(value); // from an index with every value checked
    return value ? *std::move(value) : RegistryValue();
}

// The index entry of a clean key's value, or null.
const WineRegistryFile::ValueRef *WineRegistryFile::findRef(Key *key, QStringView name) const
{
    ensureIndex(key);
    if (!key->extra)
        return nullptr;
    const char *const data = m_bytes.constData();
    const char *const fileEnd = data + m_bytes.size();
    const quint32 hash = nameHash(name);
    ValueName found;
    for (const ValueRef &ref : key->extra->index) {
        if (ref.nameHash != hash)
            continue;
        ref.readName(data, fileEnd, found);
        if (compareName(found, name) == 0)
            return &ref;
    }
    return nullptr;
}

std::optional<RegistryValue> WineRegistryFile::lookupValue(Key *key, QStringView name, const QString *asked) const
{
    if (key->isEdited()) {
        for (const RegistryValue &v : std::as_const(key->edit().values))
            if (wineCompare(QStringView(v.name), name) == 0)
                return v;
        return std::nullopt;
    }
    const ValueRef *ref = findRef(key, name);
    if (!ref)
        return std::nullopt;
    if (auto value = readValue(*ref, asked))
        return value;
    recheckIndex(key);
    return lookupValue(key, name, asked);
}

WineRegistryFile::Key *WineRegistryFile::resolveLink(Key *key, int &hops) const
{
    while (key && key->has(Key::Link)) {
        if (++hops > maxLinkHops)
            return nullptr;
        const auto link = lookupValue(key, u"SymbolicLinkValue", nullptr);
        if (!link || link->type != RegLink)
            return nullptr;
        QString target = textOfUnits(link->data, link->data.size() / 2);
        static const QString machine = u"\\Registry\\Machine"_s;
        if (!target.startsWith(machine, Qt::CaseInsensitive))
            return nullptr; // another hive
        target = target.mid(machine.size());
        if (!target.isEmpty() && !target.startsWith(u'\\'))
            return nullptr;
        key = walk(target, true, hops);
    }
    return key;
}

WineRegistryFile::Key *WineRegistryFile::walk(QStringView path, bool followLast, int &hops) const
{
    Key *key = m_tree->root;
    const auto parts = path.split(u'\\', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size() && key; ++i) {
        key = resolveLink(key, hops);
        if (!key)
            return nullptr;
        key = findChild(key, parts[i]);
    }
    return followLast ? resolveLink(key, hops) : key;
}

const WineRegistryFile::CachedLookup *WineRegistryFile::cachedLookup(QStringView path, size_t hash) const
{
    for (CachedLookup &entry : m_lookups) {
        if (entry.key && entry.hash == hash && QStringView(entry.path) == path) {
            entry.used = ++m_lookupClock;
            return &entry;
        }
    }
    return nullptr;
}

void WineRegistryFile::remember(QString path, size_t hash, Key *key, int hops) const
{
    CachedLookup *oldest = &m_lookups.front();
    for (CachedLookup &entry : m_lookups)
        if (entry.used < oldest->used)
            oldest = &entry;
    *oldest = {std::move(path), hash, key, hops, ++m_lookupClock};
}

void WineRegistryFile::dropLookups()
{
    m_lookups.fill(CachedLookup());
}

// What walk(path, true) finds, with the same link hops counted, answered
// from the recent lookups of the path or of its parent where possible.
WineRegistryFile::Key *WineRegistryFile::findFollowing(const QString &fullPath) const
{
    // The very string asked for before (RegistryAccess reads many values
    // of its current key): no need to hash it.
    if (!fullPath.isEmpty()) {
        for (CachedLookup &entry : m_lookups) {
            if (entry.key && entry.path.constData() == fullPath.constData() && entry.path.size() == fullPath.size()) {
                entry.used = ++m_lookupClock;
                return entry.key;
            }
        }
    }
    int hops = 0;
    QStringView path(fullPath);
    while (path.endsWith(u'\\'))
        path.chop(1);
    const qsizetype cut = path.lastIndexOf(u'\\');
    if (cut < 0)
        return walk(path, true, hops);
    const size_t hash = lookupHash(path);
    if (const CachedLookup *hit = cachedLookup(path, hash))
        return hit->key;
    QStringView parentPath = path.left(cut);
    while (parentPath.endsWith(u'\\'))
        parentPath.chop(1);
    Key *parent = nullptr;
    const size_t parentHash = lookupHash(parentPath);
    if (const CachedLookup *hit = cachedLookup(parentPath, parentHash)) {
        parent = hit->key;
        hops = hit->hops;
    } else {
        parent = walk(parentPath, true, hops);
        if (!parent)
            return nullptr;
        if (!parentPath.isEmpty())
            remember(parentPath.toString(), parentHash, parent, hops);
    }
    Key *key = resolveLink(findChild(parent, path.mid(cut + 1)), hops);
    if (key)
        remember(path.size() == fullPath.size() ? fullPath : path.toString(), hash, key, hops);
    return key;
}

WineRegistryFile::Key *WineRegistryFile::find(const QString &path, bool followLast) const
{
    if (followLast)
        return findFollowing(path);
    int hops = 0;
    return walk(path, false, hops);
}

bool WineRegistryFile::keyExists(const QString &path) const
{
    return find(path, true) != nullptr;
}

bool WineRegistryFile::isLink(const QString &path) const
{
    const Key *key = find(path, false);
    return key && key->has(Key::Link);
}

QStringList WineRegistryFile::subkeyNames(const QString &path) const
{
    QStringList names;
    if (const Key *key = find(path, true)) {
        names.reserve(qsizetype(key->childCount));
        for (quint32 i = 0; i < key->childCount; ++i)
            names.append(nameOf(key->children[i]));
    }
    return names;
}

std::optional<RegistryValue> WineRegistryFile::value(const QString &path, const QString &name) const
{
    Key *key = find(path, true);
    if (!key)
        return std::nullopt;
    return lookupValue(key, name, &name);
}

bool WineRegistryFile::readData(const char *&p, const char *lineStop, const char *end, Reading &reading)
{
    switch (parseTextData(p, lineStop, reading.type, reading.text)) {
    case TextParse::Text:
        if (reading.isText())
            return true; // p stays on the line, as the text did
        break; // another type written as a text (a REG_MULTI_SZ): its bytes
    case TextParse::Malformed:
        return false;
    case TextParse::OtherForm:
        break;
    }
    RegistryValue value;
    if (!parseValueData(p, lineStop, end, &value, CheckData::Read))
        return false;
    reading = Reading::of(value);
    return true;
}

std::optional<RegistryStore::Reading> WineRegistryFile::read(const QString &path, const QString &name) const
{
    Key *key = find(path, true);
    if (!key || key->isEdited())
        return key ? RegistryStore::read(path, name) : std::nullopt;
    const ValueRef *ref = findRef(key, name);
    if (!ref)
        return std::nullopt;
    const char *const data = m_bytes.constData();
    const char *const fileEnd = data + m_bytes.size();
    const char *p = data + ref->dataLine;
    const char *lineStop = nullptr;
    Reading reading;
    if (parseValueHead(p, fileEnd, lineStop, nullptr) && readData(p, lineStop, fileEnd, reading))
        return reading;
    recheckIndex(key);
    return read(path, name);
}

// One pass over the key's lines, as scanValues goes over them, without an
// index: each line's name is compared with the names asked for, and only
// their data is read. A name defined again is read again: the last line
// that parses defines it, as in the index.
void WineRegistryFile::readMany(const QString &path, std::span<const QString> names,
                                std::optional<Reading> *readings) const
{
    std::fill_n(readings, names.size(), std::nullopt);
    Key *key = find(path, true);
    if (!key)
        return;
    if (key->isEdited()) {
        RegistryStore::readMany(path, names, readings);
        return;
    }
    constexpr size_t maxAsked = 32;
    if (names.size() > maxAsked) {
        RegistryStore::readMany(path, names, readings);
        return;
    }
    quint32 hashes[maxAsked];
    for (size_t i = 0; i < names.size(); ++i)
        hashes[i] = nameHash(QStringView(names[i]));
    const char *const data = m_bytes.constData();
    const qsizetype size = m_bytes.size();
    const char *const fileEnd = data + size;
    ValueName name;
    key->forEachBlock([&](quint32 begin) {
        qsizetype line = lineEnd(data, begin, size) + 1;
        while (line < size && data[line] != '[') {
            const char c = data[line];
            if (c != '"' && c != '@') {
                line = lineEnd(data, line, size) + 1;
                continue;
            }
            const char *p = data + line;
            const char *lineStop = nullptr;
            if (parseValueHead(p, fileEnd, lineStop, &name)) {
                const quint32 hash = name.hash();
                auto isAsked = [&](size_t i) {
                    return hashes[i] == hash && compareName(name, QStringView(names[i])) == 0;
                };
                size_t asked = 0;
                while (asked < names.size() && !isAsked(asked))
                    ++asked;
                if (asked < names.size()) {
                    Reading reading;
                    if (readData(p, lineStop, fileEnd, reading)) {
                        // The same name asked again (in another case) gets it too.
                        for (size_t again = asked + 1; again < names.size(); ++again)
                            if (isAsked(again))
                                readings[again] = reading;
                        readings[asked] = std::move(reading);
                    }
                } else {
                    parseValueData(p, lineStop, fileEnd, nullptr, CheckData::Skip);
                }
            }
            const qsizetype reached = std::max<qsizetype>(p - data, line);
            if (reached > line && reached < size && data[reached] == '[' && data[reached - 1] == '\n')
                break;
            line = lineEnd(data, reached, size) + 1;
        }
    });
}

QList<RegistryValue> WineRegistryFile::values(const QString &path) const
{
    Key *key = find(path, true);
    if (!key)
        return {};
    if (key->isEdited())
        return key->edit().values;
    ensureIndex(key);
    QList<RegistryValue> result;
    if (!key->extra)
        return result;
    result.reserve(qsizetype(key->extra->index.size()));
    for (const ValueRef &ref : key->extra->index) {
        auto value = readValue(ref, nullptr);
        if (!value) {
            recheckIndex(key);
            return values(path);
        }
        result.append(*std::move(value));
    }
    return result;
}

} // namespace kelvane
