// SPDX-License-Identifier: GPL-3.0-or-later
#include "WineRegistryFormat.h"

#include <QtEndian>

#include <cstdio>

namespace kelvane::winereg {

namespace {

bool isHexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Hex bytes "xx,xx,..." over continuation lines; p advances over what it
// read. Returns how many bytes there are (-1 when malformed) and stores the
// first capacity of them in out.
qsizetype parseHex(const char *&p, const char *end, char *out, qsizetype capacity)
{
    qsizetype count = 0;
    for (;;) {
        // The common form first: two digits and a comma. A negative digit
        // makes the combined number negative; the stores stop at capacity.
        // Four bytes a step while there is room for them all, each pair of
        // digits looked up at once.
        auto pair = [](const char *at) { return int(hexPairs[qFromLittleEndian<quint16>(at)]); };
        while (end - p >= 12 && p[2] == ',' && p[5] == ',' && p[8] == ',' && p[11] == ','
               && count + 4 <= capacity) {
            const int b0 = pair(p);
            const int b1 = pair(p + 3);
            const int b2 = pair(p + 6);
            const int b3 = pair(p + 9);
            if ((b0 | b1 | b2 | b3) < 0)
                break;
            out[count] = char(b0);
            out[count + 1] = char(b1);
            out[count + 2] = char(b2);
            out[count + 3] = char(b3);
            count += 4;
            p += 12;
        }
        // A check only (no room for the bytes) needs no stores.
        while (!out && end - p >= 12 && p[2] == ',' && p[5] == ',' && p[8] == ',' && p[11] == ',') {
            if ((pair(p) | pair(p + 3) | pair(p + 6) | pair(p + 9)) < 0)
                break;
            count += 4;
            p += 12;
        }
        const char *const commonEnd = end - 2;
        while (p < commonEnd && p[2] == ',') {
            const int byte = hexDigit(p[0]) * 16 | hexDigit(p[1]);
            if (byte < 0)
                break;
            if (count < capacity)
                out[count] = char(byte);
            ++count;
            p += 3;
        }
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p >= end || *p == '\n' || *p == '\r')
            return count;
        if (*p == '\\') {
            // Continued on the next line, unless that line is the next key's.
            ++p;
            while (p < end && (*p == ' ' || *p == '\t' || *p == '\r'))
                ++p;
            if (p >= end)
                return count;
            if (*p != '\n')
                return -1;
            ++p;
            if (p < end && *p == '[')
                return count;
            continue;
        }
        const int high = hexDigit(*p);
        if (high < 0)
            return -1;
        ++p;
        int byte = high;
        if (p < end && hexDigit(*p) >= 0)
            byte = byte * 16 + hexDigit(*p++);
        if (count < capacity)
            out[count] = char(byte);
        ++count;
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p < end && *p == ',')
            ++p;
    }
}

// Follows hex data from p over its continuation lines to where parseHex
// would stop on well-formed data, without reading the digits. False (p
// unchanged) when a continuation line does not start with a blank, as
// Wine's always do: only parseHex can tell where such data ends.
bool skipHex(const char *&p, const char *end)
{
    const char *at = p;
    for (;;) {
        const void *newline = std::memchr(at, '\n', size_t(end - at));
        const char *stop = newline ? static_cast<const char *>(newline) : end;
        const char *last = stop;
        while (last > at && (last[-1] == ' ' || last[-1] == '\t' || last[-1] == '\r'))
            --last;
        if (!newline || last == at || last[-1] != '\\') {
            p = stop;
            return true;
        }
        at = stop + 1;
        if (at < end && *at == '[') {
            p = at; // the data ran up to the next key's line
            return true;
        }
        if (at < end && *at != ' ' && *at != '\t')
            return false;
    }
}

} // namespace

void appendEscaped(QByteArray &out, QStringView text, const char *delimiters)
{
    static const char letters[32] = {0, 0, 0, 0, 0, 0, 0, 'a', 'b', 't', 'n', 'v', 'f', 'r', 0, 0,
                                     0, 0, 0, 0, 0, 0, 0, 0,   0,   0,   0,   'e', 0,   0,   0, 0};
    char buffer[16];
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const char16_t next = i + 1 < text.size() ? text[i + 1].unicode() : u'\0';
        if (c > 127) {
            std::snprintf(buffer, sizeof buffer, isHexDigit(next) ? "\\x%04x" : "\\x%x", unsigned(c));
            out += buffer;
        } else if (c < 32) {
            if (letters[c]) {
                out += '\\';
                out += letters[c];
            } else {
                std::snprintf(buffer, sizeof buffer, (next >= u'0' && next <= u'7') ? "\\%03o" : "\\%o", unsigned(c));
                out += buffer;
            }
        } else if (c == u'\\' || std::strchr(delimiters, char(c))) {
            out += '\\';
            out += char(c);
        } else {
            out += char(c);
        }
    }
}

QString textOfUnits(const QByteArray &data, qsizetype units)
{
    QString result(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i)
        result[i] = QChar(qFromLittleEndian<quint16>(data.constData() + 2 * i));
    return result;
}

qsizetype nextKeyLine(const char *data, qsizetype from, qsizetype size)
{
    for (qsizetype at = from; at < size;) {
        const void *nl = std::memchr(data + at, '\n', size_t(size - at));
        if (!nl)
            break;
        at = static_cast<const char *>(nl) - data + 1;
        if (at < size && data[at] == '[')
            return at;
    }
    return size;
}

