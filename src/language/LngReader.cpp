#include "LngReader.h"

namespace kelvane {

namespace {

QByteArray trimmed(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.sliced(begin, end - begin).toByteArray();
}


} // namespace

LngReader::LngReader(const QByteArray &bytes)
{
    Section *current = nullptr;
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype end = pos;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r' && bytes[end] != '\0')
            ++end;
        const QByteArray line = trimmed(QByteArrayView(bytes).sliced(pos, end - pos));
        pos = end + 1;
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            const QByteArray name = trimmed(QByteArrayView(line).sliced(1, (close < 0 ? line.size() : close) - 1));
            current = nullptr;
            if (!m_index.contains(name.toLower())) {
                m_index.insert(name.toLower(), m_sections.size());
                m_sections.append(Section{name, {}, {}});
                current = &m_sections.last();
            }
            continue;
        }
        if (current == nullptr)
            continue; // outside a section, or in a repeated section that the first one hides
        const qsizetype eq = line.indexOf('=');
        const QByteArray key = trimmed(QByteArrayView(line).first(eq < 0 ? line.size() : eq));
        if (key.isEmpty())
            continue;
        QByteArray value = eq < 0 ? QByteArray() : trimmed(QByteArrayView(line).sliced(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.sliced(1, value.size() - 2);
        if (!current->index.contains(key.toLower())) {
            current->index.insert(key.toLower(), current->entries.size());
            current->entries.append(Entry{key, value.left(ValueBufferSize - 1)});
        }
    }
}

const LngReader::Section *LngReader::find(const QByteArray &section) const
{
    const auto found = m_index.constFind(section.toLower());
    return found == m_index.constEnd() ? nullptr : &m_sections.at(*found);
}

QList<QByteArray> LngReader::keys(const QByteArray &section) const
{
    QList<QByteArray> result;
    const Section *s = find(section);
    if (s == nullptr)
        return result;
    qsizetype used = 1; // the NUL that ends the list
    for (const Entry &entry : s->entries) {
        used += entry.key.size() + 1;
        if (used > KeyListBufferSize)
            break;
        result.append(entry.key);
    }
    return result;
}

QByteArray LngReader::value(const QByteArray &section, const QByteArray &key) const
{
    if (const Section *s = find(section)) {
        const auto found = s->index.constFind(key.toLower());
        if (found != s->index.constEnd())
            return s->entries.at(*found).value;
    }
    return {};
}

int LngReader::integer(const QByteArray &section, const QByteArray &key, int defaultValue) const
{
    QByteArray text = value(section, key);
    bool negative = false;
    if (text.startsWith('-')) {
        negative = true;
        text.remove(0, 1);
    }
    int base = 10;
    if (text.startsWith("0x") || text.startsWith("0X")) {
        base = 16;
        text.remove(0, 2);
    } else if (text.startsWith('$')) {
        base = 16;
        text.remove(0, 1);
    }
    if (text.isEmpty() || text.startsWith('+') || text.startsWith('-'))
        return defaultValue;
    bool ok = false;
    const int number = text.toInt(&ok, base);
    if (!ok)
        return defaultValue;
    return negative ? -number : number;
}

} // namespace kelvane
