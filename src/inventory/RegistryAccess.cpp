// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegistryAccess.h"

#include "host/Error.h"
#include "registry/RegistryStore.h"
#include "registry/RegistryValue.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

RegistryAccess::RegistryAccess(RegistryStore &store)
    : m_store(store)
{
}

QString RegistryAccess::resolve(const QString &path) const
{
    QString result;
    if (path.startsWith(u'\\'))
        result = path.mid(1);
    else if (m_current && !m_current->isEmpty())
        result = path.isEmpty() ? *m_current : *m_current + u'\\' + path;
    else
        result = path;
    while (result.endsWith(u'\\'))
        result.chop(1);
    return result;
}

// A path with an empty name in it ("a\\b") names no key.
static bool validPath(const QString &path)
{
    if (path.startsWith(u'\\'))
        return false;
    for (qsizetype i = 1; i < path.size(); ++i)
        if (path[i] == u'\\' && path[i - 1] == u'\\')
            return false;
    return true;
}

bool RegistryAccess::OpenForRead(const QString &path)
{
    const QString target = resolve(path);
    if (!validPath(target) || !m_store.keyExists(target))
        return false;
    m_current = target;
    return true;
}

template<typename Change>
void RegistryAccess::write(const QString &what, Change change)
{
    try {
        m_store.checkWritable();
        try {
            change();
            m_store.save();
        } catch (...) {
            // Neither a failed change nor an unsaved one may linger, to be
            // saved with a later edit.
            try {
                m_store.reload();
            } catch (const Error &) {
                // The first failure is the one to tell.
            }
            throw;
        }
    } catch (const Error &error) {
        throw Error(u"Cannot %1: %2"_s.arg(what, error.message()), error.kind(), error.path());
    }
}

bool RegistryAccess::OpenForWrite(const QString &path)
{
    const QString target = resolve(path);
    if (!validPath(target))
        return false;
    const QString what = u"open HKEY_LOCAL_MACHINE\\%1 in %2 for writing"_s.arg(target, m_store.location());
    if (m_store.keyExists(target)) {
        try {
            m_store.checkWritable(); // a key that cannot be written is not open for writing
        } catch (const Error &error) {
            throw Error(u"Cannot %1: %2"_s.arg(what, error.message()), error.kind(), error.path());
        }
    } else {
        write(what, [&] { m_store.createKey(target); });
    }
    m_current = target;
    return true;
}

void RegistryAccess::CloseCurrent()
{
    m_current.reset();
}

bool RegistryAccess::KeyPresent(const QString &path) const
{
    const QString target = resolve(path);
    return validPath(target) && m_store.keyExists(target);
}

bool RegistryAccess::DeleteTree(const QString &path, const std::function<void(const QString &)> &backUp)
{
    const QString target = resolve(path);
    if (target.isEmpty() || !validPath(target) || !m_store.keyExists(target))
        return false;
    write(u"delete HKEY_LOCAL_MACHINE\\%1 in %2"_s.arg(target, m_store.location()), [&] {
        if (backUp)
            backUp(target);
        m_store.deleteTree(target);
    });
    if (m_current
        && (m_current->compare(target, Qt::CaseInsensitive) == 0
            || m_current->startsWith(target + u'\\', Qt::CaseInsensitive)))
        m_current.reset();
    return true;
}

QString RegistryAccess::UnreachableKey(const QString &path) const
{
    const QString target = resolve(path);
    if (!validPath(target) || m_store.keyExists(target))
        return QString();
    QString reached; // the longest part of the path that opens
    for (const QString &name : target.split(u'\\')) {
        const QString next = reached.isEmpty() ? name : reached + u'\\' + name;
        if (!m_store.keyExists(next))
            return m_store.isBrokenLink(next) ? next : QString();
        reached = next;
    }
    return QString();
}

QStringList RegistryAccess::SubkeyNames() const
{
    return m_current ? m_store.subkeyNames(*m_current) : QStringList();
}

std::optional<RegistryValue> RegistryAccess::currentValue(const QString &name) const
{
    if (!m_current)
        return std::nullopt;
    return m_store.value(*m_current, name);
}

QString RegistryAccess::describe(const QString &valueName) const
{
    return u"value \"%1\" of HKEY_LOCAL_MACHINE\\%2 in %3"_s.arg(valueName, CurrentKeyPath(),
                                                                 m_store.location());
}

QString RegistryAccess::ReadText(const QString &name) const
{
    if (!m_current)
        return QString();
    auto value = m_store.read(*m_current, name);
    if (!value)
        return QString();
    if (!value->isText())
        throw Error(u"The %1 is not a text (type %2)"_s.arg(describe(name)).arg(value->type));
    return std::move(value->text);
}

qint32 RegistryAccess::ReadNumber(const QString &name) const
{
    const auto value = currentValue(name);
    if (!value)
        throw Error(u"The %1 is missing"_s.arg(describe(name)));
    const auto number = value->dword();
    if (!number)
        throw Error(u"The %1 is not a 32-bit number (type %2, %3 bytes)"_s.arg(describe(name))
                        .arg(value->type)
                        .arg(value->data.size()));
    return qint32(*number);
}

QByteArray RegistryAccess::ReadBytes(const QString &name, qsizetype maxSize) const
{
    const auto value = currentValue(name);
    if (!value)
        return QByteArray();
    if (value->type != RegBinary)
        throw Error(u"The %1 is not binary (type %2)"_s.arg(describe(name)).arg(value->type));
    if (value->data.size() > maxSize)
        throw Error(u"The %1 is too large (%2 bytes, at most %3)"_s.arg(describe(name))
                        .arg(value->data.size())
                        .arg(maxSize));
    return value->data;
}

void RegistryAccess::ReadValues(std::span<const QString> names, std::optional<RegistryStore::Reading> *readings) const
{
    if (m_current)
        m_store.readMany(*m_current, names, readings);
    else
        std::fill_n(readings, names.size(), std::nullopt);
}

bool RegistryAccess::HasValue(const QString &name) const
{
    return currentValue(name).has_value();
}

void RegistryAccess::WriteText(const QString &name, const QString &text)
{
    WriteTexts({{name, text}});
}

void RegistryAccess::WriteTexts(const QList<std::pair<QString, QString>> &values,
                                const std::function<void(const QString &)> &backUp)
{
    if (values.isEmpty())
        return;
    if (!m_current)
        throw Error(u"Cannot write the value \"%1\": no registry key is open (%2)"_s.arg(
            values.first().first, m_store.location()));
    const QString path = *m_current;
    QStringList names;
    for (const auto &[name, text] : values)
        names.append(name);
    const QString what = values.size() == 1 ? describe(names.first())
                                            : u"values \"%1\" of HKEY_LOCAL_MACHINE\\%2 in %3"_s.arg(
                                                names.join(u"\", \""_s), path, m_store.location());
    write(u"write the "_s + what, [&] {
        if (backUp)
            backUp(path);
        for (const auto &[name, text] : values)
            m_store.setValue(path, RegistryValue::fromText(name, text));
    });
}

} // namespace kelvane
