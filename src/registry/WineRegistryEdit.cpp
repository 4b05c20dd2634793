// SPDX-License-Identifier: GPL-3.0-or-later
// Changing a WineRegistryFile and writing it out.
#include "WineRegistryTree.h"

#include "WineRegistryFormat.h"
#include "host/Error.h"

#include <QDir>
#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

using namespace winereg;

namespace {

constexpr qint64 filetimeUnixEpoch = 116444736000000000LL; // 1970-01-01 in 100 ns since 1601

void insertValue(QList<RegistryValue> &values, const RegistryValue &value)
{
    auto it = std::lower_bound(values.begin(), values.end(), value.name,
                               [](const RegistryValue &v, const QString &name) { return wineCompare(v.name, name) < 0; });
    if (it != values.end() && wineCompare(it->name, value.name) == 0) {
        // Like Wine, a replaced value keeps the spelling of its name.
        it->type = value.type;
        it->data = value.data;
    }
    else
        values.insert(it, value);
}

} // namespace

// The key's subkeys as a list of its own, which an edit may change.
WineRegistryFile::Key **WineRegistryFile::ownChildren(Key *key)
{
    Extra &extra = key->ensureExtra();
    if (!key->has(Key::OwnChildren)) {
        extra.ownChildren.assign(key->children, key->children + key->childCount);
        std::vector<quint32>().swap(extra.childTable); // for the subkeys as loaded only
        key->flags |= Key::OwnChildren;
    }
    return extra.ownChildren.data();
}

WineRegistryFile::Key *WineRegistryFile::addChild(Key *key, QStringView name)
{
    if (Key *child = findChild(key, name))
        return child;
    ownChildren(key);
    std::vector<Key *> &children = key->extra->ownChildren;
    auto it = std::lower_bound(children.begin(), children.end(), name, [this](const Key *child, QStringView n) {
        return withName(child, [&](auto spelt) { return wineCompare(spelt, n); }) < 0;
    });
    Key *child = m_tree->keys.add();
    child->parent = key;
    child->nameAt = quint32(m_tree->names.size());
    child->nameSize = quint32(name.size());
    child->flags |= Key::DecodedName;
    m_tree->names.append(name.utf16(), size_t(name.size()));
    children.insert(it, child);
    key->children = children.data();
    key->childCount = quint32(children.size());
    return child;
}

void WineRegistryFile::touch(Key *key)
{
    if (!key->isEdited()) {
        auto edit = std::make_unique<Edit>();
        std::vector<ValueRef> index;
        scanValues(key, index, &edit->classLine, winereg::CheckData::Read);
        edit->values.reserve(qsizetype(index.size()));
        for (const ValueRef &ref : index)
            edit->values.append(valueAt(ref, nullptr));
        Extra &extra = key->ensureExtra();
        extra.edit = std::move(edit);
        extra.index = {};
    }
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    key->edit().stampSeconds = now.tv_sec;
    key->edit().stampFiletime = quint64(now.tv_sec) * 10000000ULL + quint64(now.tv_nsec / 100) + quint64(filetimeUnixEpoch);
    m_modified = true;
}

WineRegistryFile::Key *WineRegistryFile::findOrCreate(const QString &path)
{
    dropLookups();
    int hops = 0;
    Key *key = m_tree->root;
    for (QStringView part : QStringView(path).split(u'\\', Qt::SkipEmptyParts)) {
        Key *resolved = resolveLink(key, hops);
        if (!resolved)
            throw Error(u"%1: the key %2 leads through a broken or looping link."_s.arg(QDir::toNativeSeparators(m_name), path));
        key = resolved;
        if (Key *child = findChild(key, part)) {
            key = child;
            continue;
        }
        // Wine stamps the parent whose subkeys changed.
        if (key != m_tree->root)
            touch(key);
        key = addChild(key, part);
        touch(key);
    }
    Key *resolved = resolveLink(key, hops);
    if (!resolved)
        throw Error(u"%1: the key %2 is a broken or looping link."_s.arg(QDir::toNativeSeparators(m_name), path));
    return resolved;
}

void WineRegistryFile::createKey(const QString &path)
{
    findOrCreate(path);
}

void WineRegistryFile::setValue(const QString &path, const RegistryValue &value)
{
    Key *key = findOrCreate(path);
    touch(key);
    insertValue(key->edit().values, value);
    dropLookups(); // the value may be a link's target
}

void WineRegistryFile::deleteTree(const QString &path)
{
    Key *key = find(path, false);
    if (!key)
        return;
    dropLookups();
    // The keys stay in the arena, out of reach, until the file is loaded again.
    if (key == m_tree->root) {
        if (key->childCount) {
            ownChildren(key);
            key->extra->ownChildren.clear();
            key->children = nullptr;
            key->childCount = 0;
            m_modified = true;
        }
        return;
    }
    Key *parent = key->parent;
    ownChildren(parent);
    std::vector<Key *> &siblings = parent->extra->ownChildren;
    siblings.erase(std::find(siblings.begin(), siblings.end(), key));
    parent->children = siblings.data();
    parent->childCount = quint32(siblings.size());
    if (parent != m_tree->root)
        touch(parent);
    m_modified = true;
}

