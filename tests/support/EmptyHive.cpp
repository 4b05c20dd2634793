// SPDX-License-Identifier: GPL-3.0-or-later
#include "EmptyHive.h"

#include <QFile>
#include <QtEndian>

#include <hivex.h>

#include <stdexcept>
#include <vector>

namespace kelvane::test {

namespace {

constexpr int BinSize = 0x1000;
constexpr int BinHeaderSize = 0x20;
constexpr quint32 NoCell = 0xffffffff;

void put16(QByteArray &bytes, int at, quint16 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void put32(QByteArray &bytes, int at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

} // namespace

quint32 hiveChecksum(const QByteArray &hive)
{
    quint32 sum = 0;
    for (int at = 0; at < HiveChecksum; at += 4)
        sum ^= qFromLittleEndian<quint32>(hive.constData() + at);
    return sum;
}

void resealHive(QByteArray &hive)
{
    put32(hive, HiveChecksum, hiveChecksum(hive));
}

QByteArray emptyHive()
{
    QByteArray hive(HiveBaseBlockSize + BinSize, '\0');

    // Base block.
    hive.replace(0, 4, "regf");
    put32(hive, HivePrimarySequence, 1);
    put32(hive, HiveSecondarySequence, 1);
    put32(hive, 0x14, 1); // major version
    put32(hive, 0x18, 3); // minor version
    put32(hive, 0x1c, 0); // primary file
    put32(hive, 0x20, 1); // direct memory load
    put32(hive, 0x28, BinSize);
    put32(hive, 0x2c, 1); // clustering factor

    // One bin.
    const int bin = HiveBaseBlockSize;
    hive.replace(bin, 4, "hbin");
    put32(hive, bin + 0x04, 0);       // offset from the first bin
    put32(hive, bin + 0x08, BinSize); // size

    // The root key: an allocated cell (negative size) holding an "nk".
    const int rootCell = BinHeaderSize;
    const QByteArray rootName = "ROOT";
    const int nkSize = (4 + 0x4c + int(rootName.size()) + 7) & ~7;
    const int nk = bin + rootCell;
    put32(hive, nk, quint32(-nkSize));
    hive.replace(nk + 4, 2, "nk");
    put16(hive, nk + 4 + 0x02, 0x2c); // hive entry, not deletable, compressed name
    put32(hive, nk + 4 + 0x10, NoCell);
    put32(hive, nk + 4 + 0x1c, NoCell); // subkeys list
    put32(hive, nk + 4 + 0x20, NoCell); // volatile subkeys list
    put32(hive, nk + 4 + 0x28, NoCell); // values list
    put32(hive, nk + 4 + 0x30, NoCell); // class name
    put16(hive, nk + 4 + 0x48, quint16(rootName.size()));
    hive.replace(nk + 4 + 0x4c, int(rootName.size()), rootName);

    // Its security cell, which new keys share: a list of one, pointing at
    // itself, holding an empty self-relative descriptor.
    const int skCell = rootCell + nkSize;
    const int skSize = (4 + 0x14 + 20 + 7) & ~7;
    const int sk = bin + skCell;
    put32(hive, sk, quint32(-skSize));
    hive.replace(sk + 4, 2, "sk");
    put32(hive, sk + 4 + 0x04, quint32(skCell)); // next
    put32(hive, sk + 4 + 0x08, quint32(skCell)); // previous
    put32(hive, sk + 4 + 0x0c, 1);               // reference count
    put32(hive, sk + 4 + 0x10, 20);              // descriptor size
    hive[sk + 4 + 0x14] = 1;                     // revision
    put16(hive, sk + 4 + 0x16, 0x8000);          // self-relative
    put32(hive, nk + 4 + 0x2c, quint32(skCell));

    // The rest of the bin is one free cell (positive size).
    const int freeCell = skCell + skSize;
    put32(hive, bin + freeCell, quint32(BinSize - freeCell));

    put32(hive, HiveRootOffset, quint32(rootCell));
    resealHive(hive);
    return hive;
}

} // namespace kelvane::test

namespace kelvane::test {

HiveBuilder::HiveBuilder(const QString &path)
    : m_path(path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(emptyHive()) != emptyHive().size())
        throw std::runtime_error("cannot write the empty hive");
    file.close();
    m_hive = hivex_open(QFile::encodeName(path).constData(), HIVEX_OPEN_WRITE);
    if (!m_hive)
        throw std::runtime_error("hivex refuses the empty hive");
}

HiveBuilder::~HiveBuilder()
{
    hivex_close(m_hive);
}

size_t HiveBuilder::node(const QString &keyPath)
{
    hive_node_h node = hivex_root(m_hive);
    if (keyPath.isEmpty())
        return node;
    QString path;
    for (const QString &name : keyPath.split(u'\\')) {
        path += name.toLower() + u'\\';
        if (const auto known = m_nodes.constFind(path); known != m_nodes.constEnd()) {
            node = *known;
            continue;
        }
        const QByteArray utf8 = name.toUtf8();
        hive_node_h next = hivex_node_get_child(m_hive, node, utf8.constData());
        if (!next)
            next = hivex_node_add_child(m_hive, node, utf8.constData());
        if (!next)
            throw std::runtime_error("hivex cannot add a key");
        m_nodes.insert(path, next);
        node = next;
    }
    return node;
}

void HiveBuilder::add(const QString &keyPath, const QList<RegistryValue> &values)
{
    const hive_node_h key = node(keyPath);
    std::vector<QByteArray> names;
    names.reserve(size_t(values.size()));
    std::vector<hive_set_value> set;
    for (const RegistryValue &value : values) {
        names.push_back(value.name.toUtf8());
        set.push_back(hive_set_value{names.back().data(), hive_type(value.type), size_t(value.data.size()),
                                     const_cast<char *>(value.data.constData())});
    }
    if (!values.isEmpty() && hivex_node_set_values(m_hive, key, set.size(), set.data(), 0) != 0)
        throw std::runtime_error("hivex cannot set values");
}

void HiveBuilder::commit()
{
    if (hivex_commit(m_hive, nullptr, 0) != 0)
        throw std::runtime_error("hivex cannot write the hive");
}

} // namespace kelvane::test
