// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The text of Wine registry files: escapes, value lines, and the order of
// names. Used by WineRegistryFile only.

#include "RegistryValue.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>
#include <QStringView>
#include <QtAlgorithms>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>

namespace kelvane::winereg {

inline char16_t unitAt(QStringView text, qsizetype i)
{
    return text[i].unicode();
}

inline char16_t unitAt(QLatin1StringView text, qsizetype i)
{
    return char16_t(static_cast<unsigned char>(text.data()[i]));
}

// Wine's case folding: the Unicode lowercase of each UTF-16 unit; ASCII,
// nearly every name, needs no table.
inline char16_t foldUnit(char16_t c)
{
    if (c < 0x80)
        return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c;
    return QChar(c).toLower().unicode();
}

// Wine orders names by their lower-case UTF-16 units, then by length.
template<typename A, typename B>
int wineCompare(A a, B b)
{
    const qsizetype n = std::min<qsizetype>(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = unitAt(a, i);
        const char16_t y = unitAt(b, i);
        if (x == y)
            continue;
        const int d = int(foldUnit(x)) - int(foldUnit(y));
        if (d != 0)
            return d;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

inline int wineCompare(const QString &a, const QString &b)
{
    return wineCompare(QStringView(a), QStringView(b));
}

template<typename View>
size_t foldedHash(View name, size_t seed)
{
    size_t h = seed ^ 0xcbf29ce484222325ULL;
    for (qsizetype i = 0; i < name.size(); ++i)
        h = (h ^ foldUnit(unitAt(name, i))) * 0x100000001b3ULL;
    return h;
}

// Equal for names that compare equal.
template<typename View>
quint32 nameHash(View name)
{
    const size_t h = foldedHash(name, 0);
    return quint32(h ^ (h >> 32));
}

inline constexpr std::array<signed char, 256> hexDigits = [] {
    std::array<signed char, 256> table{};
    table.fill(-1);
    for (int c = '0'; c <= '9'; ++c)
        table[size_t(c)] = static_cast<signed char>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c)
        table[size_t(c)] = static_cast<signed char>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c)
        table[size_t(c)] = static_cast<signed char>(c - 'A' + 10);
    return table;
}();

inline int hexDigit(char c)
{
    return hexDigits[static_cast<unsigned char>(c)];
}

// The byte two hex digits stand for, by the two characters read as one
// little-endian 16-bit number; -1 when either is no digit. Made at start-up:
// too many steps for a compiler to evaluate.
inline const std::array<qint16, 65536> hexPairs = [] {
    std::array<qint16, 65536> table{};
    for (int i = 0; i < 65536; ++i) {
        const int high = hexDigits[size_t(i & 0xff)];
        const int low = hexDigits[size_t(i >> 8)];
        table[size_t(i)] = qint16(high < 0 || low < 0 ? -1 : high * 16 + low);
    }
    return table;
}();

// Where parseString puts a text. A sink takes runs of plain ASCII, runs of
// raw UTF-8, and single UTF-16 units from escapes. This one only checks.
struct NoText
{
    void latin1(const char *, qsizetype) {}
    void utf8(const char *, qsizetype) {}
    void unit(char16_t) {}
};

// Into a QString.
class TextSink
{
public:
    explicit TextSink(QString *text)
        : m_text(text)
    {
        m_text->resize(0);
    }
    void latin1(const char *run, qsizetype size) { m_text->append(QLatin1StringView(run, size)); }
    void utf8(const char *run, qsizetype size) { m_text->append(QString::fromUtf8(run, size)); }
    void unit(char16_t c) { m_text->append(QChar(c)); }

private:
    QString *m_text;
};

// Into the UTF-16LE bytes of a value, as Windows keeps them, NUL-ended.
// Every byte of the escaped text gives at most one unit, so the room is
// made once, for as many units as the text has bytes.
class Utf16Sink
{
public:
    Utf16Sink(QByteArray *utf16, qsizetype maxUnits)
        : m_utf16(utf16)
    {
        m_utf16->resize(2 * maxUnits + 2);
        m_begin = m_out = m_utf16->data();
    }
    void latin1(const char *run, qsizetype size)
    {
        for (qsizetype i = 0; i < size; ++i) {
            m_out[2 * i] = run[i];
            m_out[2 * i + 1] = 0;
        }
        m_out += 2 * size;
    }
    void utf8(const char *run, qsizetype size)
    {
        const QString text = QString::fromUtf8(run, size);
        for (const QChar c : text)
            unit(c.unicode());
    }
    void unit(char16_t c)
    {
        m_out[0] = char(c & 0xff);
        m_out[1] = char(c >> 8);
        m_out += 2;
    }
    // Adds the final NUL and drops the room left over.
    void finish()
    {
        m_out[0] = m_out[1] = 0;
        m_utf16->resize(m_out + 2 - m_begin);
    }

private:
    QByteArray *m_utf16;
    char *m_begin;
    char *m_out;
};

// Into a QString, written unit by unit into room made once: every byte of
// the escaped text gives at most one unit.
class UnitSink
{
public:
    UnitSink(QString *text, qsizetype maxUnits)
        : m_text(text)
    {
        *m_text = QString(maxUnits, Qt::Uninitialized);
        m_begin = m_out = reinterpret_cast<char16_t *>(m_text->data());
    }
    void latin1(const char *run, qsizetype size)
    {
        for (qsizetype i = 0; i < size; ++i)
            m_out[i] = static_cast<unsigned char>(run[i]);
        m_out += size;
    }
    void utf8(const char *run, qsizetype size)
    {
        const QString text = QString::fromUtf8(run, size);
        std::copy(text.utf16(), text.utf16() + text.size(), m_out);
        m_out += text.size();
    }
    void unit(char16_t c) { *m_out++ = c; }
    // Drops the room left over; gives it back when it is most of the text
    // (a line with much after its text), as the text may be kept long.
    void finish()
    {
        const qsizetype size = m_out - m_begin;
        m_text->truncate(size);
        if (m_text->capacity() > 2 * size + 64)
            m_text->squeeze();
    }

private:
    QString *m_text;
    char16_t *m_begin;
    char16_t *m_out;
};

// Bytes a text scan must stop at: the delimiters, the escape, and UTF-8.
enum TextByte : unsigned char { TextPlain, TextSpecial };
inline constexpr std::array<unsigned char, 256> textBytes = [] {
    std::array<unsigned char, 256> table{};
    for (int c = 0x80; c < 0x100; ++c)
        table[size_t(c)] = TextSpecial;
    table[size_t('"')] = TextSpecial;
    table[size_t(']')] = TextSpecial;
    table[size_t('\\')] = TextSpecial;
    return table;
}();

// The first byte from p on that a text scan must stop at (see textBytes), or
// end. Eight bytes a step: a text is mostly plain ASCII, and a byte-wise
// table look-up was a tenth of a listing.
inline const char *skipPlainText(const char *p, const char *end)
{
    constexpr quint64 ones = 0x0101010101010101ULL;
    constexpr quint64 high = 0x8080808080808080ULL;
    // High bit set in each byte of w equal to c; a false hit can only follow
    // a true one, and only the first hit counts.
    auto equal = [](quint64 w, unsigned char c) {
        const quint64 x = w ^ (ones * c);
        return (x - ones) & ~x & high;
    };
    while (end - p >= 8) {
        const quint64 w = qFromLittleEndian<quint64>(p);
        const quint64 hit = (w & high) | equal(w, '"') | equal(w, ']') | equal(w, '\\');
        if (hit)
            return p + qCountTrailingZeroBits(hit) / 8;
        p += 8;
    }
    while (p < end && textBytes[static_cast<unsigned char>(*p)] == TextPlain)
        ++p;
    return p;
}

// Reads an escaped text from p up to the unescaped delimiter ('"' or ']').
// On success p points past the delimiter. Raw bytes are UTF-8; a '\\' in
// the text only ever reaches the sink as a unit.
template<typename Sink>
bool parseString(const char *&p, const char *end, char delimiter, Sink &out)
{
    const char *run = p;
    bool ascii = true;
    auto flush = [&](const char *upTo) {
        if (upTo > run) {
            if (ascii)
                out.latin1(run, upTo - run);
            else
                out.utf8(run, upTo - run);
        }
        ascii = true;
    };
    while (p < end) {
        p = skipPlainText(p, end);
        if (p >= end)
            break;
        const char c = *p;
        if (c == delimiter) {
            flush(p);
            ++p;
            return true;
        }
        if (c != '\\') {
            if (static_cast<unsigned char>(c) >= 0x80)
                ascii = false;
            ++p;
            continue;
        }
        flush(p);
        ++p;
        if (p >= end)
            return false;
        const char e = *p++;
        switch (e) {
        case 'a': out.unit(7); break;
        case 'b': out.unit(8); break;
        case 't': out.unit(9); break;
        case 'n': out.unit(10); break;
        case 'v': out.unit(11); break;
        case 'f': out.unit(12); break;
        case 'r': out.unit(13); break;
        case 'e': out.unit(27); break;
        case 'x': {
            int digits = 0;
            char16_t unit = 0;
            while (digits < 4 && p < end && hexDigit(*p) >= 0) {
                unit = char16_t(unit * 16 + hexDigit(*p));
                ++p;
                ++digits;
            }
            out.unit(digits ? unit : u'x');
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                int number = e - '0';
                for (int digits = 1; digits < 3 && p < end && *p >= '0' && *p <= '7'; ++digits, ++p)
                    number = number * 8 + (*p - '0');
                out.unit(char16_t(number));
            } else if (static_cast<unsigned char>(e) >= 0x80) {
                run = p - 1; // an escaped UTF-8 sequence stands for itself
                ascii = false;
                continue;
            } else {
                out.unit(char16_t(e));
            }
        }
        run = p;
    }
    return false;
}

template<typename Sink>
bool parseString(const char *&p, const char *end, char delimiter, Sink &&out)
{
    return parseString(p, end, delimiter, out);
}

// The writer's form: pure ASCII, \x padded to four digits and octal to three
// only when the next character would otherwise be read as part of it.
void appendEscaped(QByteArray &out, QStringView text, const char *delimiters);

QString textOfUnits(const QByteArray &data, qsizetype units);

// The end of the line that starts at from: its '\n', or limit.
inline qsizetype lineEnd(const char *data, qsizetype from, qsizetype limit)
{
    if (from >= limit)
        return limit;
    const void *nl = std::memchr(data + from, '\n', size_t(limit - from));
    return nl ? static_cast<const char *>(nl) - data : limit;
}

// Where the next key line after `from` starts (every line that begins with
// '[' is one), or size: the end of a key's block of lines.
qsizetype nextKeyLine(const char *data, qsizetype from, qsizetype size);

// How a check (parseValue without a value) treats the data of a value:
// read it all, or only find where it ends (a text ends with its line, hex
// data laid out as Wine writes it with its last continuation line). A
// value checked so may turn out malformed when it is read.
enum class CheckData { Read, Skip };

// One value line (with its continuation lines) from p; false when Wine would
// skip it. Hex data ends at the first continuation line that is a key line.
// Fills the type and data of value; the name is the caller's (see
// ValueName). With value null the line is only checked; p ends where a
// read would end (CheckData::Skip may end on a later blank continuation
// line instead, which is no value line either). name, when given, gets the
// value's name once the line is found to parse.
struct ValueName;
bool parseValue(const char *&p, const char *end, RegistryValue *value, CheckData check = CheckData::Read,
                ValueName *name = nullptr);
// The two halves of parseValue. The head: the name (into name, when given)
// and the '='; p ends at the data, lineStop at the end of the line.
bool parseValueHead(const char *&p, const char *end, const char *&lineStop, ValueName *name);
// The data from p, on a line that ends at lineStop.
bool parseValueData(const char *&p, const char *lineStop, const char *end, RegistryValue *value, CheckData check);

enum class TextParse { Text, OtherForm, Malformed };

// The text of a value's data in a text form ("..." or str(N):"...") from
// data, on a line whose head is read (see parseValueHead) and that ends at
// lineStop: up to its first NUL, with its type; OtherForm for data in
// another form (hex, dword), Malformed for a line Wine would skip.
TextParse parseTextData(const char *data, const char *lineStop, quint32 &type, QString &text);

// A value's name as its line spells it: plain ASCII without escapes is
// compared in place, anything else decoded first.
struct ValueName
{
    QLatin1StringView plain;
    QString decoded;
    bool isPlain = true;

    // line starts with '"' or '@' and holds a value that parses.
    void read(const char *line, const char *end);
    // A plain name known to span size bytes after the line's quote.
    void setPlain(const char *line, qsizetype size)
    {
        isPlain = true;
        plain = *line == '@' ? QLatin1StringView() : QLatin1StringView(line + 1, size);
    }

    QString toString() const { return isPlain ? QString(plain) : decoded; }
    quint32 hash() const { return isPlain ? nameHash(plain) : nameHash(QStringView(decoded)); }
    // The name as text, shared with asked when spelt the same.
    QString spelt(const QString *asked) const
    {
        if (asked && (isPlain ? QLatin1StringView(plain) == *asked : decoded == *asked))
            return *asked;
        return toString();
    }
};

template<typename View>
int compareName(const ValueName &a, View b)
{
    return a.isPlain ? wineCompare(a.plain, b) : wineCompare(QStringView(a.decoded), b);
}

inline int compareNames(const ValueName &a, const ValueName &b)
{
    return b.isPlain ? compareName(a, b.plain) : compareName(a, QStringView(b.decoded));
}

} // namespace kelvane::winereg