bool parseValueHead(const char *&p, const char *end, const char *&lineStop, ValueName *name)
{
    const char *const line = p;
    const void *newline = std::memchr(p, '\n', size_t(end - p));
    lineStop = newline ? static_cast<const char *>(newline) : end;
    if (*p == '@') {
        ++p;
        if (name)
            name->setPlain(line, 0);
    } else {
        ++p; // the opening quote
        // Plain ASCII without escapes, nearly every name, is taken as it stands.
        const char *q = p;
        while ((q = skipPlainText(q, lineStop)) < lineStop && *q == ']')
            ++q;
        if (q < lineStop && *q == '"') {
            if (name)
                name->setPlain(line, q - p);
            p = q + 1;
        } else {
            if (!parseString(p, lineStop, '"', NoText()))
                return false;
            if (name)
                name->read(line, end);
        }
    }
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    if (p >= end || *p != '=')
        return false;
    ++p;
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    return true;
}

TextParse parseTextData(const char *p, const char *lineStop, quint32 &type, QString &text)
{
    const char *const end = lineStop;
    type = RegSz;
    if (p < end && *p == 's' && QByteArrayView(p, end - p).startsWith("str(")) {
        p += 4;
        quint64 number = 0;
        int digits = 0;
        while (p < end && hexDigit(*p) >= 0 && digits < 8) {
            number = number * 16 + quint64(hexDigit(*p++));
            ++digits;
        }
        if (!digits || end - p < 3 || p[0] != ')' || p[1] != ':' || p[2] != '"')
            return TextParse::Malformed;
        type = quint32(number);
        p += 2;
    } else if (p >= end || *p != '"') {
        return TextParse::OtherForm;
    }
    ++p;
    UnitSink sink(&text, lineStop - p);
    if (!parseString(p, lineStop, '"', sink))
        return TextParse::Malformed;
    sink.finish();
    if (const qsizetype nul = text.indexOf(QChar(u'\0')); nul >= 0)
        text.truncate(nul); // as RegistryValue::text() reads it
    return TextParse::Text;
}

bool parseValue(const char *&p, const char *end, RegistryValue *value, CheckData check, ValueName *name)
{
    const char *lineStop = nullptr;
    return parseValueHead(p, end, lineStop, name) && parseValueData(p, lineStop, end, value, check);
}

bool parseValueData(const char *&p, const char *lineStop, const char *end, RegistryValue *value, CheckData check)
{
    const QByteArrayView rest(p, end - p);
    auto parseText = [&](quint32 type) {
        if (!value && check == CheckData::Skip) {
            p = lineStop;
            return true;
        }
        if (!value)
            return parseString(p, lineStop, '"', NoText());
        Utf16Sink text(&value->data, lineStop - p);
        if (!parseString(p, lineStop, '"', text))
            return false;
        text.finish();
        value->type = type;
        return true;
    };
    if (rest.startsWith('"')) {
        ++p;
        return parseText(RegSz);
    }
    auto parseTypeNumber = [&](const char *prefix, quint32 &type) {
        p += std::strlen(prefix);
        quint64 number = 0;
        int digits = 0;
        while (p < end && hexDigit(*p) >= 0 && digits < 8) {
            number = number * 16 + quint64(hexDigit(*p++));
            ++digits;
        }
        if (!digits || p + 1 >= end || p[0] != ')' || p[1] != ':')
            return false;
        p += 2;
        type = quint32(number);
        return true;
    };
    if (rest.startsWith("str(")) {
        quint32 type = 0;
        if (!parseTypeNumber("str(", type) || p >= end || *p != '"')
            return false;
        ++p;
        return parseText(type);
    }
    if (rest.startsWith("dword:")) {
        p += 6;
        quint64 number = 0;
        int digits = 0;
        while (p < end && hexDigit(*p) >= 0) {
            number = (number * 16 + quint64(hexDigit(*p++))) & 0xffffffffu;
            ++digits;
        }
        if (!digits)
            return false;
        if (value) {
            value->type = RegDword;
            value->data.resize(4);
            qToLittleEndian<quint32>(quint32(number), value->data.data());
        }
        return true;
    }
    quint32 type = RegBinary;
    if (rest.startsWith("hex:")) {
        p += 4;
    } else if (rest.startsWith("hex(")) {
        if (!parseTypeNumber("hex(", type))
            return false;
    } else {
        return false;
    }
    if (!value)
        return (check == CheckData::Skip && skipHex(p, end)) || parseHex(p, end, nullptr, 0) >= 0;
    // Most values fit the stack buffer; a longer one is read again into an
    // array of its size.
    char buffer[2048];
    const char *data = p;
    const qsizetype count = parseHex(p, end, buffer, sizeof buffer);
    if (count < 0)
        return false;
    value->type = type;
    if (count <= qsizetype(sizeof buffer)) {
        value->data = QByteArray(buffer, count);
    } else {
        value->data.resize(count);
        parseHex(data, end, value->data.data(), count);
    }
    return true;
}

void ValueName::read(const char *line, const char *end)
{
    isPlain = true;
    if (*line == '@') {
        plain = QLatin1StringView();
        return;
    }
    const char *p = line + 1;
    // A valid line closes its name on the line: no newline to watch for.
    while ((p = skipPlainText(p, end)) < end && *p == ']')
        ++p;
    if (p < end && *p == '"') {
        plain = QLatin1StringView(line + 1, p - line - 1);
        return;
    }
    isPlain = false;
    const void *newline = std::memchr(line, '\n', size_t(end - line));
    const char *stop = newline ? static_cast<const char *>(newline) : end;
    p = line + 1;
    parseString(p, stop, '"', TextSink(&decoded));
}

} // namespace kelvane::winereg
