// SPDX-License-Identifier: GPL-3.0-or-later
#include "PeImage.h"

#include <limits>

namespace kelvane::pe {

namespace {

// The Windows loader refuses images with more; it also bounds the work of
// every RVA lookup below.
constexpr quint16 MaxSections = 96;

} // namespace

PeImage::PeImage(const RangeReader &reader)
    : m_reader(reader)
{
    m_valid = parseHeaders();
}

std::optional<Span> PeImage::map(quint32 rva, quint32 length) const
{
    for (const Section &s : m_sections) {
        if (rva < s.virtualAddress)
            continue;
        const quint64 delta = quint64(rva) - s.virtualAddress;
        if (delta >= s.rawSize || quint64(length) > s.rawSize - delta)
            continue;
        const qint64 offset = qint64(s.rawOffset) + qint64(delta);
        if (!m_reader.has(offset, length))
            return std::nullopt;
        return Span{offset, length};
    }
    return std::nullopt;
}

std::optional<Span> PeImage::resourceSpan(quint32 resOffset, quint32 length) const
{
    if (resOffset >= m_resourceSize || length > m_resourceSize - resOffset)
        return std::nullopt;
    return map(m_resourceRva + resOffset, length);
}

std::optional<quint32> PeImage::rd32(quint32 resOffset) const
{
    const auto span = resourceSpan(resOffset, 4);
    return span ? m_reader.u32(span->offset) : std::nullopt;
}

std::optional<quint16> PeImage::rd16(quint32 resOffset) const
{
    const auto span = resourceSpan(resOffset, 2);
    return span ? m_reader.u16(span->offset) : std::nullopt;
}

QList<ResourceEntry> PeImage::directory(quint32 offset) const
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
            break; // the rest of the table is outside the section, or unreadable
        entries.append({i < *named, *name & 0x7FFFFFFFu, *target & 0x7FFFFFFFu, (*target & 0x80000000u) != 0});
    }
    return entries;
}

std::optional<Span> PeImage::data(const ResourceEntry &nameEntry) const
{
    // A name entry never points back at the root.
    if (!nameEntry.isDirectory || nameEntry.target == 0)
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

QList<ResourceEntry> PeImage::namesOfType(quint32 type) const
{
    for (const ResourceEntry &e : directory(0)) {
        if (!e.named && e.id == type && e.isDirectory && e.target != 0)
            return directory(e.target);
    }
    return {};
}

bool PeImage::parseHeaders()
{
    const RangeReader &r = m_reader;
    const auto mz = r.u16(0);
    if (r.size() < 64 || !mz || *mz != 0x5A4D) // "MZ"
        return false;
    const auto lfanew = r.u32(0x3C);
    if (!lfanew || !r.has(*lfanew, 24))
        return false;
    const qint64 pe = *lfanew;
    const auto signature = r.u32(pe);
    const auto sectionCount = r.u16(pe + 6);
    const auto optionalSize = r.u16(pe + 20);
    if (!signature || *signature != 0x00004550u || !sectionCount || !optionalSize) // "PE\0\0"
        return false;
    const qint64 opt = pe + 24;
    const auto magic = r.u16(opt);
    if (!magic)
        return false;
    qint64 dirs = 0;
    if (*magic == 0x10B)
        dirs = 96;
    else if (*magic == 0x20B)
        dirs = 112;
    else
        return false;
    const auto rvaCount = r.u32(opt + dirs - 4);
    // The resource directory is the third data directory.
    if (!rvaCount || *rvaCount < 3 || dirs + 3 * 8 > *optionalSize)
        return false;
    const auto resRva = r.u32(opt + dirs + 16);
    const auto resSize = r.u32(opt + dirs + 20);
    if (!resRva || !resSize || *resRva == 0 || *resSize < 16)
        return false;
    const qint64 table = opt + *optionalSize;
    for (quint16 i = 0; i < qMin(*sectionCount, MaxSections); ++i) {
        const qint64 s = table + qint64(i) * 40;
        if (!r.has(s, 40))
            break;
        const auto virtualAddress = r.u32(s + 12);
        const auto rawSize = r.u32(s + 16);
        const auto rawOffset = r.u32(s + 20);
        if (!virtualAddress || !rawSize || !rawOffset)
            break;
        m_sections.append({*virtualAddress, *rawSize, *rawOffset});
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

} // namespace kelvane::pe
