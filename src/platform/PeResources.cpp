#include "PeResources.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

#include <cstdlib>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace kelvane::pe {

namespace {

constexpr quint32 RtIcon = 3;
constexpr quint32 RtGroupIcon = 14;
constexpr quint32 RtVersion = 16;
// No real icon image comes near this; a larger one is taken as damage.
constexpr qint64 MaxIconBytes = 16 * 1024 * 1024;

// Bounds-checked little-endian reads over bytes we do not own.
struct Bytes
{
    const uchar *data = nullptr;
    qint64 size = 0;

    bool has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= size && length <= size - offset;
    }
    std::optional<quint16> u16(qint64 offset) const
    {
        if (!has(offset, 2))
            return std::nullopt;
        return quint16(data[offset] | (data[offset + 1] << 8));
    }
    std::optional<quint32> u32(qint64 offset) const
    {
        if (!has(offset, 4))
            return std::nullopt;
        return quint32(data[offset]) | (quint32(data[offset + 1]) << 8) | (quint32(data[offset + 2]) << 16)
            | (quint32(data[offset + 3]) << 24);
    }
};

struct Section
{
    quint32 virtualAddress;
    quint32 rawSize;
    quint32 rawOffset;
};

struct Span
{
    qint64 offset;
    qint64 length;
};

struct ResourceEntry
{
    bool named;
    quint32 id; // for id entries
    quint32 target; // offset in the resource section, subdirectory bit cleared
    bool isDirectory;
};

class PeImage
{
public:
    explicit PeImage(Bytes bytes)
        : m_bytes(bytes)
    {
        m_valid = parseHeaders();
    }

    bool valid() const { return m_valid; }

    // The file span of an RVA range, or nothing when any of it lies outside the raw data.
    std::optional<Span> map(quint32 rva, quint32 length) const
    {
        for (const Section &s : m_sections) {
            if (rva < s.virtualAddress)
                continue;
            const quint64 delta = quint64(rva) - s.virtualAddress;
            if (delta >= s.rawSize || quint64(length) > s.rawSize - delta)
                continue;
            const qint64 offset = qint64(s.rawOffset) + qint64(delta);
            if (!m_bytes.has(offset, length))
                return std::nullopt;
            return Span{offset, length};
        }
        return std::nullopt;
    }

    std::optional<quint32> rd32(quint32 resOffset) const
    {
        const auto span = resourceSpan(resOffset, 4);
        return span ? m_bytes.u32(span->offset) : std::nullopt;
    }
    std::optional<quint16> rd16(quint32 resOffset) const
    {
        const auto span = resourceSpan(resOffset, 2);
        return span ? m_bytes.u16(span->offset) : std::nullopt;
    }

    // The entries of the resource directory at `offset`, in stored order
    // (named ones first, as the format keeps them).
    QList<ResourceEntry> directory(quint32 offset) const
    {
        QList<ResourceEntry> entries;
        const auto named = rd16(offset + 12);
        const auto ids = rd16(offset + 14);
        if (!named || !ids || offset > std::numeric_limits<quint32>::max() - 16)
            return entries;
        const quint32 count = quint32(*named) + *ids;
        for (quint32 i = 0; i < count; ++i) {
            const quint64 at = quint64(offset) + 16 + quint64(i) * 8;
            if (at > std::numeric_limits<quint32>::max() - 8)
                break;
            const auto name = rd32(quint32(at));
            const auto target = rd32(quint32(at) + 4);
            if (!name || !target)
                break; // the rest of the table is outside the section
            entries.append({i < *named, *name & 0x7FFFFFFFu, *target & 0x7FFFFFFFu, (*target & 0x80000000u) != 0});
        }
        return entries;
    }

    // The data of the first language of a name entry.
    std::optional<Span> data(const ResourceEntry &nameEntry) const
    {
        if (!nameEntry.isDirectory || nameEntry.target == m_rootOffsetInvalid)
            return std::nullopt;
        // Only the first language counts: read its entry alone, not the whole table.
        const auto named = rd16(nameEntry.target + 12);
        const auto ids = rd16(nameEntry.target + 14);
        if (!named || !ids || quint32(*named) + *ids == 0 || nameEntry.target > std::numeric_limits<quint32>::max() - 24)
            return std::nullopt;
        const auto first = rd32(nameEntry.target + 20);
        if (!first || (*first & 0x80000000u) != 0)
            return std::nullopt;
        const quint32 at = *first;
        const auto rva = rd32(at);
        const auto size = rd32(at + 4);
        if (!rva || !size || at > std::numeric_limits<quint32>::max() - 8)
            return std::nullopt;
        return map(*rva, *size);
    }

