// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegeditExport.h"

#include "RegistryStore.h"
#include "RegistryValue.h"
#include "config/kvConfig.h"
#include "host/Error.h"

#include <QBuffer>
#include <QIODevice>
#include <QStringList>
#include <QtEndian>

#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// regedit starts a continuation line once a line of hex bytes has passed 76
// columns: with its backslash, no line goes beyond 80.
constexpr qsizetype WrapAfterColumn = 76;
constexpr QStringView LineEnd = u"\r\n";
constexpr QStringView Continuation = u"\\\r\n  ";

QString shownKey(const QString &path)
{
    return path.isEmpty() ? config::RegeditRootKey.toString()
                          : config::RegeditRootKey.toString() + u'\\' + path;
}

// A name regedit cannot read back: it ends the line, or the text, early.
bool unwritableName(QStringView name)
{
    return name.contains(u'\0') || name.contains(u'\n') || name.contains(u'\r');
}

QString quoted(QStringView text)
{
    QString result;
    result.reserve(text.size() + 2);
    result += u'"';
    for (const QChar c : text) {
        if (c == u'\\' || c == u'"')
            result += u'\\';
        result += c;
    }
    result += u'"';
    return result;
}

// Whether a REG_SZ's bytes are exactly what a quoted string gives back: whole
// UTF-16 units ending in the one NUL, no other control character than a tab
// (a line break ends the line; others are read differently by regedits),
// and no lone surrogate (a reader may replace it).
bool plainString(const QByteArray &data)
{
    const qsizetype units = data.size() / 2;
    if (data.size() % 2 != 0 || units == 0 || qFromLittleEndian<quint16>(data.constData() + data.size() - 2) != 0)
        return false;
    for (qsizetype i = 0; i + 1 < units; ++i) {
        const char16_t unit = qFromLittleEndian<quint16>(data.constData() + 2 * i);
        if (unit < 0x20 && unit != u'\t')
            return false;
        if (QChar::isHighSurrogate(unit)) {
            if (i + 2 >= units || !QChar::isLowSurrogate(qFromLittleEndian<quint16>(data.constData() + 2 * i + 2)))
                return false;
            ++i;
        } else if (QChar::isLowSurrogate(unit)) {
            return false;
        }
    }
    return true;
}

// Collects text and, when it has a device, hands it on as UTF-16LE in
// pieces, so that a huge value is never encoded whole.
class Output
{
public:
    explicit Output(QIODevice *device)
        : m_device(device)
    {
    }

    void put(QStringView text)
    {
        m_text += text;
        if (m_device && m_text.size() >= 32 * 1024)
            flush();
    }
    void put(QChar c) { put(QStringView(&c, 1)); }

    void flush()
    {
        QByteArray bytes(2 * m_text.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < m_text.size(); ++i)
            qToLittleEndian<quint16>(m_text.at(i).unicode(), bytes.data() + 2 * i);
        m_text.clear();
        if (m_device->write(bytes) != bytes.size())
            throw Error(u"Could not write the regedit file: %1"_s.arg(m_device->errorString()));
    }

    // What was put, for an Output without a device.
    const QString &text() const { return m_text; }

private:
    QIODevice *m_device;
    QString m_text;
};

// Bytes as regedit writes them: "xx," each, a continuation line once the
// line passes WrapAfterColumn; `column` is where the first byte goes.
void putHex(Output &out, qsizetype column, const QByteArray &data)
{
    static constexpr char16_t digits[] = u"0123456789abcdef";
    for (qsizetype i = 0; i < data.size(); ++i) {
        const auto byte = quint8(data.at(i));
        out.put(QChar(digits[byte >> 4]));
        out.put(QChar(digits[byte & 15]));
        column += 2;
        if (i + 1 == data.size())
            break;
        out.put(u',');
        ++column;
        if (column > WrapAfterColumn) {
            out.put(Continuation);
            column = 2;
        }
    }
}

void putValue(Output &out, const RegistryValue &value, const QString &keyPath)
{
    if (unwritableName(value.name))
        throw Error(u"The value \"%1\" of %2 has a NUL or a line break in its name, which a regedit file cannot hold."_s
                        .arg(QString(value.name).replace(u'\0', u' '), shownKey(keyPath)));
    QString head = value.name.isEmpty() ? u"@="_s : quoted(value.name) + u'=';
    if (value.type == RegSz && plainString(value.data)) {
        out.put(head);
        out.put(quoted(value.text()));
        return;
    }
    if (const auto number = value.dword()) {
        out.put(head);
        out.put(u"dword:%1"_s.arg(*number, 8, 16, QChar(u'0')));
        return;
    }
    head += value.type == RegBinary ? u"hex:"_s : u"hex(%1):"_s.arg(value.type, 0, 16);
    out.put(head);
    putHex(out, head.size(), value.data);
}

void putSection(Output &out, const RegistryStore &store, const QString &path)
{
    out.put(u'[');
    out.put(shownKey(path));
    out.put(u']');
    out.put(LineEnd);
    const QList<RegistryValue> values = store.values(path);
    for (const RegistryValue &value : values) {
        putValue(out, value, path);
        out.put(LineEnd);
    }
    out.put(LineEnd);
}

// Every key of the subtree, parent first, checked before a byte is written.
QStringList subtree(const RegistryStore &store, const QString &path)
{
    if (!store.keyExists(path) && !store.isLink(path))
        throw Error(u"%1 does not exist in %2."_s.arg(shownKey(path), store.location()));
    QStringList keys;
    std::vector<QString> pending{path};
    while (!pending.empty()) {
        QString key = std::move(pending.back());
        pending.pop_back();
        if (store.isLink(key))
            throw Error(u"%1 in %2 is a registry link, which a regedit file cannot hold (it would come back "
                        "as a plain key)."_s.arg(shownKey(key), store.location()));
        const QStringList children = store.subkeyNames(key);
        for (auto it = children.crbegin(); it != children.crend(); ++it) {
            if (unwritableName(*it))
                throw Error(u"A subkey of %1 in %2 has a NUL or a line break in its name, which a regedit file "
                            "cannot hold."_s.arg(shownKey(key), store.location()));
            pending.push_back(key.isEmpty() ? *it : key + u'\\' + *it);
        }
        keys.append(std::move(key));
    }
    return keys;
}

} // namespace

QString regeditValueText(const RegistryValue &value, const QString &keyPath)
{
    Output out(nullptr);
    putValue(out, value, keyPath);
    return out.text();
}

void writeRegeditExport(QIODevice &device, const RegistryStore &store, const QString &path)
{
    const QStringList keys = subtree(store, path);
    Output out(&device);
    out.put(QChar(0xfeff));
    out.put(config::RegeditHeader);
    out.put(LineEnd);
    out.put(LineEnd);
    for (const QString &key : keys)
        putSection(out, store, key);
    out.flush();
}

QByteArray regeditExport(const RegistryStore &store, const QString &path)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeRegeditExport(buffer, store, path);
    return buffer.data();
}

} // namespace kelvane
