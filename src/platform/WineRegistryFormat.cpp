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

bool parseValue(const char *&p, const char *end, RegistryValue *value)
{
    // Names and texts end on their line; only hex data continues.
    const void *newline = std::memchr(p, '\n', size_t(end - p));
    const char *lineStop = newline ? static_cast<const char *>(newline) : end;
    if (*p == '@') {
        ++p;
    } else {
        ++p; // the opening quote
        if (!parseString(p, lineStop, '"', NoText()))
            return false;
    }
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    if (p >= end || *p != '=')
        return false;
    ++p;
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    const QByteArrayView rest(p, end - p);
    auto parseText = [&](quint32 type) {
        if (!value)
            return parseString(p, lineStop, '"', NoText());
        value->data.reserve(2 * (lineStop - p) + 2);
        if (!parseString(p, lineStop, '"', Utf16Sink(&value->data)))
            return false;
        const qsizetype size = value->data.size();
        value->data.resize(size + 2); // the final NUL, in the room reserved
        value->data[size] = value->data[size + 1] = '\0';
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
        return parseHex(p, end, nullptr, 0) >= 0;
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
    while (p < end && *p != '"' && *p != '\\' && *p != '\n' && static_cast<unsigned char>(*p) < 0x80)
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