    // The name entries of a resource type (its subdirectory), empty when missing.
    QList<ResourceEntry> namesOfType(quint32 type) const
    {
        for (const ResourceEntry &e : directory(0)) {
            if (!e.named && e.id == type && e.isDirectory && e.target != 0)
                return directory(e.target);
        }
        return {};
    }

    const Bytes &bytes() const { return m_bytes; }

private:
    static constexpr quint32 m_rootOffsetInvalid = 0; // a name entry never points back at the root

    std::optional<Span> resourceSpan(quint32 resOffset, quint32 length) const
    {
        if (resOffset >= m_resourceSize || length > m_resourceSize - resOffset)
            return std::nullopt;
        return map(m_resourceRva + resOffset, length);
    }

    bool parseHeaders()
    {
        if (m_bytes.size < 64 || m_bytes.data[0] != 'M' || m_bytes.data[1] != 'Z')
            return false;
        const auto lfanew = m_bytes.u32(0x3C);
        if (!lfanew || !m_bytes.has(*lfanew, 24))
            return false;
        const qint64 pe = *lfanew;
        if (*m_bytes.u32(pe) != 0x00004550u)
            return false;
        const quint16 sectionCount = *m_bytes.u16(pe + 6);
        const quint16 optionalSize = *m_bytes.u16(pe + 20);
        const qint64 opt = pe + 24;
        const auto magic = m_bytes.u16(opt);
        if (!magic)
            return false;
        qint64 dirs = 0;
        if (*magic == 0x10B)
            dirs = 96;
        else if (*magic == 0x20B)
            dirs = 112;
        else
            return false;
        const auto rvaCount = m_bytes.u32(opt + dirs - 4);
        // The resource directory is the third data directory.
        if (!rvaCount || *rvaCount < 3 || dirs + 3 * 8 > optionalSize)
            return false;
        const auto resRva = m_bytes.u32(opt + dirs + 16);
        const auto resSize = m_bytes.u32(opt + dirs + 20);
        if (!resRva || !resSize || *resRva == 0 || *resSize < 16)
            return false;
        const qint64 table = opt + optionalSize;
        for (quint16 i = 0; i < sectionCount; ++i) {
            const qint64 s = table + qint64(i) * 40;
            if (!m_bytes.has(s, 40))
                break;
            m_sections.append({*m_bytes.u32(s + 12), *m_bytes.u32(s + 16), *m_bytes.u32(s + 20)});
        }
        m_resourceRva = *resRva;
        m_resourceSize = *resSize;
        // A size running past the section is clipped to what is there.
        for (const Section &s : std::as_const(m_sections)) {
            if (m_resourceRva >= s.virtualAddress && quint64(m_resourceRva) - s.virtualAddress < s.rawSize) {
                const quint64 left = s.rawSize - (quint64(m_resourceRva) - s.virtualAddress);
                if (m_resourceSize > left)
                    m_resourceSize = quint32(left);
                return map(m_resourceRva, 16).has_value();
            }
        }
        return false;
    }

    Bytes m_bytes;
    QList<Section> m_sections;
    quint32 m_resourceRva = 0;
    quint32 m_resourceSize = 0;
    bool m_valid = false;
};

struct DirEntry
{
    int width;
    int height;
    quint8 colors;
    quint16 planes;
    quint16 bitCount;
    quint32 size;
    quint32 idOrOffset; // RT_ICON id in a group, file offset in an .ico
};

// The entry nearest 32 x 32; among equals the deepest colour, then the first.
std::optional<DirEntry> nearest32(const QList<DirEntry> &entries)
{
    std::optional<DirEntry> best;
    int bestDistance = 0;
    for (const DirEntry &e : entries) {
        const int distance = std::abs(e.width - 32) + std::abs(e.height - 32);
        if (!best || distance < bestDistance || (distance == bestDistance && e.bitCount > best->bitCount)) {
            best = e;
            bestDistance = distance;
        }
    }
    return best;
}

