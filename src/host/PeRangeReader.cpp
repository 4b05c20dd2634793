// SPDX-License-Identifier: GPL-3.0-or-later
#include "PeRangeReader.h"

#include "Error.h"
#include "HostFile.h"

#include <cstring>

namespace kelvane::pe {

RangeReader::RangeReader(qint64 size, ReadFunction read, qint64 budget)
    : m_size(qMax<qint64>(size, 0))
    , m_read(std::move(read))
    , m_budget(budget)
{
}

RangeReader RangeReader::ofBytes(const QByteArray &bytes)
{
    return RangeReader(bytes.size(), [&bytes](qint64 offset, qint64 length) {
        return bytes.mid(qsizetype(offset), qsizetype(length));
    });
}

RangeReader RangeReader::ofFile(const HostFile &file)
{
    return RangeReader(file.size(), [&file](qint64 offset, qint64 length) {
        try {
            return file.read(offset, length);
        } catch (const Error &) {
            return QByteArray(); // an I/O error: the bytes are not there
        }
    });
}

bool RangeReader::has(qint64 offset, qint64 length) const
{
    return offset >= 0 && length >= 0 && offset <= m_size && length <= m_size - offset;
}

bool RangeReader::spend(qint64 length) const
{
    if (length > m_budget)
        return false;
    m_budget -= length;
    return true;
}

const QByteArray *RangeReader::block(qint64 index) const
{
    if (const auto found = m_blocks.constFind(index); found != m_blocks.constEnd())
        return &*found;
    const qint64 start = index * BlockSize;
    const qint64 length = qMin(BlockSize, m_size - start);
    if (length <= 0 || !spend(length))
        return nullptr;
    // Kept even when short: what came is good, the rest is gone.
    return &*m_blocks.insert(index, m_read(start, length));
}

bool RangeReader::copy(qint64 offset, qint64 length, char *out) const
{
    if (!has(offset, length))
        return false;
    while (length > 0) {
        const qint64 within = offset % BlockSize;
        const QByteArray *data = block(offset / BlockSize); // valid until the next block()
        const qint64 n = qMin(length, BlockSize - within);
        if (!data || within + n > data->size())
            return false;
        std::memcpy(out, data->constData() + within, size_t(n));
        out += n;
        offset += n;
        length -= n;
    }
    return true;
}

std::optional<quint16> RangeReader::u16(qint64 offset) const
{
    uchar b[2];
    if (!copy(offset, 2, reinterpret_cast<char *>(b)))
        return std::nullopt;
    return quint16(b[0] | (b[1] << 8));
}

std::optional<quint32> RangeReader::u32(qint64 offset) const
{
    uchar b[4];
    if (!copy(offset, 4, reinterpret_cast<char *>(b)))
        return std::nullopt;
    return quint32(b[0]) | (quint32(b[1]) << 8) | (quint32(b[2]) << 16) | (quint32(b[3]) << 24);
}

std::optional<QByteArray> RangeReader::bytes(qint64 offset, qint64 length) const
{
    if (!has(offset, length))
        return std::nullopt;
    if (length <= BlockSize) {
        QByteArray out(qsizetype(length), Qt::Uninitialized);
        if (!copy(offset, length, out.data()))
            return std::nullopt;
        return out;
    }
    // Large ranges (images, version data) are read once, whole, past the blocks.
    if (!spend(length))
        return std::nullopt;
    QByteArray out = m_read(offset, length);
    if (out.size() != length)
        return std::nullopt;
    return out;
}

} // namespace kelvane::pe
