// SPDX-License-Identifier: GPL-3.0-or-later
// Building a WineRegistryFile's key tree from the bytes of the file.
#include "WineRegistryTree.h"

#include "WineRegistryFormat.h"
#include "host/Error.h"

#include <QDir>
#include <QtEndian>

#include <algorithm>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

using namespace winereg;

namespace {

const QByteArray header = QByteArrayLiteral("WINE REGISTRY Version 2");

// What one key may cost: the key itself (40 bytes), its place in the
// children table, its share of the hash table, and some room.
constexpr qint64 keyCost = 64;

// Collects the parts of an escaped key name one at a time: the path never
// stands in memory as a whole list. A '\\' between parts only ever comes as
// a unit (parseString), never inside a run.
template<typename Part>
class KeyPartSink
{
public:
    KeyPartSink(QString &part, Part onPart)
        : m_part(part)
        , m_onPart(onPart)
    {
        m_part.resize(0);
    }
    void latin1(const char *run, qsizetype size) { m_part.append(QLatin1StringView(run, size)); }
    void utf8(const char *run, qsizetype size) { m_part.append(QString::fromUtf8(run, size)); }
    void unit(char16_t c)
    {
        if (c == u'\\')
            finish();
        else
            m_part.append(QChar(c));
    }
    void finish()
    {
        if (!m_part.isEmpty())
            m_onPart(QStringView(m_part));
        m_part.resize(0);
    }

private:
    QString &m_part;
    Part m_onPart;
};

// Whether a key line's name ('[' already passed) holds only plain ASCII and
// "\\" separators up to its ']': the common case, whose parts are views of
// the file's bytes with nothing to decode.
bool plainKeyName(const char *p, const char *stop)
{
    while (p < stop) {
        const char c = *p;
        if (c == ']')
            return true;
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
        if (c == '\\') {
            if (p + 1 >= stop || p[1] != '\\')
                return false;
            p += 2;
            continue;
        }
        ++p;
    }
    return false;
}

} // namespace

// Finds a key's child by name while loading, in constant time, through a
// hash table chained through the keys themselves. Children are kept in
// file order and sorted once at the end, since a file that is not in
// Wine's order (hand-edited, generated) would otherwise cost a sorted
// insert per key.
class WineRegistryFile::TreeBuilder
{
public:
    TreeBuilder(const QByteArray &bytes, Tree &tree, const QString &name)
        : m_bytes(bytes.constData())
        , m_size(bytes.size())
        , m_tree(tree)
        , m_name(name)
        // The file itself plus three times its size, and room for any small file.
        , m_budget(3 * qint64(bytes.size()) + (16 << 20))
    {
        m_tree.root = m_tree.keys.add();
        // Sized for a key every 256 bytes (real prefixes have one every 183
        // or so), so that a usual file never grows the table.
        size_t buckets = 1024;
        while (buckets < size_t(m_size / 256))
            buckets *= 2;
        m_buckets.resize(buckets);
    }

    // The key line at `at`; Wine skips a malformed one and the values under it.
    void keyLine(qsizetype at)
    {
        const qsizetype nameEnd = lineEnd(m_bytes, at, m_size);
        const char *const stop = m_bytes + nameEnd;
        const char *p = m_bytes + at + 1;
        Key *key = m_tree.root;
        // The names this line shares with the previous plain one are plain:
        // only the rest is checked.
        const char *const name = p;
        const size_t depth = sharedDepth(name, stop);
        const char *const rest = depth > 0 ? name + m_path[depth - 1].end : name;
        if (plainKeyName(rest, stop)) {
            if (depth > 0) {
                key = m_path[depth - 1].key;
                p = rest;
            }
            m_path.resize(depth);
            if (*p != ']') {
                if (p > name)
                    p += 2; // past the separator after the shared keys
                for (const char *part = p;; p += 2, part = p) {
                    while (*p != ']' && *p != '\\')
                        ++p;
                    if (p > part) {
                        key = child(key, QLatin1StringView(part, p - part));
                        m_path.push_back({quint32(p - name), key});
                    }
                    if (*p == ']')
                        break;
                }
            }
            m_previous = QByteArrayView(name, stop - name);
        } else {
            m_previous = {};
            m_path.clear();
            if (const char *check = p; !parseString(check, stop, ']', NoText()))
                return;
            auto onPart = [&](QStringView part) { key = child(key, part); };
            KeyPartSink<decltype(onPart)> parts(m_part, onPart);
            parseString(p, stop, ']', parts);
            parts.finish();
        }
        if (!key->block) {
            key->block = quint32(at);
        } else {
            if (!key->extra)
                spend(sizeof(Extra));
            spend(sizeof(quint32));
            key->ensureExtra().moreBlocks.push_back(quint32(at));
        }
        // Meta lines follow the key line directly.
        for (qsizetype line = nameEnd + 1; line < m_size && m_bytes[line] == '#';) {
            const qsizetype end = lineEnd(m_bytes, line, m_size);
            QByteArrayView text(m_bytes + line, end - line);
            if (text.endsWith('\r'))
                text.chop(1);
            if (text == "#link")
                key->flags |= Key::Link;
            line = end + 1;
        }
    }

