// SPDX-License-Identifier: GPL-3.0-or-later
#include "CompactHive.h"

#include "Utf16.h"

#include <QtEndian>

#include <algorithm>
#include <numeric>
#include <stdexcept>

namespace kelvane::test {

namespace {

constexpr int BaseBlockSize = 0x1000;
constexpr int BinHeaderSize = 0x20;
constexpr int BinUnit = 0x1000;
constexpr quint32 NoCell = 0xffffffff;
constexpr int MaxCellData = 16344;

// A name in its stored form: Latin-1 when every character fits ("compressed"), else UTF-16LE.
struct StoredName
{
    QByteArray bytes;
    bool compressed;
};

StoredName stored(const QString &name)
{
    const bool latin1 = std::all_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x100; });
    if (latin1)
        return {name.toLatin1(), true};
    return {utf16Bytes(name), false};
}

quint32 nameHash(const QString &name)
{
    quint32 hash = 0;
    for (QChar c : name)
        hash = hash * 37 + c.toUpper().unicode();
    return hash;
}

class Writer
{
public:
    // A cell of `size` data bytes; its offset from the first bin.
    int alloc(int size)
    {
        const int cell = (size + 4 + 7) & ~7;
        if (m_binEnd - m_used < cell) {
            closeBin();
            const int binSize = std::max(BinUnit, ((cell + BinHeaderSize + BinUnit - 1) / BinUnit) * BinUnit);
            m_binStart = int(m_bins.size());
            m_bins.append(QByteArray(binSize, '\0'));
            m_bins.replace(m_binStart, 4, "hbin");
            put32(m_binStart + 4, quint32(m_binStart));
            put32(m_binStart + 8, quint32(binSize));
            m_used = m_binStart + BinHeaderSize;
            m_binEnd = m_binStart + binSize;
        }
        const int offset = m_used;
        put32(offset, quint32(-cell));
        m_used += cell;
        return offset;
    }
    // The cell's data starts 4 bytes in.
    void put16(int at, quint16 value) { qToLittleEndian(value, m_bins.data() + at); }
    void put32(int at, quint32 value) { qToLittleEndian(value, m_bins.data() + at); }
    void putBytes(int at, const QByteArray &bytes) { m_bins.replace(at, bytes.size(), bytes); }

    QByteArray finish()
    {
        closeBin();
        return m_bins;
    }

private:
    void closeBin()
    {
        if (m_binEnd > m_used)
            put32(m_used, quint32(m_binEnd - m_used)); // the rest is one free cell
    }

    QByteArray m_bins;
    int m_binStart = 0;
    int m_used = 0;
    int m_binEnd = 0;
};

class HiveLayout
{
public:
    explicit HiveLayout(int keyCount)
    {
        // One security cell for every key, a list of one pointing at itself.
        m_sk = m_out.alloc(0x14 + 20);
        const int d = m_sk + 4;
        m_out.putBytes(d, "sk");
        m_out.put32(d + 0x04, quint32(m_sk));
        m_out.put32(d + 0x08, quint32(m_sk));
        m_out.put32(d + 0x0c, quint32(keyCount));
        m_out.put32(d + 0x10, 20);
        m_out.putBytes(d + 0x14, QByteArray("\x01\x00\x00\x80", 4)); // revision 1, self-relative
    }

    int key(const HiveKey &key, int parent)
    {
        const StoredName name = stored(key.name);
        const int nk = m_out.alloc(0x4c + int(name.bytes.size()));
        std::vector<int> children;
        children.reserve(key.children.size());
        int longestChild = 0;
        for (const HiveKey &child : key.children) {
            children.push_back(this->key(child, nk));
            longestChild = std::max(longestChild, int(stored(child.name).bytes.size()));
        }
        const int d = nk + 4;
        m_out.putBytes(d, "nk");
        quint16 flags = name.compressed ? 0x20 : 0;
        if (parent < 0)
            flags |= 0x0c; // the hive's entry, not to be deleted
        m_out.put16(d + 0x02, flags);
        m_out.put32(d + 0x10, parent < 0 ? 0 : quint32(parent));
        m_out.put32(d + 0x14, quint32(children.size()));
        m_out.put32(d + 0x1c, children.empty() ? NoCell : quint32(subkeyList(key, children)));
        m_out.put32(d + 0x20, NoCell);
        m_out.put32(d + 0x24, quint32(key.values.size()));
        m_out.put32(d + 0x28, key.values.isEmpty() ? NoCell : quint32(valueList(key.values, d)));
        m_out.put32(d + 0x2c, quint32(m_sk));
        m_out.put32(d + 0x30, NoCell);
        m_out.put32(d + 0x34, quint32(longestChild));
        m_out.put16(d + 0x48, quint16(name.bytes.size()));
        m_out.putBytes(d + 0x4c, name.bytes);
        return nk;
    }