std::optional<IconImage> buildIco(const DirEntry &entry, const uchar *image, qint64 length)
{
    if (length <= 0 || length > MaxIconBytes)
        return std::nullopt;
    QByteArray ico;
    ico.reserve(22 + length);
    auto put16 = [&ico](quint16 v) { ico.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto put32 = [&](quint32 v) { put16(quint16(v & 0xFFFF)); put16(quint16(v >> 16)); };
    put16(0);
    put16(1);
    put16(1);
    ico.append(char(entry.width >= 256 ? 0 : entry.width));
    ico.append(char(entry.height >= 256 ? 0 : entry.height));
    ico.append(char(entry.colors));
    ico.append('\0');
    put16(entry.planes);
    put16(entry.bitCount);
    put32(quint32(length));
    put32(22);
    ico.append(reinterpret_cast<const char *>(image), length);
    return IconImage{ico, entry.width, entry.height};
}

DirEntry readDirEntry(const Bytes &b, qint64 at, bool group)
{
    DirEntry e{};
    e.width = b.data[at] == 0 ? 256 : b.data[at];
    e.height = b.data[at + 1] == 0 ? 256 : b.data[at + 1];
    e.colors = b.data[at + 2];
    e.planes = *b.u16(at + 4);
    e.bitCount = *b.u16(at + 6);
    e.size = *b.u32(at + 8);
    e.idOrOffset = group ? *b.u16(at + 12) : *b.u32(at + 12);
    return e;
}

std::optional<IconImage> iconFromIco(const Bytes &b, int index)
{
    const auto reserved = b.u16(0);
    const auto type = b.u16(2);
    const auto count = b.u16(4);
    if (!reserved || *reserved != 0 || *type != 1 || *count == 0 || index != 0)
        return std::nullopt;
    QList<DirEntry> entries;
    for (quint16 i = 0; i < *count && b.has(6 + qint64(i) * 16, 16); ++i) {
        const DirEntry e = readDirEntry(b, 6 + qint64(i) * 16, false);
        if (b.has(e.idOrOffset, e.size))
            entries.append(e);
    }
    const auto best = nearest32(entries);
    if (!best)
        return std::nullopt;
    return buildIco(*best, b.data + best->idOrOffset, best->size);
}

std::optional<IconImage> iconFromPe(const PeImage &pe, int index)
{
    const QList<ResourceEntry> groups = pe.namesOfType(RtGroupIcon);
    const ResourceEntry *group = nullptr;
    if (index >= 0) {
        if (index < groups.size())
            group = &groups.at(index);
    } else {
        const quint32 id = quint32(-qint64(index));
        for (const ResourceEntry &e : groups) {
            if (!e.named && e.id == id) {
                group = &e;
                break;
            }
        }
    }
    if (!group)
        return std::nullopt;
    const auto groupData = pe.data(*group);
    if (!groupData || groupData->length < 6)
        return std::nullopt;
    const Bytes &b = pe.bytes();
    const Bytes dir{b.data + groupData->offset, groupData->length};
    if (*dir.u16(2) != 1)
        return std::nullopt;
    const quint16 count = *dir.u16(4);
    QList<DirEntry> entries;
    for (quint16 i = 0; i < count && dir.has(6 + qint64(i) * 14, 14); ++i)
        entries.append(readDirEntry(dir, 6 + qint64(i) * 14, true));
    QHash<quint32, ResourceEntry> icons;
    for (const ResourceEntry &e : pe.namesOfType(RtIcon)) {
        if (!e.named && !icons.contains(e.id))
            icons.insert(e.id, e);
    }
    // Best first; an entry whose image is missing is passed over, as if the group did not list it.
    const auto distance = [](const DirEntry &e) { return std::abs(e.width - 32) + std::abs(e.height - 32); };
    std::stable_sort(entries.begin(), entries.end(), [&](const DirEntry &l, const DirEntry &r) {
        return distance(l) != distance(r) ? distance(l) < distance(r) : l.bitCount > r.bitCount;
    });
    for (const DirEntry &entry : std::as_const(entries)) {
        const auto it = icons.constFind(entry.idOrOffset);
        if (it == icons.constEnd())
            continue;
        if (const auto image = pe.data(*it))
            return buildIco(entry, b.data + image->offset, image->length);
    }
    return std::nullopt;
}

// One node of a VS_VERSIONINFO tree, all offsets inside `b`.
struct VersionNode
{
    QString key;
    qint64 valueOffset;
    qint64 valueLength; // bytes
    qint64 childrenOffset;
    qint64 end;
};

qint64 align4(qint64 v)
{
    return (v + 3) & ~qint64(3);
}

std::optional<VersionNode> readNode(const Bytes &b, qint64 at, qint64 limit)
{
    const auto length = b.u16(at);
    const auto valueLength = b.u16(at + 2);
    const auto type = b.u16(at + 4);
    if (!length || !valueLength || !type || *length < 6 || at + *length > limit)
        return std::nullopt;
    VersionNode node;
    node.end = at + *length;
    qint64 p = at + 6;
    while (true) {
        if (p + 2 > node.end)
            return std::nullopt;
        const quint16 c = *b.u16(p);
        p += 2;
        if (c == 0)
            break;
        node.key.append(QChar(c));
    }
    node.valueOffset = qMin(align4(p), node.end);
    const qint64 bytes = *type == 1 ? qint64(*valueLength) * 2 : qint64(*valueLength);
    node.valueLength = qMin(bytes, node.end - node.valueOffset);
    node.childrenOffset = qMin(align4(node.valueOffset + node.valueLength), node.end);
    return node;
}

// The children of a node, each checked to lie inside it. Every step moves on
// by at least six bytes, so the loop ends.
QList<VersionNode> children(const Bytes &b, const VersionNode &parent)
{
    QList<VersionNode> list;
    qint64 p = parent.childrenOffset;
    while (p + 6 <= parent.end) {
        const auto child = readNode(b, p, parent.end);
        if (!child)
            break;
        list.append(*child);
        p = align4(child->end);
    }
    return list;
}

QString textValue(const Bytes &b, const VersionNode &node)
{
    QString text;
    for (qint64 p = node.valueOffset; p + 2 <= node.valueOffset + node.valueLength; p += 2) {
        const quint16 c = *b.u16(p);
        if (c == 0)
            break;
        text.append(QChar(c));
    }
    return text;
}

template<typename Result, typename Fn>
Result withFile(const QString &path, Result empty, Fn fn)
{
    const QFileInfo info(path);
    // Devices and pipes could block or never end; only plain files are read.
    if (!info.isFile())
        return empty;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return empty;
    // Mapping instead of reading: installers of hundreds of megabytes carry icons too.
    uchar *mapped = file.map(0, file.size());
    if (!mapped)
        return empty;
    const Result result = fn(Bytes{mapped, file.size()});
    file.unmap(mapped);
    return result;
}

std::optional<IconImage> extractIcon(const Bytes &b, int index)
{
    const PeImage pe(b);
    if (pe.valid())
        return iconFromPe(pe, index);
    return iconFromIco(b, index);
}

QList<QPair<QString, QString>> versionStrings(const Bytes &b, const QString &block)
{
    QList<QPair<QString, QString>> result;
    const PeImage pe(b);
    if (!pe.valid())
        return result;
    const QList<ResourceEntry> names = pe.namesOfType(RtVersion);
    if (names.isEmpty())
        return result;
    const auto span = pe.data(names.first());
    if (!span)
        return result;
    const Bytes v{b.data + span->offset, span->length};
    const auto root = readNode(v, 0, v.size);
    if (!root || root->key != u"VS_VERSION_INFO"_s)
        return result;
    for (const VersionNode &info : children(v, *root)) {
        if (info.key != u"StringFileInfo"_s)
            continue;
        for (const VersionNode &table : children(v, info)) {
            if (table.key.compare(block, Qt::CaseInsensitive) != 0)
                continue;
            for (const VersionNode &entry : children(v, table))
                result.append({entry.key, textValue(v, entry)});
            return result;
        }
    }
    return result;
}

Bytes view(const QByteArray &bytes)
{
    return Bytes{reinterpret_cast<const uchar *>(bytes.constData()), bytes.size()};
}

} // namespace

std::optional<IconImage> extractIcon(const QByteArray &bytes, int index)
{
    return extractIcon(view(bytes), index);
}

std::optional<IconImage> extractIconFromFile(const QString &path, int index)
{
    return withFile(path, std::optional<IconImage>(), [index](const Bytes &b) { return extractIcon(b, index); });
}

QList<QPair<QString, QString>> versionStrings(const QByteArray &bytes, const QString &block)
{
    return versionStrings(view(bytes), block);
}

QList<QPair<QString, QString>> readVersionStrings(const QString &file, const QString &block)
{
    return withFile(file, QList<QPair<QString, QString>>(),
                    [&block](const Bytes &b) { return versionStrings(b, block); });
}

} // namespace kelvane::pe
