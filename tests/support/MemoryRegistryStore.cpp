// SPDX-License-Identifier: GPL-3.0-or-later
#include "MemoryRegistryStore.h"

#include "host/Error.h"

using namespace Qt::Literals::StringLiterals;

namespace kelvane::test {

static QStringList splitPath(const QString &path)
{
    return path.isEmpty() ? QStringList() : path.split(u'\\');
}

static bool sameName(const QString &a, const QString &b)
{
    return a.toLower() == b.toLower();
}

MemoryRegistryStore::MemoryRegistryStore() = default;

template<typename KeyType>
static KeyType *findIn(KeyType &root, const QString &path)
{
    KeyType *key = &root;
    for (const QString &part : splitPath(path)) {
        const auto it = std::find_if(key->children.begin(), key->children.end(),
                                     [&](const auto &child) { return sameName(child.name, part); });
        if (it == key->children.end())
            return nullptr;
        key = &*it;
    }
    return key;
}

const MemoryRegistryStore::Key *MemoryRegistryStore::find(const QString &path) const
{
    return findIn(m_root, path);
}

MemoryRegistryStore::Key &MemoryRegistryStore::obtain(const QString &path)
{
    Key *key = &m_root;
    for (const QString &part : splitPath(path)) {
        if (part.isEmpty())
            throw Error(u"Invalid key path \"%1\" (memory)"_s.arg(path));
        auto it = std::find_if(key->children.begin(), key->children.end(),
                               [&](const Key &child) { return sameName(child.name, part); });
        if (it == key->children.end()) {
            key->children.push_back(Key{part, {}, {}});
            it = key->children.end() - 1;
        }
        key = &*it;
    }
    return *key;
}

bool MemoryRegistryStore::keyExists(const QString &path) const
{
    return find(path) != nullptr;
}

QStringList MemoryRegistryStore::subkeyNames(const QString &path) const
{
    QStringList names;
    if (const Key *key = find(path))
        for (const Key &child : key->children)
            names.append(child.name);
    return names;
}

std::optional<RegistryValue> MemoryRegistryStore::value(const QString &path, const QString &name) const
{
    if (const Key *key = find(path))
        for (const RegistryValue &value : key->values)
            if (sameName(value.name, name))
                return value;
    return std::nullopt;
}

QList<RegistryValue> MemoryRegistryStore::values(const QString &path) const
{
    const Key *key = find(path);
    return key ? key->values : QList<RegistryValue>();
}

void MemoryRegistryStore::createKey(const QString &path)
{
    obtain(path);
}

void MemoryRegistryStore::setValue(const QString &path, const RegistryValue &value)
{
    Key &key = obtain(path);
    for (RegistryValue &existing : key.values) {
        if (sameName(existing.name, value.name)) {
            existing = value;
            return;
        }
    }
    key.values.append(value);
}

void MemoryRegistryStore::deleteTree(const QString &path)
{
    QStringList parts = splitPath(path);
    if (parts.isEmpty())
        throw Error(u"The root key cannot be deleted (memory)"_s);
    const QString last = parts.takeLast();
    Key *parent = findIn(m_root, parts.join(u'\\'));
    if (!parent)
        return;
    std::erase_if(parent->children, [&](const Key &child) { return sameName(child.name, last); });
}

void MemoryRegistryStore::checkWritable() const
{
    if (refuseWrites)
        throw Error(u"The registry (memory) is in use by a running wineserver"_s);
}

void MemoryRegistryStore::save()
{
    if (failSave)
        throw Error(u"Cannot save the registry (memory): disk full"_s);
    commit();
    ++saveCount;
}

void MemoryRegistryStore::reload()
{
    m_root = m_saved;
}

void MemoryRegistryStore::commit()
{
    m_saved = m_root;
}

void MemoryRegistryStore::setText(const QString &path, const QString &name, const QString &text)
{
    setValue(path, RegistryValue::fromText(name, text));
}

void MemoryRegistryStore::setDword(const QString &path, const QString &name, quint32 number)
{
    setValue(path, RegistryValue::fromDword(name, number));
}

void MemoryRegistryStore::setBytes(const QString &path, const QString &name, quint32 type,
                                   const QByteArray &bytes)
{
    setValue(path, RegistryValue::fromBytes(name, type, bytes));
}

} // namespace kelvane::test