QString WineRegistryFile::fullPath(const Key *key) const
{
    QStringList parts;
    for (; key && key->parent; key = key->parent)
        parts.prepend(nameOf(key));
    return parts.join(u'\\');
}

void WineRegistryFile::serialise(const Key *key, QByteArray &out) const
{
    const Edit &edit = key->edit();
    const QByteArray eol = m_crlf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    out += '[';
    appendEscaped(out, fullPath(key), "[]");
    out += "] " + QByteArray::number(edit.stampSeconds) + eol;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "#time=%x%08x", unsigned(edit.stampFiletime >> 32), unsigned(edit.stampFiletime & 0xffffffffu));
    out += QByteArray(buffer) + eol;
    if (!edit.classLine.isEmpty())
        out += edit.classLine + eol;
    if (key->has(Key::Link))
        out += "#link" + eol;
    for (const RegistryValue &v : std::as_const(edit.values)) {
        QByteArray line;
        if (v.name.isEmpty()) {
            line = "@=";
        } else {
            line = "\"";
            appendEscaped(line, v.name, "\"");
            line += "\"=";
        }
        const qsizetype units = v.data.size() / 2;
        const bool textForm = (v.type == RegSz || v.type == RegExpandSz || v.type == RegMultiSz) && v.data.size() >= 2
            && v.data.size() % 2 == 0 && qFromLittleEndian<quint16>(v.data.constData() + v.data.size() - 2) == 0;
        if (textForm) {
            if (v.type != RegSz) {
                std::snprintf(buffer, sizeof buffer, "str(%x):", unsigned(v.type));
                line += buffer;
            }
            line += '"';
            appendEscaped(line, textOfUnits(v.data, units - 1), "\"");
            line += '"';
        } else if (v.type == RegDword && v.data.size() == 4) {
            std::snprintf(buffer, sizeof buffer, "dword:%08x", unsigned(qFromLittleEndian<quint32>(v.data.constData())));
            line += buffer;
        } else {
            if (v.type == RegBinary) {
                line += "hex:";
            } else {
                std::snprintf(buffer, sizeof buffer, "hex(%x):", unsigned(v.type));
                line += buffer;
            }
            // Wine breaks the line once it is longer than 76 characters.
            qsizetype count = line.size();
            for (qsizetype i = 0; i < v.data.size(); ++i) {
                std::snprintf(buffer, sizeof buffer, "%02x", unsigned(static_cast<unsigned char>(v.data.at(i))));
                line += buffer;
                count += 2;
                if (i + 1 < v.data.size()) {
                    line += ',';
                    if (++count > 76) {
                        line += '\\' + eol + "  ";
                        count = 2;
                    }
                }
            }
        }
        out += line + eol;
    }
}

void WineRegistryFile::emitTree(const Key *root, QByteArray &out) const
{
    const QByteArray eol = m_crlf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    const QByteArray blankLine = eol + eol;
    auto separate = [&] {
        // Keys are separated by one empty line.
        if (!out.endsWith('\n'))
            out += eol;
        if (!out.endsWith(blankLine))
            out += eol;
    };
    const char *const data = m_bytes.constData();
    const qsizetype size = m_bytes.size();
    // Depth first, in order, without recursion.
    std::vector<const Key *> pending{root};
    while (!pending.empty()) {
        const Key *key = pending.back();
        pending.pop_back();
        if (key->isEdited()) {
            // Wine writes a key that has values, no subkeys, a class or a link.
            // The root ("[]") only when values were set on it, through a link.
            const Edit &edit = key->edit();
            const bool write = key == root
                ? !edit.values.isEmpty()
                : (!edit.values.isEmpty() || key->childCount == 0 || !edit.classLine.isEmpty() || key->has(Key::Link));
            if (write) {
                separate();
                serialise(key, out);
            }
        } else {
            key->forEachBlock([&](quint32 begin) {
                separate();
                out += QByteArrayView(data + begin, nextKeyLine(data, begin, size) - begin);
            });
        }
        for (quint32 i = key->childCount; i > 0; --i)
            pending.push_back(key->children[i - 1]);
    }
}

QByteArray WineRegistryFile::toBytes() const
{
    if (!m_modified)
        return m_bytes;
    QByteArray out = m_bytes.left(m_firstKey);
    out.reserve(m_bytes.size() + 4096);
    emitTree(m_tree->root, out);
    // Wine ends the file after the last value, without an empty line.
    const QByteArray eol = m_crlf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    while (out.size() > m_firstKey && out.endsWith(QByteArray(eol + eol)))
        out.chop(eol.size());
    return out;
}

void WineRegistryFile::write(QIODevice &device) const
{
    const QByteArray bytes = toBytes();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 n = device.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            throw Error(u"Could not write the registry %1: %2"_s.arg(QDir::toNativeSeparators(m_name), device.errorString()));
        done += n;
    }
}

} // namespace kelvane
