// SPDX-License-Identifier: GPL-3.0-or-later
#include "HiveRegistryFile.h"

#include "host/Error.h"
#include "host/FileStamp.h"
#include "host/HostFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <hivex.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// hivex writes a value's data in one cell; Windows keeps larger ones in pieces.
constexpr qsizetype MaxCellData = 16344;
// The base block, as far as Kelvane checks it before hivex reads it.
constexpr qsizetype BaseBlockSize = 0x1000;
constexpr int PrimarySequence = 0x04;
constexpr int SecondarySequence = 0x08;
constexpr int MinorVersion = 0x18;
constexpr int BinsSize = 0x28;
constexpr int Checksum = 0x1fc;
// The store's HKLM holds the hive under this one name.
constexpr QStringView HiveKey = u"SOFTWARE";
// The largest hive read: Windows keeps SOFTWARE well under this.
constexpr qint64 MaxHiveSize = qint64(2) << 30;

// What hivex hands over with malloc() is given back with free().
struct FreeDeleter
{
    void operator()(void *memory) const { std::free(memory); }
};
template<typename T>
using Owned = std::unique_ptr<T, FreeDeleter>;

// Why a file of `size` bytes starting with `head` is no hive hivex should
// read; empty when its base block holds.
QString baseBlockProblem(const QByteArray &head, qint64 size)
{
    if (!head.startsWith("regf"))
        return u"it is no Windows registry hive (no \"regf\" signature)"_s;
    if (size < 2 * BaseBlockSize || head.size() < BaseBlockSize)
        return u"it is cut short (%1 bytes)"_s.arg(size);
    quint32 sum = 0;
    for (int at = 0; at < Checksum; at += 4)
        sum ^= qFromLittleEndian<quint32>(head.constData() + at);
    if (sum != qFromLittleEndian<quint32>(head.constData() + Checksum))
        return u"its base block is damaged (wrong checksum)"_s;
    const quint32 bins = qFromLittleEndian<quint32>(head.constData() + BinsSize);
    if (bins == 0 || qint64(bins) > size - BaseBlockSize)
        return u"it is cut short: its base block announces %1 bytes of data, the file holds %2"_s.arg(bins).arg(
            size - BaseBlockSize);
    return {};
}

// Why the bins are unsafe for hivex to read; empty when every bin lies in the
// file and every cell in its bin. hivex checks where cells start, not where
// they end: a cell running past its bin would have it read past its memory.
QString binsProblem(const std::function<QByteArray(qint64, qint64)> &read, qint64 binsSize)
{
    constexpr qint64 BinHeader = 0x20;
    for (qint64 bin = 0; bin < binsSize;) {
        const QByteArray header = read(BaseBlockSize + bin, BinHeader);
        if (header.size() < BinHeader || !header.startsWith("hbin"))
            return u"its data is damaged (no bin at offset %1)"_s.arg(bin);
        const qint64 size = qFromLittleEndian<quint32>(header.constData() + 8);
        if (size < BinHeader || size % 0x1000 != 0 || bin + size > binsSize)
            return u"its data is damaged (a bin of %1 bytes at offset %2)"_s.arg(size).arg(bin);
        const QByteArray cells = read(BaseBlockSize + bin + BinHeader, size - BinHeader);
        if (cells.size() < size - BinHeader)
            return u"it is cut short in its bin at offset %1"_s.arg(bin);
        for (qint64 at = 0; at < cells.size();) {
            const qint32 sized = qFromLittleEndian<qint32>(cells.constData() + at);
            const qint64 length = sized < 0 ? -qint64(sized) : qint64(sized);
            if (length < 8 || at + length > cells.size())
                return u"its data is damaged (a cell of %1 bytes at offset %2)"_s.arg(length).arg(bin + BinHeader + at);
            at += length;
        }
        bin += size;
    }
    return {};
}

// A memory file holding `bytes`, for hivex to read by name.
class MemoryFile
{
public:
    explicit MemoryFile(const QByteArray &bytes)
        : m_fd(::memfd_create("kelvane-hive", MFD_CLOEXEC))
    {
        if (m_fd < 0)
            return;
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ::close(m_fd);
                m_fd = -1;
                return;
            }
            done += n;
        }
    }
    ~MemoryFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    bool ok() const { return m_fd >= 0; }
    QByteArray name() const { return "/proc/self/fd/" + QByteArray::number(m_fd); }

private:
    int m_fd;
};

QStringList splitPath(const QString &path)
{
    return path.isEmpty() ? QStringList() : path.split(u'\\');
}

} // namespace

void HiveRegistryFile::HiveCloser::operator()(hive_h *hive) const
{
    hivex_close(hive);
}

bool HiveRegistryFile::looksLikeHive(const QByteArray &bytes)
{
    return bytes.startsWith("regf");
}

