// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>

#include <functional>
#include <optional>

namespace kelvane {
class HostFile;
}

namespace kelvane::pe {

// The bytes of a program or icon file (or of a buffer), read in small blocks
// as the parse asks for them, so a large installer costs its headers and its
// resources, not its size. Nothing is mapped: a file that an uninstaller
// truncates meanwhile only gives shorter reads, which count as data that is
// not there. Every byte fetched is charged to a budget, so a damaged
// directory that points all over a large file cannot make the parse read, or
// keep, more than that.
class RangeReader
{
public:
    // Up to `length` bytes at `offset`; fewer where the data ends now.
    using ReadFunction = std::function<QByteArray(qint64 offset, qint64 length)>;

    // Far above what the icons and version strings of a real program take.
    static constexpr qint64 DefaultBudget = 48 * 1024 * 1024;
    static constexpr qint64 BlockSize = 4096;

    RangeReader(qint64 size, ReadFunction read, qint64 budget = DefaultBudget);
    static RangeReader ofBytes(const QByteArray &bytes);
    // Reads through `file`, which must outlive the reader; a failing read
    // counts as data that is not there.
    static RangeReader ofFile(const HostFile &file);

    // The size the data had when it was opened.
    qint64 size() const { return m_size; }
    // Whether the range lies inside that size (whether it can still be read
    // is known only by reading it).
    bool has(qint64 offset, qint64 length) const;

    std::optional<quint16> u16(qint64 offset) const;
    std::optional<quint32> u32(qint64 offset) const;
    // Exactly `length` bytes at `offset`, or nothing: outside the data, over
    // the budget, or cut short since the file was opened.
    std::optional<QByteArray> bytes(qint64 offset, qint64 length) const;

private:
    bool copy(qint64 offset, qint64 length, char *out) const;
    const QByteArray *block(qint64 index) const;
    bool spend(qint64 length) const;

    qint64 m_size;
    ReadFunction m_read;
    mutable qint64 m_budget;
    mutable QHash<qint64, QByteArray> m_blocks; // block number -> its bytes, as read
};

} // namespace kelvane::pe