    // Puts every key's children in one table, each key's in one run, in
    // Wine's order.
    void finish()
    {
        std::vector<quint32>().swap(m_buckets);
        KeyArena &keys = m_tree.keys;
        m_tree.children.resize(keys.size() - 1); // every key but the root has a parent
        Key **run = m_tree.children.data();
        for (quint32 i = 0; i < keys.size(); ++i) {
            Key *key = keys.at(i);
            key->children = run;
            run += key->childCount;
            key->childCount = 0;
        }
        for (quint32 i = 1; i < keys.size(); ++i) {
            Key *key = keys.at(i);
            key->parent->children[key->parent->childCount++] = key;
        }
        auto less = [this](const Key *a, const Key *b) {
            return withName(m_bytes, m_tree, a, [&](auto x) {
                       return withName(m_bytes, m_tree, b, [&](auto y) { return wineCompare(x, y); });
                   }) < 0;
        };
        for (quint32 i = 0; i < keys.size(); ++i) {
            Key *key = keys.at(i);
            Key **const begin = key->children;
            Key **const end = begin + key->childCount;
            if (key->childCount > 1 && !std::is_sorted(begin, end, less))
                std::sort(begin, end, less);
        }
    }

private:
    // A key named on the previous plain key line, and where its name ends
    // there: the byte after it is a separator or the closing ']'.
    struct PathStep
    {
        quint32 end;
        Key *key;
    };

    // How many keys of the previous plain key line the one at name (up to
    // stop) names as well: Wine writes keys in order, so most lines share
    // all but their last name with the line before, and those need no look-up.
    size_t sharedDepth(const char *name, const char *stop) const
    {
        const qsizetype limit = std::min<qsizetype>(stop - name, m_previous.size());
        qsizetype common = 0;
        while (limit - common >= 8
               && qFromUnaligned<quint64>(name + common) == qFromUnaligned<quint64>(m_previous.data() + common))
            common += 8;
        while (common < limit && name[common] == m_previous[common])
            ++common;
        size_t depth = m_path.size();
        while (depth > 0) {
            const quint32 end = m_path[depth - 1].end;
            if (end <= common && end < stop - name && (name[end] == '\\' || name[end] == ']'))
                break;
            --depth;
        }
        return depth;
    }

    template<typename View>
    Key *child(Key *parent, View name)
    {
        const size_t hash = hashOf(parent, name);
        const quint32 first = m_buckets[hash & (m_buckets.size() - 1)];
        for (Key *key = first ? m_tree.keys.at(first - 1) : nullptr; key; key = key->nextInBucket) {
            if (key->parent == parent
                && withName(m_bytes, m_tree, key, [&](auto spelt) { return wineCompare(spelt, name) == 0; }))
                return key;
        }
        spend(keyCost);
        if (name.size() > Key::MaxNameSize)
            throw Error(u"%1 holds a key name of %2 characters, too long for Kelvane to read."_s.arg(
                            QDir::toNativeSeparators(m_name))
                            .arg(name.size()));
        Key *key = m_tree.keys.add();
        key->parent = parent;
        ++parent->childCount;
        key->nameSize = quint32(name.size());
        if constexpr (std::is_same_v<View, QLatin1StringView>) {
            key->nameAt = quint32(name.data() - m_bytes);
        } else {
            spend(2 * name.size());
            key->nameAt = quint32(m_tree.names.size());
            key->flags |= Key::DecodedName;
            m_tree.names.append(reinterpret_cast<const char16_t *>(name.utf16()), size_t(name.size()));
        }
        if (m_tree.keys.size() > m_buckets.size())
            grow();
        else
            link(key, m_tree.keys.size(), hash);
        return key;
    }