std::unique_ptr<HiveRegistryFile> HiveRegistryFile::open(const QString &path)
{
    std::unique_ptr<HiveRegistryFile> file(new HiveRegistryFile);
    // Saving renames over the real file, not over a link to it.
    const QFileInfo info(path);
    file->m_path = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    file->m_name = QDir::toNativeSeparators(file->m_path);
    file->reload();
    return file;
}

std::unique_ptr<HiveRegistryFile> HiveRegistryFile::fromBytes(const QByteArray &bytes, const QString &nameForMessages)
{
    std::unique_ptr<HiveRegistryFile> file(new HiveRegistryFile);
    file->m_name = nameForMessages;
    const MemoryFile memory(bytes);
    if (!memory.ok())
        throw Error(u"Cannot read the registry hive %1: no memory to hold it (%2)."_s.arg(nameForMessages,
                                                                                          systemReason(errno)));
    file->load(bytes.left(BaseBlockSize), bytes.size(), memory.name(),
               [&bytes](qint64 offset, qint64 length) { return bytes.mid(offset, length); });
    return file;
}

HiveRegistryFile::~HiveRegistryFile() = default;

void HiveRegistryFile::load(const QByteArray &head, qint64 size, const QByteArray &openName,
                            const std::function<QByteArray(qint64, qint64)> &read)
{
    QString problem = baseBlockProblem(head, size);
    if (problem.isEmpty())
        problem = binsProblem(read, qFromLittleEndian<quint32>(head.constData() + BinsSize));
    if (!problem.isEmpty())
        throw Error(u"Cannot read the registry hive %1: %2."_s.arg(m_name, problem));
    if (size > MaxHiveSize)
        throw Error(u"Cannot read the registry hive %1: at %2 bytes it is larger than any Windows keeps."_s.arg(
            m_name).arg(size));
    errno = 0;
    // hivex reads the whole file into its own memory: edits never touch it.
    hive_h *hive = hivex_open(openName.constData(), HIVEX_OPEN_WRITE);
    if (!hive) {
        const int error = errno ? errno : EINVAL;
        // hivex says EINVAL or ENOTSUP for what it cannot make sense of.
        if (error == EINVAL || error == ENOTSUP || error == EFAULT || error == ERANGE)
            throw Error(u"Cannot read the registry hive %1: it is damaged (%2)."_s.arg(m_name, systemReason(error)));
        throw Error(u"Cannot read the registry hive %1: %2."_s.arg(m_name, systemReason(error)), errorKindOf(error));
    }
    m_minorVersion = qFromLittleEndian<quint32>(head.constData() + MinorVersion);
    m_hive.reset(hive);
    m_children.clear();
    m_valueIndex.clear();
    m_nodeByPath.clear();
    m_modified = false;
    m_dirty = qFromLittleEndian<quint32>(head.constData() + PrimarySequence)
              != qFromLittleEndian<quint32>(head.constData() + SecondarySequence);
}

void HiveRegistryFile::reload()
{
    if (m_path.isEmpty())
        throw Error(u"The registry hive %1 has no file to read again."_s.arg(m_name));
    // Opened without blocking and refused unless it is a regular file; hivex
    // then reads this open file, not whatever its path names by then.
    const HostFile file(m_path);
    load(file.read(0, BaseBlockSize), file.size(), file.descriptorName(),
         [&file](qint64 offset, qint64 length) { return file.read(offset, length); });
    m_stamp = FileStamp::of(file.status());
}

QString HiveRegistryFile::location() const
{
    return m_name;
}

void HiveRegistryFile::fail(const QString &what, const QString &keyPath) const
{
    const int error = errno ? errno : EINVAL;
    throw Error(u"Cannot %1 HKEY_LOCAL_MACHINE\\%2 in the registry hive %3: %4"_s.arg(what, keyPath, m_name,
                                                                                      systemReason(error)),
                errorKindOf(error), m_path);
}

QString HiveRegistryFile::nodeName(Node node) const
{
    errno = 0;
    const Owned<char> name(hivex_node_name(m_hive.get(), node));
    return name ? QString::fromUtf8(name.get()) : QString();
}

HiveRegistryFile::Node HiveRegistryFile::child(Node parent, const QString &name) const
{
    auto known = m_children.find(parent);
    if (known == m_children.end()) {
        // Looked up once per node: hivex itself searches its children one by one.
        QHash<QString, Node> byName;
        errno = 0;
        const Owned<hive_node_h> children(hivex_node_children(m_hive.get(), parent));
        if (children) {
            for (const hive_node_h *node = children.get(); *node; ++node)
                byName.insert(nodeName(*node).toLower(), *node);
        }
        known = m_children.insert(parent, byName);
    }
    return known->value(name.toLower(), 0);
}

