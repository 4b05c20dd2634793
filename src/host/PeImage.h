// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "PeRangeReader.h"

#include <QList>

#include <optional>

namespace kelvane::pe {

inline constexpr quint32 RtIcon = 3;
inline constexpr quint32 RtGroupIcon = 14;
inline constexpr quint32 RtVersion = 16;

// A range of the file.
struct Span
{
    qint64 offset;
    qint64 length;
};

struct ResourceEntry
{
    bool named;
    quint32 id;     // for id entries
    quint32 target; // offset in the resource section, subdirectory bit cleared
    bool isDirectory;
};

// The headers and the resource directory of a PE32 or PE32+ file, read
// through a RangeReader as far as the questions asked need. Every offset and
// size comes from the file and is checked before use; a read that fails
// (outside the file, or the file cut short meanwhile) answers "nothing".
class PeImage
{
public:
    explicit PeImage(const RangeReader &reader);

    bool valid() const { return m_valid; }
    const RangeReader &reader() const { return m_reader; }

    // The file span of an RVA range, or nothing when any of it lies outside
    // the raw data.
    std::optional<Span> map(quint32 rva, quint32 length) const;
    // The entries of the resource directory at `offset`, in stored order
    // (named ones first, as the format keeps them).
    QList<ResourceEntry> directory(quint32 offset) const;
    // The data of the first language of a name entry.
    std::optional<Span> data(const ResourceEntry &nameEntry) const;
    // The name entries of a resource type (its subdirectory), empty when missing.
    QList<ResourceEntry> namesOfType(quint32 type) const;

private:
    struct Section
    {
        quint32 virtualAddress;
        quint32 rawSize;
        quint32 rawOffset;
    };

    bool parseHeaders();
    std::optional<Span> resourceSpan(quint32 resOffset, quint32 length) const;
    std::optional<quint32> rd32(quint32 resOffset) const;
    std::optional<quint16> rd16(quint32 resOffset) const;

    const RangeReader &m_reader;
    QList<Section> m_sections;
    quint32 m_resourceRva = 0;
    quint32 m_resourceSize = 0;
    bool m_valid = false;
};

} // namespace kelvane::pe
