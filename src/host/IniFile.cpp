// SPDX-License-Identifier: GPL-3.0-or-later
#include "IniFile.h"

#include "host/Error.h"
#include "host/HostFile.h"

#include <QFile>
#include <QIODevice>
#include <QSaveFile>

#include <cerrno>
#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// ASCII case folding, the same for lookups through the index and for writes.
QByteArray lowered(QByteArrayView name)
{
    return name.toByteArray().toLower();
}

bool equalsNoCase(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && lowered(a) == lowered(b);
}

void checkName(QByteArrayView name, const char *what, bool section)
{
    for (char c : name) {
        if (c == '\r' || c == '\n' || c == '\0' || (section ? c == ']' : c == '='))
            throw Error(u"Invalid INI %1 name \"%2\""_s.arg(QLatin1StringView(what), QString::fromUtf8(name)));
    }
    if (name.trimmed().size() != name.size() || name.isEmpty() || (!section && (name.front() == '[' || name.front() == ';')))
        throw Error(u"Invalid INI %1 name \"%2\""_s.arg(QLatin1StringView(what), QString::fromUtf8(name)));
}

} // namespace

TIniFile TIniFile::fromBytes(const QByteArray &bytes, const Rules &rules)
{
    TIniFile ini;
    ini.m_rules = rules;
    if (bytes.isEmpty())
        return ini;
    const qsizetype firstLf = bytes.indexOf('\n');
    if (firstLf > 0 && bytes.at(firstLf - 1) == '\r')
        ini.m_eol = "\r\n";
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes.at(end) != '\n' && bytes.at(end) != '\r' && bytes.at(end) != '\0')
            ++end;
        ini.m_lines.append(bytes.mid(start, end - start));
        if (end + 1 < bytes.size() && bytes.at(end) == '\r' && bytes.at(end + 1) == '\n')
            ++end; // CR LF is one line break
        start = end + 1;
    }
    return ini;
}

TIniFile TIniFile::fromDevice(QIODevice &device, const QString &name, const Rules &rules)
{
    QByteArray bytes;
    char buffer[16384];
    for (;;) {
        const qint64 n = device.read(buffer, sizeof buffer);
        if (n < 0)
            throw Error(u"Unable to read %1: %2"_s.arg(name, device.errorString()));
        if (n == 0 && (device.atEnd() || !device.isSequential()))
            break;
        bytes.append(buffer, n);
        if (n == 0 && !device.waitForReadyRead(-1))
            break;
    }
    return fromBytes(bytes, rules);
}

TIniFile TIniFile::fromFile(const QString &path, qint64 maxBytes, const Rules &rules)
{
    // Asked first: a name that cannot be spelled again would look missing.
    if (const QString problem = HostFile::nameProblem(path); !problem.isEmpty())
        throw Error(problem);
    // Only "nothing there" reads as empty; anything else (a folder without
    // search permission, say) is left to HostFile to put in words.
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return fromBytes({}, rules);
    const HostFile file(path);
    return fromBytes(file.readAll(maxBytes), rules);
}