HiveRegistryFile::Node HiveRegistryFile::find(const QString &path) const
{
    // A scan asks for each key's values one by one, with the same spelling
    // of its path: the path is looked up once, as it is spelt.
    if (const auto known = m_nodeByPath.constFind(path); known != m_nodeByPath.constEnd())
        return *known;
    const QStringList names = splitPath(path);
    Node node = 0;
    if (!names.isEmpty() && names.first().compare(HiveKey, Qt::CaseInsensitive) == 0) {
        node = hivex_root(m_hive.get());
        for (qsizetype i = 1; i < names.size() && node; ++i)
            node = child(node, names[i]);
    }
    m_nodeByPath.insert(path, node);
    return node;
}

bool HiveRegistryFile::keyExists(const QString &path) const
{
    return path.isEmpty() || find(path) != 0;
}

QStringList HiveRegistryFile::subkeyNames(const QString &path) const
{
    if (path.isEmpty())
        return {HiveKey.toString()};
    const Node node = find(path);
    QStringList names;
    if (!node)
        return names;
    // A damaged hive may list a key's own ancestor as its subkey: a walk of
    // the tree (a backup, an export) would never end.
    QList<Node> ancestors;
    const QStringList parts = splitPath(path);
    for (qsizetype i = 1; i <= parts.size(); ++i)
        ancestors.append(find(parts.mid(0, i).join(u'\\')));
    errno = 0;
    const Owned<hive_node_h> children(hivex_node_children(m_hive.get(), node));
    if (children) {
        for (const hive_node_h *child = children.get(); *child; ++child)
            if (!ancestors.contains(*child))
                names.append(nodeName(*child));
    }
    return names;
}

QList<RegistryValue> HiveRegistryFile::values(const QString &path) const
{
    QList<RegistryValue> found;
    const Node node = find(path);
    if (!node)
        return found;
    errno = 0;
    const Owned<hive_value_h> handles(hivex_node_values(m_hive.get(), node));
    if (!handles)
        return found;
    for (const hive_value_h *handle = handles.get(); *handle; ++handle) {
        const Owned<char> key(hivex_value_key(m_hive.get(), *handle));
        hive_type type = hive_t_none;
        size_t length = 0;
        const Owned<char> data(hivex_value_value(m_hive.get(), *handle, &type, &length));
        // A value hivex cannot read (a data cell out of range) is left out.
        if (!key || !data)
            continue;
        found.append(RegistryValue::fromBytes(QString::fromUtf8(key.get()), quint32(type),
                                              QByteArray(data.get(), qsizetype(length))));
    }
    return found;
}

std::optional<RegistryValue> HiveRegistryFile::value(const QString &path, const QString &name) const
{
    const Node node = find(path);
    if (!node)
        return std::nullopt;
    // The names are read once per key; only the value asked for has its data decoded.
    auto index = m_valueIndex.find(node);
    if (index == m_valueIndex.end()) {
        QHash<QString, size_t> byName;
        errno = 0;
        const Owned<hive_value_h> handles(hivex_node_values(m_hive.get(), node));
        for (const hive_value_h *handle = handles.get(); handle && *handle; ++handle) {
            const Owned<char> key(hivex_value_key(m_hive.get(), *handle));
            if (key)
                byName.insert(QString::fromUtf8(key.get()), *handle);
        }
        index = m_valueIndex.insert(node, byName);
    }
    // As stored, else in any letter case.
    size_t handle = index->value(name, 0);
    for (auto each = index->cbegin(); !handle && each != index->cend(); ++each)
        if (each.key().compare(name, Qt::CaseInsensitive) == 0)
            handle = each.value();
    if (!handle)
        return std::nullopt;
    const Owned<char> key(hivex_value_key(m_hive.get(), handle));
    hive_type type = hive_t_none;
    size_t length = 0;
    const Owned<char> data(hivex_value_value(m_hive.get(), handle, &type, &length));
    if (!key || !data)
        return std::nullopt;
    return RegistryValue::fromBytes(QString::fromUtf8(key.get()), quint32(type),
                                    QByteArray(data.get(), qsizetype(length)));
}

