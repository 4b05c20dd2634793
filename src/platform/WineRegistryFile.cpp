#include "WineRegistryFile.h"

#include "Error.h"
#include "WineServerLock.h"

#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

struct WineRegistryFile::Key
{
    QString name;
    Key *parent = nullptr;
    std::vector<std::unique_ptr<Key>> children; // kept in Wine's order
    // The blocks of the file that belong to this key: from its '[' line to the
    // next key line. More than one when the file names the key twice.
    std::vector<std::pair<qsizetype, qsizetype>> ranges;
    bool link = false;
    bool parsed = false;
    bool dirty = false;
    // When we changed it: unix seconds for the key line, FILETIME for #time.
    qint64 stampSeconds = 0;
    quint64 stampFiletime = 0;
    QByteArray classLine; // "#class=..." as written
    QList<RegistryValue> values; // kept in Wine's order
};

namespace {

constexpr int maxLinkHops = 16;
const QByteArray header = QByteArrayLiteral("WINE REGISTRY Version 2");
constexpr qint64 filetimeUnixEpoch = 116444736000000000LL; // 1970-01-01 in 100 ns since 1601

// Wine orders names by their lower-case UTF-16 units, then by length.
int wineCompare(QStringView a, QStringView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const int d = int(a[i].toLower().unicode()) - int(b[i].toLower().unicode());
        if (d != 0)
            return d;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads an escaped text from p up to the unescaped delimiter. On success p
// points past the delimiter. Raw bytes are UTF-8.
bool parseString(const char *&p, const char *end, char delimiter, QString &out)
{
    out.clear();
    const char *run = p;
    auto flush = [&](const char *upTo) {
        if (upTo > run)
            out += QString::fromUtf8(run, upTo - run);
    };
    while (p < end) {
        const char c = *p;
        if (c == delimiter) {
            flush(p);
            ++p;
            return true;
        }
        if (c != '\\') {
            ++p;
            continue;
        }
        flush(p);
        ++p;
        if (p >= end)
            return false;
        const char e = *p++;
        switch (e) {
        case 'a': out += QChar(7); break;
        case 'b': out += QChar(8); break;
        case 't': out += QChar(9); break;
        case 'n': out += QChar(10); break;
        case 'v': out += QChar(11); break;
        case 'f': out += QChar(12); break;
        case 'r': out += QChar(13); break;
        case 'e': out += QChar(27); break;
        case 'x': {
            int digits = 0;
            char16_t unit = 0;
            while (digits < 4 && p < end && hexDigit(*p) >= 0) {
                unit = char16_t(unit * 16 + hexDigit(*p));
                ++p;
                ++digits;
            }
            out += digits ? QChar(unit) : QChar(u'x');
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                int number = e - '0';
                for (int digits = 1; digits < 3 && p < end && *p >= '0' && *p <= '7'; ++digits, ++p)
                    number = number * 8 + (*p - '0');
                out += QChar(char16_t(number));
            } else if (static_cast<unsigned char>(e) >= 0x80) {
                run = p - 1; // an escaped UTF-8 sequence stands for itself
                continue;
            } else {
                out += QChar(char16_t(e));
            }
        }
        run = p;
    }
    return false;
}

bool isHexDigit(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The writer's form: pure ASCII, \x padded to four digits and octal to three
// only when the next character would otherwise be read as part of it.
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

QByteArray utf16Data(const QString &text)
{
    return RegistryValue::fromText(QString(), text).data;
}

QString textOfUnits(const QByteArray &data, qsizetype units)
{
    QString result(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i)
        result[i] = QChar(qFromLittleEndian<quint16>(data.constData() + 2 * i));
    return result;
}

// Hex bytes "xx,xx,..." over continuation lines; p advances over what it read.
bool parseHex(const char *&p, const char *end, QByteArray &out)
{
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p >= end || *p == '\n' || *p == '\r')
            return true;
        if (*p == '\\') {
            // Continued on the next line.
            ++p;
            while (p < end && (*p == ' ' || *p == '\t' || *p == '\r'))
                ++p;
            if (p >= end)
                return true;
            if (*p != '\n')
                return false;
            ++p;
            continue;
        }
        const int high = hexDigit(*p);
        if (high < 0)
            return false;
        ++p;
        int byte = high;
        if (p < end && hexDigit(*p) >= 0)
            byte = byte * 16 + hexDigit(*p++);
        out += char(byte);
        while (p < end && (*p == ' ' || *p == '\t'))
            ++p;
        if (p < end && *p == ',')
            ++p;
    }
}

qsizetype lineEnd(const QByteArray &bytes, qsizetype from, qsizetype limit)
{
    const qsizetype nl = bytes.indexOf('\n', from);
    return (nl < 0 || nl > limit) ? limit : nl;
}

// One value line (with its continuation lines) from p; false when Wine would skip it.
bool parseValue(const char *&p, const char *end, RegistryValue &value)
{
    value = RegistryValue();
    // Names and texts end on their line; only hex data continues.
    const void *newline = std::memchr(p, '\n', size_t(end - p));
    const char *lineStop = newline ? static_cast<const char *>(newline) : end;
    if (*p == '@') {
        ++p;
    } else {
        ++p; // the opening quote
        if (!parseString(p, lineStop, '"', value.name))
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
        QString text;
        if (!parseString(p, lineStop, '"', text))
            return false;
        value.type = type;
        value.data = utf16Data(text);
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
        value = RegistryValue::fromDword(value.name, quint32(number));
        return true;
    }
    if (rest.startsWith("hex:")) {
        p += 4;
        value.type = RegBinary;
    } else if (rest.startsWith("hex(")) {
        if (!parseTypeNumber("hex(", value.type))
            return false;
    } else {
        return false;
    }
    return parseHex(p, end, value.data);
}

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

WineRegistryFile::WineRegistryFile() = default;
WineRegistryFile::~WineRegistryFile() = default;

std::unique_ptr<WineRegistryFile> WineRegistryFile::open(const QString &path)
{
    std::unique_ptr<WineRegistryFile> file(new WineRegistryFile);
    file->m_path = QFileInfo(path).absoluteFilePath();
    file->m_name = file->m_path;
    file->reload();
    return file;
}

std::unique_ptr<WineRegistryFile> WineRegistryFile::fromBytes(const QByteArray &bytes, const QString &nameForMessages)
{
    std::unique_ptr<WineRegistryFile> file(new WineRegistryFile);
    file->m_name = nameForMessages;
    file->load(bytes);
    return file;
}

QString WineRegistryFile::location() const
{
    return m_name;
}

void WineRegistryFile::load(const QByteArray &bytes)
{
    const qsizetype firstEnd = lineEnd(bytes, 0, bytes.size());
    QByteArrayView first(bytes.constData(), firstEnd);
    if (first.endsWith('\r'))
        first.chop(1);
    if (first != QByteArrayView(header))
        throw Error(u"%1 is not a Wine registry file: its first line is not \"WINE REGISTRY Version 2\"."_s.arg(
            QDir::toNativeSeparators(m_name)));

    auto root = std::make_unique<Key>();
    root->parsed = false;
    m_crlf = firstEnd < bytes.size() && firstEnd > 0 && bytes.at(firstEnd - 1) == '\r';

    // Key lines start with '['; nothing else can begin a line with it.
    std::vector<qsizetype> starts;
    for (qsizetype at = bytes.indexOf("\n[", firstEnd); at >= 0; at = bytes.indexOf("\n[", at + 1))
        starts.push_back(at + 1);
    m_firstKey = starts.empty() ? bytes.size() : starts.front();

    QString keyName;
    for (size_t i = 0; i < starts.size(); ++i) {
        const qsizetype begin = starts[i];
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : bytes.size();
        const qsizetype nameEnd = lineEnd(bytes, begin, end);
        const char *p = bytes.constData() + begin + 1;
        if (!parseString(p, bytes.constData() + nameEnd, ']', keyName))
            continue; // Wine skips a malformed key line and the values under it
        Key *key = root.get();
        for (QStringView part : QStringView(keyName).split(u'\\', Qt::SkipEmptyParts))
            key = childOf(key, part, true);
        key->ranges.emplace_back(begin, end);
        // Meta lines follow the key line directly.
        for (qsizetype line = nameEnd + 1; line < end && bytes.at(line) == '#';) {
            const qsizetype stop = lineEnd(bytes, line, end);
            QByteArrayView text(bytes.constData() + line, stop - line);
            if (text.endsWith('\r'))
                text.chop(1);
            if (text == "#link")
                key->link = true;
            line = stop + 1;
        }
    }
    m_bytes = bytes;
    m_root = std::move(root);
    m_modified = false;
}

WineRegistryFile::Key *WineRegistryFile::childOf(Key *key, QStringView name, bool create)
{
    auto &children = key->children;
    auto less = [](const std::unique_ptr<Key> &child, QStringView n) { return wineCompare(child->name, n) < 0; };
    auto it = children.end();
    // Wine writes keys in order, so a new name mostly goes last.
    if (children.empty() || wineCompare(children.back()->name, name) < 0)
        it = children.end();
    else
        it = std::lower_bound(children.begin(), children.end(), name, less);
    if (it != children.end() && wineCompare((*it)->name, name) == 0)
        return it->get();
    if (!create)
        return nullptr;
    auto child = std::make_unique<Key>();
    child->name = name.toString();
    child->parent = key;
    return children.insert(it, std::move(child))->get();
}

void WineRegistryFile::ensureValues(Key *key) const
{
    if (key->parsed)
        return;
    key->parsed = true;
    for (const auto &[begin, end] : key->ranges) {
        qsizetype line = lineEnd(m_bytes, begin, end) + 1;
        while (line < end) {
            const char c = m_bytes.at(line);
            const qsizetype stop = lineEnd(m_bytes, line, end);
            if (c == '#') {
                QByteArrayView text(m_bytes.constData() + line, stop - line);
                if (text.endsWith('\r'))
                    text.chop(1);
                if (text.startsWith("#class="))
                    key->classLine = text.toByteArray();
                line = stop + 1;
                continue;
            }
            if (c != '"' && c != '@') {
                line = stop + 1;
                continue;
            }
            const char *p = m_bytes.constData() + line;
            const char *limit = m_bytes.constData() + end;
            RegistryValue value;
            const bool ok = parseValue(p, limit, value);
            if (ok)
                insertValue(key->values, value);
            // Go on after the line where the value ended (hex values span lines).
            const qsizetype reached = std::max<qsizetype>(p - m_bytes.constData(), line);
            line = lineEnd(m_bytes, reached, end) + 1;
        }
    }
}

WineRegistryFile::Key *WineRegistryFile::resolveLink(Key *key, int &hops) const
{
    while (key && key->link) {
        if (++hops > maxLinkHops)
            return nullptr;
        ensureValues(key);
        const auto it = std::find_if(key->values.cbegin(), key->values.cend(), [](const RegistryValue &v) {
            return v.type == RegLink && wineCompare(v.name, u"SymbolicLinkValue") == 0;
        });
        if (it == key->values.cend())
            return nullptr;
        QString target = textOfUnits(it->data, it->data.size() / 2);
        static const QString machine = u"\\Registry\\Machine"_s;
        if (!target.startsWith(machine, Qt::CaseInsensitive))
            return nullptr; // another hive
        target = target.mid(machine.size());
        if (!target.isEmpty() && !target.startsWith(u'\\'))
            return nullptr;
        key = walk(target, true, hops);
    }
    return key;
}

WineRegistryFile::Key *WineRegistryFile::walk(const QString &path, bool followLast, int &hops) const
{
    Key *key = m_root.get();
    const auto parts = QStringView(path).split(u'\\', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size() && key; ++i) {
        key = resolveLink(key, hops);
        if (!key)
            return nullptr;
        key = childOf(key, parts[i], false);
    }
    return followLast ? resolveLink(key, hops) : key;
}

WineRegistryFile::Key *WineRegistryFile::find(const QString &path, bool followLast) const
{
    int hops = 0;
    return walk(path, followLast, hops);
}

bool WineRegistryFile::keyExists(const QString &path) const
{
    return find(path, true) != nullptr;
}

bool WineRegistryFile::isLink(const QString &path) const
{
    const Key *key = find(path, false);
    return key && key->link;
}

QStringList WineRegistryFile::subkeyNames(const QString &path) const
{
    QStringList names;
    if (const Key *key = find(path, true)) {
        names.reserve(qsizetype(key->children.size()));
        for (const auto &child : key->children)
            names.append(child->name);
    }
    return names;
}

std::optional<RegistryValue> WineRegistryFile::value(const QString &path, const QString &name) const
{
    Key *key = find(path, true);
    if (!key)
        return std::nullopt;
    ensureValues(key);
    for (const RegistryValue &v : std::as_const(key->values)) {
        if (wineCompare(v.name, name) == 0)
            return v;
    }
    return std::nullopt;
}

QList<RegistryValue> WineRegistryFile::values(const QString &path) const
{
    Key *key = find(path, true);
    if (!key)
        return {};
    ensureValues(key);
    return key->values;
}

void WineRegistryFile::touch(Key *key)
{
    ensureValues(key);
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    key->stampSeconds = now.tv_sec;
    key->stampFiletime = quint64(now.tv_sec) * 10000000ULL + quint64(now.tv_nsec / 100) + quint64(filetimeUnixEpoch);
    key->dirty = true;
    m_modified = true;
}

WineRegistryFile::Key *WineRegistryFile::findOrCreate(const QString &path)
{
    int hops = 0;
    Key *key = m_root.get();
    for (QStringView part : QStringView(path).split(u'\\', Qt::SkipEmptyParts)) {
        Key *resolved = resolveLink(key, hops);
        if (!resolved)
            throw Error(u"%1: the key %2 leads through a broken or looping link."_s.arg(QDir::toNativeSeparators(m_name), path));
        key = resolved;
        if (Key *child = childOf(key, part, false)) {
            key = child;
            continue;
        }
        // Wine stamps the parent whose subkeys changed.
        if (key != m_root.get())
            touch(key);
        key = childOf(key, part, true);
        key->parsed = true;
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
    insertValue(key->values, value);
}

void WineRegistryFile::deleteTree(const QString &path)
{
    Key *key = find(path, false);
    if (!key)
        return;
    if (key == m_root.get()) {
        if (!key->children.empty()) {
            key->children.clear();
            m_modified = true;
        }
        return;
    }
    Key *parent = key->parent;
    auto &siblings = parent->children;
    siblings.erase(std::find_if(siblings.begin(), siblings.end(), [key](const auto &c) { return c.get() == key; }));
    if (parent != m_root.get())
        touch(parent);
    m_modified = true;
}

QString WineRegistryFile::fullPath(const Key *key)
{
    QStringList parts;
    for (; key && key->parent; key = key->parent)
        parts.prepend(key->name);
    return parts.join(u'\\');
}

void WineRegistryFile::serialise(const Key *key, QByteArray &out) const
{
    const QByteArray eol = m_crlf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    out += '[';
    appendEscaped(out, fullPath(key), "[]");
    out += "] " + QByteArray::number(key->stampSeconds) + eol;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "#time=%x%08x", unsigned(key->stampFiletime >> 32), unsigned(key->stampFiletime & 0xffffffffu));
    out += QByteArray(buffer) + eol;
    if (!key->classLine.isEmpty())
        out += key->classLine + eol;
    if (key->link)
        out += "#link" + eol;
    for (const RegistryValue &v : key->values) {
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

void WineRegistryFile::emitTree(const Key *key, QByteArray &out) const
{
    const QByteArray eol = m_crlf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    auto separate = [&] {
        // Keys are separated by one empty line.
        if (!out.endsWith('\n'))
            out += eol;
        if (!out.endsWith(QByteArray(eol + eol)))
            out += eol;
    };
    if (key->dirty) {
        // Wine writes a key that has values, no subkeys, a class or a link.
        // The root ("[]") only when values were set on it, through a link.
        const bool write = key == m_root.get()
            ? !key->values.isEmpty()
            : (!key->values.isEmpty() || key->children.empty() || !key->classLine.isEmpty() || key->link);
        if (write) {
            separate();
            serialise(key, out);
        }
    } else {
        for (const auto &[begin, end] : key->ranges) {
            separate();
            out += QByteArrayView(m_bytes.constData() + begin, end - begin);
        }
    }
    for (const auto &child : key->children)
        emitTree(child.get(), out);
}

QByteArray WineRegistryFile::toBytes() const
{
    if (!m_modified)
        return m_bytes;
    QByteArray out = m_bytes.left(m_firstKey);
    out.reserve(m_bytes.size() + 4096);
    emitTree(m_root.get(), out);
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

void WineRegistryFile::checkWritable() const
{
    if (m_path.isEmpty())
        throw Error(u"The registry %1 has no file to save to."_s.arg(m_name));
    WineServerLock::ensureNoServer(QFileInfo(m_path).absolutePath());
}

bool WineRegistryFile::changedOnDisk() const
{
    if (m_path.isEmpty())
        return false;
    struct stat st {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0)
        return true;
    return quint64(st.st_dev) != m_dev || quint64(st.st_ino) != m_ino || st.st_mtim.tv_sec != m_mtimeSec
        || st.st_mtim.tv_nsec != m_mtimeNsec || qint64(st.st_size) != m_size;
}

void WineRegistryFile::rememberStat(const struct stat &st)
{
    m_dev = quint64(st.st_dev);
    m_ino = quint64(st.st_ino);
    m_mtimeSec = st.st_mtim.tv_sec;
    m_mtimeNsec = st.st_mtim.tv_nsec;
    m_size = qint64(st.st_size);
}

void WineRegistryFile::reload()
{
    if (m_path.isEmpty())
        throw Error(u"The registry %1 has no file to read again."_s.arg(m_name));
    const QString shown = QDir::toNativeSeparators(m_path);
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(u"Could not open the registry file %1: %2"_s.arg(shown, file.errorString()));
    struct stat st {};
    if (::fstat(file.handle(), &st) != 0)
        throw Error(u"Could not examine the registry file %1: %2"_s.arg(shown, QString::fromLocal8Bit(std::strerror(errno))));
    const QByteArray bytes = file.readAll();
    // A file read only in part must never be written back.
    if (file.error() != QFileDevice::NoError || qint64(bytes.size()) != qint64(st.st_size))
        throw Error(u"Could not read the registry file %1 completely: %2"_s.arg(shown, file.errorString()));
    WineRegistryFile fresh;
    fresh.m_name = m_name;
    fresh.load(bytes);
    m_bytes = std::move(fresh.m_bytes);
    m_root = std::move(fresh.m_root);
    m_firstKey = fresh.m_firstKey;
    m_crlf = fresh.m_crlf;
    m_modified = false;
    rememberStat(st);
}

void WineRegistryFile::save()
{
    if (m_path.isEmpty())
        throw Error(u"The registry %1 has no file to save to."_s.arg(m_name));
    if (!m_modified)
        return;
    const QString shown = QDir::toNativeSeparators(m_path);
    const QFileInfo info(m_path);
    // Held until the file is in place, so that no wineserver starts meanwhile.
    const WineServerLock lock(info.absolutePath());
    if (changedOnDisk())
        throw Error(u"The registry file %1 was changed by another program since it was read; "
                    "reload it and make the change again."_s.arg(shown));
    const QByteArray bytes = toBytes();

    struct stat st {};
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0)
        throw Error(u"Could not examine the registry file %1: %2"_s.arg(shown, QString::fromLocal8Bit(std::strerror(errno))));
    QByteArray temp = QFile::encodeName(info.absolutePath() + u"/."_s + info.fileName() + u".XXXXXX"_s);
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw Error(u"Could not create a temporary file beside %1: %2"_s.arg(shown, QString::fromLocal8Bit(std::strerror(errno))));
    auto fail = [&](const QString &what) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        ::unlink(temp.constData());
        return Error(u"Could not save the registry file %1 (%2): %3"_s.arg(shown, what, reason));
    };
    if (::fchmod(fd, st.st_mode & 07777) != 0)
        throw fail(u"setting its mode"_s);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw fail(u"writing"_s);
        done += n;
    }
    if (::fsync(fd) != 0)
        throw fail(u"flushing"_s);
    if (::close(fd) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(temp.constData());
        throw Error(u"Could not save the registry file %1 (closing): %2"_s.arg(shown, reason));
    }
    if (::rename(temp.constData(), QFile::encodeName(m_path).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ::unlink(temp.constData());
        throw Error(u"Could not save the registry file %1 (replacing it): %2"_s.arg(shown, reason));
    }
    const int dir = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    // What is on disk now is what we hold.
    load(bytes);
    struct stat after {};
    if (::stat(QFile::encodeName(m_path).constData(), &after) == 0)
        rememberStat(after);
}

} // namespace kelvane