std::optional<QByteArray> TIniFile::sectionName(const QByteArray &line)
{
    const QByteArray t = line.trimmed();
    if (!t.startsWith('['))
        return std::nullopt;
    const qsizetype close = t.indexOf(']');
    // Like the profile functions, an unclosed bracket still names a section.
    return (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
}

bool TIniFile::splitEntry(const QByteArray &line, QByteArray *key, QByteArray *value) const
{
    const QByteArray t = line.trimmed();
    if (t.isEmpty() || t.startsWith(';') || t.startsWith('['))
        return false;
    const qsizetype eq = t.indexOf('=');
    if (eq < 0 && !m_rules.bareNamesAreKeys)
        return false;
    *key = (eq < 0 ? t : t.left(eq)).trimmed();
    *value = eq < 0 ? QByteArray() : t.mid(eq + 1).trimmed();
    if (m_rules.unquoteValues && value->size() >= 2 && value->front() == '"' && value->back() == '"')
        *value = value->sliced(1, value->size() - 2);
    if (m_rules.valueBufferSize > 0 && value->size() >= m_rules.valueBufferSize)
        value->truncate(m_rules.valueBufferSize - 1);
    return !key->isEmpty();
}

const TIniFile::Index &TIniFile::index() const
{
    if (m_index)
        return *m_index;
    auto built = std::make_shared<Index>();
    qsizetype current = -1; // -1: outside a section, or in one that an earlier one hides
    for (const QByteArray &line : m_lines) {
        if (auto name = sectionName(line)) {
            const QByteArray lower = lowered(*name);
            const auto found = built->sectionIndex.constFind(lower);
            if (found == built->sectionIndex.constEnd()) {
                current = built->sections.size();
                built->sectionIndex.insert(lower, current);
                built->sections.append(Section{*name, {}});
                built->keyIndex.append(QHash<QByteArray, qsizetype>());
            } else {
                current = m_rules.repeatedSectionsMerge ? *found : -1;
            }
            continue;
        }
        QByteArray key, value;
        if (current < 0 || !splitEntry(line, &key, &value))
            continue;
        QHash<QByteArray, qsizetype> &keys = built->keyIndex[current];
        const QByteArray lower = lowered(key);
        if (!keys.contains(lower)) {
            keys.insert(lower, built->sections[current].entries.size());
            built->sections[current].entries.append(Entry{key, value});
        }
    }
    m_index = built;
    return *m_index;
}

const TIniFile::Section *TIniFile::findSection(QByteArrayView section) const
{
    const Index &i = index();
    const auto found = i.sectionIndex.constFind(lowered(section));
    return found == i.sectionIndex.constEnd() ? nullptr : &i.sections.at(*found);
}

QList<TIniFile::Section> TIniFile::sections() const
{
    return index().sections;
}

QList<QByteArray> TIniFile::keys(QByteArrayView section) const
{
    QList<QByteArray> result;
    const Section *s = findSection(section);
    if (!s)
        return result;
    qsizetype used = 1; // the NUL that ends the list
    for (const Entry &entry : s->entries) {
        used += entry.key.size() + 1;
        if (m_rules.keyListBufferSize > 0 && used > m_rules.keyListBufferSize)
            break;
        result.append(entry.key);
    }
    return result;
}

std::optional<QByteArray> TIniFile::value(QByteArrayView section, QByteArrayView key) const
{
    const Section *s = findSection(section);
    if (!s)
        return std::nullopt;
    const Index &i = index();
    const QHash<QByteArray, qsizetype> &keys = i.keyIndex.at(s - i.sections.constData());
    const auto found = keys.constFind(lowered(key));
    if (found == keys.constEnd())
        return std::nullopt;
    return s->entries.at(*found).value;
}

QString TIniFile::readString(QByteArrayView section, QByteArrayView key, const QString &defaultValue) const
{
    const auto v = value(section, key);
    return v ? QString::fromUtf8(*v) : defaultValue;
}

std::optional<qint32> TIniFile::parseInteger(QByteArrayView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text = text.sliced(1);
    }
    int base = 10;
    if (text.startsWith("0x") || text.startsWith("0X")) {
        base = 16;
        text = text.sliced(2);
    } else if (text.startsWith("$")) {
        base = 16;
        text = text.sliced(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    quint64 n = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return std::nullopt;
        n = n * base + d;
        if (n > 0xFFFFFFFFull)
            return std::nullopt;
    }
    if (base == 16) {
        // Eight hex digits are a 32-bit pattern ($FFFFFFFF is -1).
        const qint32 v = static_cast<qint32>(static_cast<quint32>(n));
        return negative ? static_cast<qint32>(0u - static_cast<quint32>(v)) : v;
    }
    if (negative ? n > 0x80000000ull : n > 0x7FFFFFFFull)
        return std::nullopt;
    return negative ? static_cast<qint32>(0 - static_cast<qint64>(n)) : static_cast<qint32>(n);
}

qint32 TIniFile::readInteger(QByteArrayView section, QByteArrayView key, qint32 defaultValue) const
{
    const auto v = value(section, key);
    if (!v)
        return defaultValue;
    return parseInteger(*v).value_or(defaultValue);
}

bool TIniFile::readBool(QByteArrayView section, QByteArrayView key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::writeValue(QByteArrayView section, QByteArrayView key, QByteArrayView value)
{
    checkName(section, "section", true);
    checkName(key, "key", false);
    if (value.contains('\r') || value.contains('\n') || value.contains('\0'))
        throw Error(u"Invalid INI value for key \"%1\""_s.arg(QString::fromUtf8(key)));
    QByteArray line = key.toByteArray() + '=' + value.toByteArray();
    m_index.reset();

    bool inSection = false;
    qsizetype lastInSection = -1; // last non-blank line of the first matching section
    bool found = false;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (auto name = sectionName(m_lines[i])) {
            if (found && inSection)
                break;
            inSection = equalsNoCase(*name, section);
            if (inSection) {
                found = true;
                lastInSection = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        QByteArray k, v;
        if (splitEntry(m_lines[i], &k, &v) && equalsNoCase(k, key)) {
            m_lines[i] = line;
            return;
        }
        if (!m_lines[i].trimmed().isEmpty())
            lastInSection = i;
    }
    if (found) {
        m_lines.insert(lastInSection + 1, line);
        return;
    }
    m_lines.append('[' + section.toByteArray() + ']');
    m_lines.append(line);
}

void TIniFile::writeString(QByteArrayView section, QByteArrayView key, const QString &value)
{
    writeValue(section, key, value.toUtf8());
}

void TIniFile::writeInteger(QByteArrayView section, QByteArrayView key, qint32 value)
{
    writeValue(section, key, QByteArray::number(value));
}

void TIniFile::writeBool(QByteArrayView section, QByteArrayView key, bool value)
{
    writeValue(section, key, value ? "1" : "0");
}

QByteArray TIniFile::toBytes() const
{
    QByteArray out;
    for (const QByteArray &line : m_lines)
        out += line + m_eol;
    return out;
}

void TIniFile::saveToFile(const QString &path) const
{
    QSaveFile file(path);
    const QByteArray bytes = toBytes();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw Error(u"Unable to write to %1"_s.arg(path));
}

} // namespace kelvane