void HiveRegistryFile::ensureRewritable(Node node, const QString &path, int depth) const
{
    const auto refuse = [&](const QString &why) {
        return Error(u"Kelvane leaves HKEY_LOCAL_MACHINE\\%1 in the registry hive %2 as it is: %3."_s.arg(
            path, m_name, why));
    };
    if (depth > 512)
        throw refuse(u"its keys are nested deeper than Windows nests them"_s);
    // hivex rewrites a key's values from what it can read, and would abort
    // on a value whose data it cannot find: every one must read back whole.
    const size_t listed = hivex_node_nr_values(m_hive.get(), node);
    const Owned<hive_value_h> handles(hivex_node_values(m_hive.get(), node));
    size_t readable = 0;
    for (const hive_value_h *handle = handles.get(); handle && *handle; ++handle) {
        hive_type type = hive_t_none;
        size_t length = 0;
        const Owned<char> key(hivex_value_key(m_hive.get(), *handle));
        const Owned<char> data(hivex_value_value(m_hive.get(), *handle, &type, &length));
        if (!key || !data)
            break;
        // hivex writes big values as one cell, which newer hives read otherwise.
        if (length > size_t(MaxCellData) && m_minorVersion >= 4)
            throw refuse(u"it holds a value of %1 bytes that hivex cannot write in this hive's format"_s.arg(length));
        ++readable;
    }
    if (readable != listed)
        throw refuse(u"some of its values cannot be read (the hive is damaged there)"_s);
}

void HiveRegistryFile::ensureSubtreeRewritable(Node node, const QString &path, int depth) const
{
    ensureRewritable(node, path, depth);
    const Owned<hive_node_h> children(hivex_node_children(m_hive.get(), node));
    for (const hive_node_h *child = children.get(); child && *child; ++child) {
        if (hivex_node_parent(m_hive.get(), *child) != node)
            throw Error(u"Kelvane leaves HKEY_LOCAL_MACHINE\\%1 in the registry hive %2 as it is: a key below it "
                        "is damaged."_s.arg(path, m_name));
        ensureSubtreeRewritable(*child, path + u'\\' + nodeName(*child), depth + 1);
    }
}

void HiveRegistryFile::changed()
{
    m_modified = true;
    m_children.clear();
    m_valueIndex.clear();
    m_nodeByPath.clear();
}

void HiveRegistryFile::createKey(const QString &path)
{
    const QStringList names = splitPath(path);
    if (names.isEmpty())
        return;
    if (names.first().compare(HiveKey, Qt::CaseInsensitive) != 0)
        throw Error(u"Cannot create HKEY_LOCAL_MACHINE\\%1 in the registry hive %2: the hive holds only "
                    "HKEY_LOCAL_MACHINE\\SOFTWARE."_s.arg(path, m_name));
    Node node = hivex_root(m_hive.get());
    for (qsizetype i = 1; i < names.size(); ++i) {
        if (const Node existing = child(node, names[i])) {
            node = existing;
            continue;
        }
        errno = 0;
        node = hivex_node_add_child(m_hive.get(), node, names[i].toUtf8().constData());
        const int error = errno;
        changed();
        errno = error;
        if (!node)
            fail(u"create"_s, names.mid(0, i + 1).join(u'\\'));
    }
}

void HiveRegistryFile::setValue(const QString &path, const RegistryValue &value)
{
    createKey(path);
    const Node node = find(path);
    if (!node)
        fail(u"open"_s, path);
    ensureRewritable(node, path, 0);
    // hivex replaces all the values of a key at once.
    QList<RegistryValue> all = values(path);
    bool replaced = false;
    for (RegistryValue &existing : all) {
        if (existing.name.compare(value.name, Qt::CaseInsensitive) == 0) {
            existing = value;
            replaced = true;
        }
    }
    if (!replaced)
        all.append(value);
    std::vector<QByteArray> names;
    names.reserve(size_t(all.size()));
    std::vector<hive_set_value> set;
    set.reserve(size_t(all.size()));
    for (const RegistryValue &each : std::as_const(all)) {
        names.push_back(each.name.toUtf8());
        set.push_back(hive_set_value{names.back().data(), hive_type(each.type), size_t(each.data.size()),
                                     const_cast<char *>(each.data.constData())});
    }
    errno = 0;
    const int result = hivex_node_set_values(m_hive.get(), node, set.size(), set.data(), 0);
    const int error = errno;
    changed();
    errno = error;
    if (result != 0)
        fail(u"write the value \"%1\" of"_s.arg(value.name), path);
}

void HiveRegistryFile::deleteTree(const QString &path)
{
    const Node node = find(path);
    if (!node)
        return;
    if (node == hivex_root(m_hive.get()))
        throw Error(u"Cannot delete HKEY_LOCAL_MACHINE\\%1 in the registry hive %2: it is the hive itself."_s.arg(
            path, m_name));
    // hivex deletes a subtree key by key and stops at the first it cannot
    // read, leaving the rest half-deleted.
    ensureSubtreeRewritable(node, path, 0);
    errno = 0;
    const int result = hivex_node_delete_child(m_hive.get(), node);
    const int error = errno;
    changed();
    errno = error;
    if (result != 0)
        fail(u"delete"_s, path);
}

} // namespace kelvane