    QByteArray bins() { return m_out.finish(); }

private:
    int subkeyList(const HiveKey &key, const std::vector<int> &children)
    {
        // Sorted by the names in upper case, as Windows keeps them.
        std::vector<size_t> order(children.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&key](size_t a, size_t b) {
            return key.children[a].name.toUpper() < key.children[b].name.toUpper();
        });
        const int lh = m_out.alloc(4 + int(children.size()) * 8);
        m_out.putBytes(lh + 4, "lh");
        m_out.put16(lh + 6, quint16(children.size()));
        for (size_t i = 0; i < order.size(); ++i) {
            m_out.put32(lh + 8 + int(i) * 8, quint32(children[order[i]]));
            m_out.put32(lh + 12 + int(i) * 8, nameHash(key.children[order[i]].name));
        }
        return lh;
    }

    int valueList(const QList<RegistryValue> &values, int nkData)
    {
        std::vector<int> cells;
        int longestName = 0;
        int longestData = 0;
        for (const RegistryValue &value : values) {
            const StoredName name = stored(value.name);
            longestName = std::max(longestName, int(name.bytes.size()));
            longestData = std::max(longestData, int(value.data.size()));
            if (value.data.size() > MaxCellData)
                throw std::runtime_error("value data over 16,344 bytes");
            const int vk = m_out.alloc(0x14 + int(name.bytes.size()));
            const int d = vk + 4;
            m_out.putBytes(d, "vk");
            m_out.put16(d + 0x02, quint16(name.bytes.size()));
            if (value.data.size() <= 4) {
                // Small data lives in the offset field itself.
                m_out.put32(d + 0x04, quint32(value.data.size()) | 0x80000000u);
                m_out.putBytes(d + 0x08, value.data);
            } else {
                const int cell = m_out.alloc(int(value.data.size()));
                m_out.putBytes(cell + 4, value.data);
                m_out.put32(d + 0x04, quint32(value.data.size()));
                m_out.put32(d + 0x08, quint32(cell));
            }
            m_out.put32(d + 0x0c, value.type);
            m_out.put16(d + 0x10, name.compressed ? 1 : 0);
            m_out.putBytes(d + 0x14, name.bytes);
            cells.push_back(vk);
        }
        const int list = m_out.alloc(int(cells.size()) * 4);
        for (size_t i = 0; i < cells.size(); ++i)
            m_out.put32(list + 4 + int(i) * 4, quint32(cells[i]));
        m_out.put32(nkData + 0x3c, quint32(longestName));
        m_out.put32(nkData + 0x40, quint32(longestData));
        return list;
    }

    Writer m_out;
    int m_sk = 0;
};

int countKeys(const HiveKey &key)
{
    int count = 1;
    for (const HiveKey &child : key.children)
        count += countKeys(child);
    return count;
}

} // namespace

HiveKey hiveKeyFrom(const RegistryStore &store, const QString &path, const QString &name)
{
    HiveKey key{name, store.values(path), {}};
    for (const QString &child : store.subkeyNames(path))
        key.children.push_back(hiveKeyFrom(store, path + u'\\' + child, child));
    return key;
}

QByteArray compactHive(const HiveKey &root)
{
    HiveLayout layout(countKeys(root));
    const int rootCell = layout.key(root, -1);
    const QByteArray bins = layout.bins();

    QByteArray hive(BaseBlockSize, '\0');
    hive.replace(0, 4, "regf");
    const auto put32 = [&hive](int at, quint32 value) { qToLittleEndian(value, hive.data() + at); };
    put32(0x04, 1);
    put32(0x08, 1);
    put32(0x14, 1);
    put32(0x18, 3);
    put32(0x20, 1);
    put32(0x24, quint32(rootCell));
    put32(0x28, quint32(bins.size()));
    put32(0x2c, 1);
    quint32 sum = 0;
    for (int at = 0; at < 0x1fc; at += 4)
        sum ^= qFromLittleEndian<quint32>(hive.constData() + at);
    put32(0x1fc, sum);
    return hive + bins;
}

} // namespace kelvane::test