    template<typename View>
    static size_t hashOf(const Key *parent, View name)
    {
        return foldedHash(name, size_t(reinterpret_cast<quintptr>(parent)) * 0x9e3779b97f4a7c15ULL);
    }

    void link(Key *key, quint32 number, size_t hash)
    {
        quint32 &bucket = m_buckets[hash & (m_buckets.size() - 1)];
        key->nextInBucket = bucket ? m_tree.keys.at(bucket - 1) : nullptr;
        bucket = number;
    }

    void grow()
    {
        m_buckets.assign(m_buckets.size() * 2, 0);
        for (quint32 i = 1; i < m_tree.keys.size(); ++i) {
            Key *key = m_tree.keys.at(i);
            link(key, i + 1, withName(m_bytes, m_tree, key, [&](auto name) { return hashOf(key->parent, name); }));
        }
    }

    // A Wine registry names a key in a few dozen bytes at least, and most
    // keys hold values: a file that would take more than three times its
    // size to index is damaged, or made to exhaust memory.
    void spend(qint64 bytes)
    {
        m_spent += bytes;
        if (m_spent > m_budget)
            throw Error(u"%1 names far more registry keys than a Wine registry of its size (%2 bytes) can hold; "
                        u"it is damaged or not a Wine registry, and Kelvane does not read it."_s
                            .arg(QDir::toNativeSeparators(m_name))
                            .arg(m_size));
    }

    const char *m_bytes;
    qsizetype m_size;
    Tree &m_tree;
    const QString &m_name;
    std::vector<quint32> m_buckets; // key index + 1, 0 for none; a power of two in number
    QString m_part;
    QByteArrayView m_previous; // the name of the previous plain key line
    std::vector<PathStep> m_path; // the keys it named, outermost first
    qint64 m_budget;
    qint64 m_spent = 0;
};

void checkRegistrySize(qint64 size, const QString &name)
{
    if (size < 0 || quint64(size) >= std::numeric_limits<quint32>::max())
        throw Error(u"The registry file %1 is too large to read (%2 bytes; at most 4 GB)."_s.arg(
                        QDir::toNativeSeparators(name))
                        .arg(size));
}

void WineRegistryFile::load(const QByteArray &bytes)
{
    const char *const data = bytes.constData();
    const qsizetype size = bytes.size();
    const qsizetype firstEnd = lineEnd(data, 0, size);
    QByteArrayView first(data, firstEnd);
    if (first.endsWith('\r'))
        first.chop(1);
    if (first != QByteArrayView(header))
        throw Error(u"%1 is not a Wine registry file: its first line is not \"WINE REGISTRY Version 2\"."_s.arg(
            QDir::toNativeSeparators(m_name)));
    checkRegistrySize(size, m_name);

    auto tree = std::make_unique<Tree>();
    TreeBuilder builder(bytes, *tree, m_name);
    const bool crlf = firstEnd < size && firstEnd > 0 && data[firstEnd - 1] == '\r';
    qsizetype firstKey = size;
    // Key lines start with '['; nothing else can begin a line with it.
    for (qsizetype at = firstEnd + 1; at < size;) {
        const void *bracket = std::memchr(data + at, '[', size_t(size - at));
        if (!bracket)
            break;
        at = static_cast<const char *>(bracket) - data;
        if (data[at - 1] == '\n') {
            firstKey = std::min(firstKey, at);
            builder.keyLine(at);
        }
        ++at;
    }
    builder.finish();
    dropLookups();
    m_bytes = bytes;
    m_firstKey = firstKey;
    m_crlf = crlf;
    m_tree = std::move(tree);
    m_modified = false;
}

} // namespace kelvane
