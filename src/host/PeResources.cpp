// SPDX-License-Identifier: GPL-3.0-or-later
#include "PeResources.h"

#include "Error.h"
#include "HostFile.h"
#include "PeImage.h"
#include "PeRangeReader.h"

#include <QHash>

#include <algorithm>

#include <cstdlib>

using namespace Qt::Literals::StringLiterals;

namespace kelvane::pe {

namespace {

// No real icon image comes near this; a larger one is taken as damage.
constexpr qint64 MaxIconBytes = 16 * 1024 * 1024;
// A VS_VERSIONINFO block states its length in 16 bits: nothing past this is read.
constexpr qint64 MaxVersionBytes = 0xFFFF;

// Bounds-checked little-endian reads over bytes already read into memory.
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

Bytes view(const QByteArray &bytes)
{
    return Bytes{reinterpret_cast<const uchar *>(bytes.constData()), bytes.size()};
}

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

std::optional<IconImage> buildIco(const DirEntry &entry, const QByteArray &image)
{
    QByteArray ico;
    ico.reserve(22 + image.size());
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
    put32(quint32(image.size()));
    put32(22);
    ico.append(image);
    return IconImage{ico, entry.width, entry.height};
}

// The image of a chosen entry, read only once it is known to be of a sane
// size; a file cut short meanwhile has no icon.
std::optional<IconImage> readImage(const RangeReader &r, const DirEntry &entry, const Span &span)
{
    if (span.length <= 0 || span.length > MaxIconBytes)
        return std::nullopt;
    const auto image = r.bytes(span.offset, span.length);
    if (!image)
        return std::nullopt;
    return buildIco(entry, *image);
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

// The entries of an icon directory of `count` entries of `entrySize` bytes at
// `offset`, as far as `available` bytes hold whole ones.
std::optional<QList<DirEntry>> readDirectory(const RangeReader &r, qint64 offset, qint64 available, quint16 count,
                                             qint64 entrySize, bool group)
{
    const qint64 whole = qMin<qint64>(count, qMax<qint64>(available, 0) / entrySize);
    const auto table = r.bytes(offset, whole * entrySize);
    if (!table)
        return std::nullopt;
    const Bytes b = view(*table);
    QList<DirEntry> entries;
    for (qint64 i = 0; i < whole; ++i)
        entries.append(readDirEntry(b, i * entrySize, group));
    return entries;
}

std::optional<IconImage> iconFromIco(const RangeReader &r, int index)
{
    const auto reserved = r.u16(0);
    const auto type = r.u16(2);
    const auto count = r.u16(4);
    if (!reserved || !type || !count || *reserved != 0 || *type != 1 || *count == 0 || index != 0)
        return std::nullopt;
    const auto directory = readDirectory(r, 6, r.size() - 6, *count, 16, false);
    if (!directory)
        return std::nullopt;
    QList<DirEntry> entries;
    for (const DirEntry &e : *directory) {
        if (r.has(e.idOrOffset, e.size))
            entries.append(e);
    }
    const auto best = nearest32(entries);
    if (!best)
        return std::nullopt;
    return readImage(r, *best, Span{best->idOrOffset, best->size});
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
    const RangeReader &r = pe.reader();
    const auto type = r.u16(groupData->offset + 2);
    const auto count = r.u16(groupData->offset + 4);
    if (!type || !count || *type != 1)
        return std::nullopt;
    auto directory = readDirectory(r, groupData->offset + 6, groupData->length - 6, *count, 14, true);
    if (!directory)
        return std::nullopt;
    QList<DirEntry> &entries = *directory;
    QHash<quint32, ResourceEntry> icons;
    for (const ResourceEntry &e : pe.namesOfType(RtIcon)) {
        if (!e.named && !icons.contains(e.id))
            icons.insert(e.id, e);
    }
    // Best first; an entry whose image is missing is passed over, as if the group did not list it.
    const auto distance = [](const DirEntry &e) { return std::abs(e.width - 32) + std::abs(e.height - 32); };
    std::stable_sort(entries.begin(), entries.end(), [&](const DirEntry &left, const DirEntry &right) {
        return distance(left) != distance(right) ? distance(left) < distance(right) : left.bitCount > right.bitCount;
    });
    for (const DirEntry &entry : std::as_const(entries)) {
        const auto it = icons.constFind(entry.idOrOffset);
        if (it == icons.constEnd())
            continue;
        if (const auto image = pe.data(*it))
            return readImage(r, entry, *image);
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

std::optional<IconImage> extractIcon(const RangeReader &r, int index)
{
    const PeImage pe(r);
    if (pe.valid())
        return iconFromPe(pe, index);
    return iconFromIco(r, index);
}

QList<QPair<QString, QString>> versionStrings(const RangeReader &r, const QString &block)
{
    QList<QPair<QString, QString>> result;
    const PeImage pe(r);
    if (!pe.valid())
        return result;
    const QList<ResourceEntry> names = pe.namesOfType(RtVersion);
    if (names.isEmpty())
        return result;
    const auto span = pe.data(names.first());
    if (!span)
        return result;
    const auto data = r.bytes(span->offset, qMin(span->length, MaxVersionBytes));
    if (!data)
        return result;
    const Bytes v = view(*data);
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

} // namespace

std::optional<IconImage> extractIcon(const QByteArray &bytes, int index)
{
    return extractIcon(RangeReader::ofBytes(bytes), index);
}

std::optional<IconImage> extractIcon(const HostFile &file, int index)
{
    return extractIcon(RangeReader::ofFile(file), index);
}

std::optional<IconImage> extractIconFromFile(const QString &path, int index)
{
    try {
        const HostFile file(path);
        return extractIcon(file, index);
    } catch (const Error &) {
        return std::nullopt;
    }
}

QList<QPair<QString, QString>> versionStrings(const QByteArray &bytes, const QString &block)
{
    return versionStrings(RangeReader::ofBytes(bytes), block);
}

QList<QPair<QString, QString>> versionStrings(const HostFile &file, const QString &block)
{
    return versionStrings(RangeReader::ofFile(file), block);
}

QList<QPair<QString, QString>> readVersionStrings(const QString &file, const QString &block)
{
    try {
        const HostFile host(file);
        return versionStrings(host, block);
    } catch (const Error &) {
        return {};
    }
}

} // namespace kelvane::pe
