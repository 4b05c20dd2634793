#include "WineRegistryFile.h"

#include "Error.h"
#include "HostFile.h"
#include "WineServerLock.h"

#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHashFunctions>
#include <QIODevice>
#include <QLatin1StringView>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

// Where a clean key's value is: the line that first spells its name and the
// line that defines it last (Wine merges a name written twice).
struct WineRegistryFile::ValueRef
{
    qsizetype nameLine;
    qsizetype dataLine;
    quint32 nameHash; // of the folded name: most lookups compare only this
};

struct WineRegistryFile::Key
{
    // The bytes of the file from a '[' line to the next key line.
    struct Block
    {
        qsizetype begin = -1;
        qsizetype end = -1;
    };
    // An edited key: written anew from these instead of its blocks.
    struct Edit
    {
        // When we changed it: unix seconds for the key line, FILETIME for #time.
        qint64 stampSeconds = 0;
        quint64 stampFiletime = 0;
        QByteArray classLine; // "#class=..." as written
        QList<RegistryValue> values; // kept in Wine's order
    };

    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    // Takes the subtree apart without recursion: a file may nest keys deeper
    // than the stack would allow.
    ~Key()
    {
        std::vector<std::unique_ptr<Key>> pending = std::move(children);
        while (!pending.empty()) {
            std::unique_ptr<Key> key = std::move(pending.back());
            pending.pop_back();
            for (auto &child : key->children)
                pending.push_back(std::move(child));
            key->children.clear();
        }
    }

    template<typename Visit>
    void forEachBlock(Visit visit) const
    {
        if (block.begin >= 0)
            visit(block);
        for (const Block &more : moreBlocks)
            visit(more);
    }

    QString name;
    Key *parent = nullptr;
    std::vector<std::unique_ptr<Key>> children; // kept in Wine's order
    Block block; // the first block; more when the file names the key again
    std::vector<Block> moreBlocks;
    std::vector<ValueRef> index; // clean keys, once read: by name, in Wine's order
    std::unique_ptr<Edit> edit;
    bool link = false;
    bool indexed = false;
    bool unsorted = false; // while loading: children arrived out of order
};

namespace {

using Key = WineRegistryFile::Key;

constexpr int maxLinkHops = 16;
const QByteArray header = QByteArrayLiteral("WINE REGISTRY Version 2");
constexpr qint64 filetimeUnixEpoch = 116444736000000000LL; // 1970-01-01 in 100 ns since 1601

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

int wineCompare(const QString &a, const QString &b)
{
    return wineCompare(QStringView(a), QStringView(b));
}

inline QString toQString(QStringView text)
{
    return text.toString();
}

inline QString toQString(QLatin1StringView text)
{
    return QString(text);
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

constexpr std::array<signed char, 256> hexDigits = [] {
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

// Where parseString puts a text: a QString, the UTF-16LE bytes of a value
// (as Windows keeps them), or nowhere when the text is only checked.
class TextSink
{
public:
    TextSink() = default;
    explicit TextSink(QString *text)
        : m_text(text)
    {
        m_text->resize(0);
    }
    explicit TextSink(QByteArray *utf16)
        : m_utf16(utf16)
    {
        m_utf16->resize(0);
    }

    void latin1(const char *run, qsizetype size)
    {
        if (m_text) {
            m_text->append(QLatin1StringView(run, size));
        } else if (m_utf16) {
            const qsizetype at = m_utf16->size();
            m_utf16->resize(at + 2 * size);
            char *out = m_utf16->data() + at;
            for (qsizetype i = 0; i < size; ++i) {
                out[2 * i] = run[i];
                out[2 * i + 1] = 0;
            }
        }
    }
    void utf8(const char *run, qsizetype size)
    {
        if (m_text) {
            m_text->append(QString::fromUtf8(run, size));
        } else if (m_utf16) {
            const QString text = QString::fromUtf8(run, size);
            for (const QChar c : text)
                unit(c.unicode());
        }
    }
    void unit(char16_t c)
    {
        if (m_text) {
            m_text->append(QChar(c));
        } else if (m_utf16) {
            m_utf16->append(char(c & 0xff));
            m_utf16->append(char(c >> 8));
        }
    }

private:
    QString *m_text = nullptr;
    QByteArray *m_utf16 = nullptr;
};

// Bytes a text scan must stop at: the delimiters, the escape, and UTF-8.
enum TextByte : unsigned char { TextPlain, TextSpecial };
constexpr std::array<unsigned char, 256> textBytes = [] {
    std::array<unsigned char, 256> table{};
    for (int c = 0x80; c < 0x100; ++c)
        table[size_t(c)] = TextSpecial;
    table[size_t('"')] = TextSpecial;
    table[size_t(']')] = TextSpecial;
    table[size_t('\\')] = TextSpecial;
    return table;
}();

// Reads an escaped text from p up to the unescaped delimiter. On success p
// points past the delimiter. Raw bytes are UTF-8.
bool parseString(const char *&p, const char *end, char delimiter, TextSink out)
{
    Q_ASSERT(textBytes[static_cast<unsigned char>(delimiter)] == TextSpecial);
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
    auto add = [&](char16_t unit) { out.unit(unit); };
    while (p < end) {
        // Plain ASCII goes by with one table look-up a byte.
        while (p < end && textBytes[static_cast<unsigned char>(*p)] == TextPlain)
            ++p;
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
        case 'a': add(7); break;
        case 'b': add(8); break;
        case 't': add(9); break;
        case 'n': add(10); break;
        case 'v': add(11); break;
        case 'f': add(12); break;
        case 'r': add(13); break;
        case 'e': add(27); break;
        case 'x': {
            int digits = 0;
            char16_t unit = 0;
            while (digits < 4 && p < end && hexDigit(*p) >= 0) {
                unit = char16_t(unit * 16 + hexDigit(*p));
                ++p;
                ++digits;
            }
            add(digits ? unit : u'x');
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                int number = e - '0';
                for (int digits = 1; digits < 3 && p < end && *p >= '0' && *p <= '7'; ++digits, ++p)
                    number = number * 8 + (*p - '0');
                add(char16_t(number));
            } else if (static_cast<unsigned char>(e) >= 0x80) {
                run = p - 1; // an escaped UTF-8 sequence stands for itself
                ascii = false;
                continue;
            } else {
                add(char16_t(e));
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

QString textOfUnits(const QByteArray &data, qsizetype units)
{
    QString result(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i)
        result[i] = QChar(qFromLittleEndian<quint16>(data.constData() + 2 * i));
    return result;
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
            // Continued on the next line.
            ++p;
            while (p < end && (*p == ' ' || *p == '\t' || *p == '\r'))
                ++p;
            if (p >= end)
                return count;
            if (*p != '\n')
                return -1;
            ++p;
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

// The end of the line that starts at from: its '\n', or limit.
qsizetype lineEnd(const QByteArray &bytes, qsizetype from, qsizetype limit)
{
    if (from >= limit)
        return limit;
    const void *nl = std::memchr(bytes.constData() + from, '\n', size_t(limit - from));
    return nl ? static_cast<const char *>(nl) - bytes.constData() : limit;
}

// One value line (with its continuation lines) from p; false when Wine would
// skip it. Fills the type and data of value; the name is the caller's (see
// ValueName). With value null the line is only checked; p ends in the same place.
bool parseValue(const char *&p, const char *end, RegistryValue *value)
{
    // Names and texts end on their line; only hex data continues.
    const void *newline = std::memchr(p, '\n', size_t(end - p));
    const char *lineStop = newline ? static_cast<const char *>(newline) : end;
    if (*p == '@') {
        ++p;
    } else {
        ++p; // the opening quote
        if (!parseString(p, lineStop, '"', TextSink()))
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
            return parseString(p, lineStop, '"', TextSink());
        value->data.reserve(2 * (lineStop - p) + 2);
        if (!parseString(p, lineStop, '"', TextSink(&value->data)))
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

// A value's name as its line spells it: plain ASCII without escapes is
// compared in place, anything else decoded first.
struct ValueName
{
    QLatin1StringView plain;
    QString decoded;
    bool isPlain = true;

    // line starts with '"' or '@' and holds a value that parses.
    void read(const char *line, const char *end)
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

int compareNames(const ValueName &a, const ValueName &b)
{
    return b.isPlain ? compareName(a, b.plain) : compareName(a, QStringView(b.decoded));
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

// Splits a key line's name ('[' already passed) into its parts in place
// when it holds only plain ASCII and "\\" separators: the common case, with
// no text to decode. False leaves the line to the full parser.
bool plainKeyParts(const char *p, const char *stop, std::vector<QLatin1StringView> &parts)
{
    parts.clear();
    const char *part = p;
    while (p < stop) {
        const char c = *p;
        if (c == ']') {
            if (p > part)
                parts.emplace_back(part, p - part);
            return true;
        }
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
        if (c == '\\') {
            if (p + 1 >= stop || p[1] != '\\')
                return false;
            if (p > part)
                parts.emplace_back(part, p - part);
            p += 2;
            part = p;
            continue;
        }
        ++p;
    }
    return false;
}

// Finds a key's child by name while loading, in constant time: children are
// appended in file order and sorted once at the end, since a file that is
// not in Wine's order (hand-edited, generated) would otherwise cost a sorted
// insert per key.
class ChildTable
{
public:
    explicit ChildTable(size_t expected)
    {
        size_t capacity = 1024;
        while (capacity < expected * 2)
            capacity *= 2;
        m_slots.resize(capacity);
    }

    template<typename View>
    Key *child(Key *parent, View name)
    {
        const size_t hash = foldedHash(name, size_t(reinterpret_cast<quintptr>(parent)) * 0x9e3779b97f4a7c15ULL);
        size_t mask = m_slots.size() - 1;
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot &slot = m_slots[i];
            if (!slot.key)
                break;
            if (slot.hash == hash && slot.key->parent == parent && wineCompare(QStringView(slot.key->name), name) == 0)
                return slot.key;
        }
        auto created = std::make_unique<Key>();
        created->name = toQString(name);
        created->parent = parent;
        if (!parent->children.empty() && wineCompare(parent->children.back()->name, created->name) > 0)
            parent->unsorted = true;
        Key *key = created.get();
        parent->children.push_back(std::move(created));
        if (2 * (m_used + 1) > m_slots.size())
            grow();
        mask = m_slots.size() - 1;
        size_t i = hash & mask;
        while (m_slots[i].key)
            i = (i + 1) & mask;
        m_slots[i] = {hash, key};
        ++m_used;
        return key;
    }

private:
    struct Slot
    {
        size_t hash = 0;
        Key *key = nullptr;
    };

    void grow()
    {
        std::vector<Slot> old(m_slots.size() * 2);
        old.swap(m_slots);
        const size_t mask = m_slots.size() - 1;
        for (const Slot &slot : old) {
            if (!slot.key)
                continue;
            size_t i = slot.hash & mask;
            while (m_slots[i].key)
                i = (i + 1) & mask;
            m_slots[i] = slot;
        }
    }

    std::vector<Slot> m_slots;
    size_t m_used = 0;
};

// Puts every key's children into Wine's order after loading.
void sortChildren(Key *root)
{
    std::vector<Key *> pending{root};
    while (!pending.empty()) {
        Key *key = pending.back();
        pending.pop_back();
        if (key->unsorted) {
            std::sort(key->children.begin(), key->children.end(),
                      [](const auto &a, const auto &b) { return wineCompare(a->name, b->name) < 0; });
            key->unsorted = false;
        }
        for (const auto &child : key->children)
            pending.push_back(child.get());
    }
}

// Reads the file whole; a file read only in part must never be written
// back. A large buffer asks for transparent huge pages and is populated at
// once: faulting in thousands of small pages one by one can cost more than
// the reading itself, several times so in virtual machines. Either request
// failing only costs that speed.
QByteArray readWhole(const HostFile &file)
{
    const qint64 size = file.size();
    if (size < 0 || quint64(size) > quint64(std::numeric_limits<qsizetype>::max() / 2))
        throw Error(u"The registry file %1 is too large to read (%2 bytes)."_s.arg(file.shownPath()).arg(size));
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    constexpr qint64 largeFile = 4 << 20;
    if (size >= largeFile) {
        const quintptr page = quintptr(::sysconf(_SC_PAGESIZE));
        const quintptr first = (reinterpret_cast<quintptr>(bytes.data()) + page - 1) & ~(page - 1);
        const quintptr last = (reinterpret_cast<quintptr>(bytes.data()) + quintptr(size)) & ~(page - 1);
        void *start = reinterpret_cast<void *>(first);
        ::madvise(start, last - first, MADV_HUGEPAGE);
        ::madvise(start, last - first, MADV_POPULATE_WRITE);
    }
    file.readInto(bytes.data());
    return bytes;
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
    const bool crlf = firstEnd < bytes.size() && firstEnd > 0 && bytes.at(firstEnd - 1) == '\r';

    // Key lines start with '['; nothing else can begin a line with it.
    const char *data = bytes.constData();
    std::vector<qsizetype> starts;
    for (qsizetype at = firstEnd + 1; at < bytes.size();) {
        const void *bracket = std::memchr(data + at, '[', size_t(bytes.size() - at));
        if (!bracket)
            break;
        at = static_cast<const char *>(bracket) - data;
        if (data[at - 1] == '\n')
            starts.push_back(at);
        ++at;
    }

    ChildTable table(starts.size() + 64);
    std::vector<QLatin1StringView> plainParts;
    QString keyName;
    for (size_t i = 0; i < starts.size(); ++i) {
        const qsizetype begin = starts[i];
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : bytes.size();
        const qsizetype nameEnd = lineEnd(bytes, begin, end);
        Key *key = root.get();
        if (plainKeyParts(data + begin + 1, data + nameEnd, plainParts)) {
            for (QLatin1StringView part : plainParts)
                key = table.child(key, part);
        } else {
            const char *p = data + begin + 1;
            if (!parseString(p, data + nameEnd, ']', TextSink(&keyName)))
                continue; // Wine skips a malformed key line and the values under it
            for (QStringView part : QStringView(keyName).split(u'\\', Qt::SkipEmptyParts))
                key = table.child(key, part);
        }
        if (key->block.begin < 0)
            key->block = {begin, end};
        else
            key->moreBlocks.push_back({begin, end});
        // Meta lines follow the key line directly.
        for (qsizetype line = nameEnd + 1; line < end && bytes.at(line) == '#';) {
            const qsizetype stop = lineEnd(bytes, line, end);
            QByteArrayView text(data + line, stop - line);
            if (text.endsWith('\r'))
                text.chop(1);
            if (text == "#link")
                key->link = true;
            line = stop + 1;
        }
    }
    sortChildren(root.get());
    dropLookups();
    m_bytes = bytes;
    m_firstKey = starts.empty() ? bytes.size() : starts.front();
    m_crlf = crlf;
    m_root = std::move(root);
    m_modified = false;
}

WineRegistryFile::Key *WineRegistryFile::childOf(Key *key, QStringView name, bool create)
{
    auto &children = key->children;
    auto less = [](const std::unique_ptr<Key> &child, QStringView n) { return wineCompare(QStringView(child->name), n) < 0; };
    auto it = std::lower_bound(children.begin(), children.end(), name, less);
    if (it != children.end() && wineCompare(QStringView((*it)->name), name) == 0)
        return it->get();
    if (!create)
        return nullptr;
    auto child = std::make_unique<Key>();
    child->name = name.toString();
    child->parent = key;
    return children.insert(it, std::move(child))->get();
}

// Goes over a key's value lines as Wine reads them: the index gets each
// name once (where it is first spelt, defined by its last line), in Wine's
// order; classLine, when given, the key's last "#class=" line.
void WineRegistryFile::scanValues(const Key *key, std::vector<ValueRef> &index, QByteArray *classLine) const
{
    const char *data = m_bytes.constData();
    const char *fileEnd = data + m_bytes.size();
    // The names are read once and sorted afterwards (stable: of a repeated
    // name the first line spells it, the last one defines it); inserting each
    // in order re-read a name for every comparison.
    struct Found
    {
        ValueName name;
        qsizetype line;
    };
    std::vector<Found> found;
    auto add = [&](qsizetype line) {
        found.push_back({ValueName(), line});
        found.back().name.read(data + line, fileEnd);
    };
    key->forEachBlock([&](const Key::Block &block) {
        const qsizetype end = block.end;
        qsizetype line = lineEnd(m_bytes, block.begin, end) + 1;
        while (line < end) {
            const char c = data[line];
            const qsizetype stop = lineEnd(m_bytes, line, end);
            if (c == '#') {
                if (classLine) {
                    QByteArrayView text(data + line, stop - line);
                    if (text.endsWith('\r'))
                        text.chop(1);
                    if (text.startsWith("#class="))
                        *classLine = text.toByteArray();
                }
                line = stop + 1;
                continue;
            }
            if (c != '"' && c != '@') {
                line = stop + 1;
                continue;
            }
            const char *p = data + line;
            if (parseValue(p, data + end, nullptr))
                add(line);
            // Go on after the line where the value ended (hex values span lines).
            const qsizetype reached = std::max<qsizetype>(p - data, line);
            line = lineEnd(m_bytes, reached, end) + 1;
        }
    });
    std::stable_sort(found.begin(), found.end(),
                     [](const Found &a, const Found &b) { return compareNames(a.name, b.name) < 0; });
    index.reserve(index.size() + found.size());
    for (size_t i = 0; i < found.size(); ++i) {
        if (i > 0 && compareNames(found[i - 1].name, found[i].name) == 0)
            index.back().dataLine = found[i].line;
        else
            index.push_back({found[i].line, found[i].line, found[i].name.hash()});
    }
}

void WineRegistryFile::ensureIndex(Key *key) const
{
    if (key->indexed)
        return;
    key->indexed = true;
    scanValues(key, key->index, nullptr);
    key->index.shrink_to_fit();
}

RegistryValue WineRegistryFile::valueAt(const Key *key, const ValueRef &ref, const QString *asked) const
{
    qsizetype end = m_bytes.size();
    key->forEachBlock([&](const Key::Block &block) {
        if (ref.dataLine >= block.begin && ref.dataLine < block.end)
            end = block.end;
    });
    RegistryValue value;
    const char *p = m_bytes.constData() + ref.dataLine;
    parseValue(p, m_bytes.constData() + end, &value); // checked when indexed
    ValueName name;
    name.read(m_bytes.constData() + ref.nameLine, m_bytes.constData() + m_bytes.size());
    value.name = name.spelt(asked);
    return value;
}

std::optional<RegistryValue> WineRegistryFile::lookupValue(Key *key, QStringView name, const QString *asked) const
{
    if (key->edit) {
        for (const RegistryValue &v : std::as_const(key->edit->values))
            if (wineCompare(QStringView(v.name), name) == 0)
                return v;
        return std::nullopt;
    }
    ensureIndex(key);
    const char *data = m_bytes.constData();
    const char *fileEnd = data + m_bytes.size();
    const quint32 hash = nameHash(name);
    ValueName found;
    for (const ValueRef &ref : key->index) {
        if (ref.nameHash != hash)
            continue;
        found.read(data + ref.nameLine, fileEnd);
        if (compareName(found, name) == 0)
            return valueAt(key, ref, asked);
    }
    return std::nullopt;
}

WineRegistryFile::Key *WineRegistryFile::resolveLink(Key *key, int &hops) const
{
    while (key && key->link) {
        if (++hops > maxLinkHops)
            return nullptr;
        const auto link = lookupValue(key, u"SymbolicLinkValue", nullptr);
        if (!link || link->type != RegLink)
            return nullptr;
        QString target = textOfUnits(link->data, link->data.size() / 2);
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

WineRegistryFile::Key *WineRegistryFile::walk(QStringView path, bool followLast, int &hops) const
{
    Key *key = m_root.get();
    const auto parts = path.split(u'\\', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size() && key; ++i) {
        key = resolveLink(key, hops);
        if (!key)
            return nullptr;
        key = childOf(key, parts[i], false);
    }
    return followLast ? resolveLink(key, hops) : key;
}

const WineRegistryFile::CachedLookup *WineRegistryFile::cachedLookup(QStringView path, size_t hash) const
{
    for (CachedLookup &entry : m_lookups) {
        if (entry.key && entry.hash == hash && QStringView(entry.path) == path) {
            entry.used = ++m_lookupClock;
            return &entry;
        }
    }
    return nullptr;
}

void WineRegistryFile::remember(QString path, size_t hash, Key *key, int hops) const
{
    CachedLookup *oldest = &m_lookups.front();
    for (CachedLookup &entry : m_lookups)
        if (entry.used < oldest->used)
            oldest = &entry;
    *oldest = {std::move(path), hash, key, hops, ++m_lookupClock};
}

void WineRegistryFile::dropLookups()
{
    m_lookups.fill(CachedLookup());
}

// What walk(path, true) finds, with the same link hops counted, answered
// from the recent lookups of the path or of its parent where possible.
WineRegistryFile::Key *WineRegistryFile::findFollowing(const QString &fullPath) const
{
    // The very string asked for before (RegistryAccess reads many values
    // of its current key): no need to hash it.
    if (!fullPath.isEmpty()) {
        for (CachedLookup &entry : m_lookups) {
            if (entry.key && entry.path.constData() == fullPath.constData() && entry.path.size() == fullPath.size()) {
                entry.used = ++m_lookupClock;
                return entry.key;
            }
        }
    }
    int hops = 0;
    QStringView path(fullPath);
    while (path.endsWith(u'\\'))
        path.chop(1);
    const qsizetype cut = path.lastIndexOf(u'\\');
    if (cut < 0)
        return walk(path, true, hops);
    const size_t hash = qHash(path);
    if (const CachedLookup *hit = cachedLookup(path, hash))
        return hit->key;
    QStringView parentPath = path.left(cut);
    while (parentPath.endsWith(u'\\'))
        parentPath.chop(1);
    Key *parent = nullptr;
    const size_t parentHash = qHash(parentPath);
    if (const CachedLookup *hit = cachedLookup(parentPath, parentHash)) {
        parent = hit->key;
        hops = hit->hops;
    } else {
        parent = walk(parentPath, true, hops);
        if (!parent)
            return nullptr;
        if (!parentPath.isEmpty())
            remember(parentPath.toString(), parentHash, parent, hops);
    }
    Key *key = resolveLink(childOf(parent, path.mid(cut + 1), false), hops);
    if (key)
        remember(path.size() == fullPath.size() ? fullPath : path.toString(), hash, key, hops);
    return key;
}

WineRegistryFile::Key *WineRegistryFile::find(const QString &path, bool followLast) const
{
    if (followLast)
        return findFollowing(path);
    int hops = 0;
    return walk(path, false, hops);
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
    return lookupValue(key, name, &name);
}

QList<RegistryValue> WineRegistryFile::values(const QString &path) const
{
    Key *key = find(path, true);
    if (!key)
        return {};
    if (key->edit)
        return key->edit->values;
    ensureIndex(key);
    QList<RegistryValue> result;
    result.reserve(qsizetype(key->index.size()));
    for (const ValueRef &ref : key->index)
        result.append(valueAt(key, ref, nullptr));
    return result;
}

void WineRegistryFile::touch(Key *key)
{
    if (!key->edit) {
        auto edit = std::make_unique<Key::Edit>();
        std::vector<ValueRef> index;
        scanValues(key, index, &edit->classLine);
        edit->values.reserve(qsizetype(index.size()));
        for (const ValueRef &ref : index)
            edit->values.append(valueAt(key, ref, nullptr));
        key->edit = std::move(edit);
        key->index = {};
    }
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    key->edit->stampSeconds = now.tv_sec;
    key->edit->stampFiletime = quint64(now.tv_sec) * 10000000ULL + quint64(now.tv_nsec / 100) + quint64(filetimeUnixEpoch);
    m_modified = true;
}

WineRegistryFile::Key *WineRegistryFile::findOrCreate(const QString &path)
{
    dropLookups();
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
    insertValue(key->edit->values, value);
    dropLookups(); // the value may be a link's target
}

void WineRegistryFile::deleteTree(const QString &path)
{
    Key *key = find(path, false);
    if (!key)
        return;
    dropLookups();
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
    out += "] " + QByteArray::number(key->edit->stampSeconds) + eol;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "#time=%x%08x", unsigned(key->edit->stampFiletime >> 32), unsigned(key->edit->stampFiletime & 0xffffffffu));
    out += QByteArray(buffer) + eol;
    if (!key->edit->classLine.isEmpty())
        out += key->edit->classLine + eol;
    if (key->link)
        out += "#link" + eol;
    for (const RegistryValue &v : std::as_const(key->edit->values)) {
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
    // Depth first, in order, without recursion.
    std::vector<const Key *> pending{root};
    while (!pending.empty()) {
        const Key *key = pending.back();
        pending.pop_back();
        if (key->edit) {
            // Wine writes a key that has values, no subkeys, a class or a link.
            // The root ("[]") only when values were set on it, through a link.
            const Key::Edit &edit = *key->edit;
            const bool write = key == root
                ? !edit.values.isEmpty()
                : (!edit.values.isEmpty() || key->children.empty() || !edit.classLine.isEmpty() || key->link);
            if (write) {
                separate();
                serialise(key, out);
            }
        } else {
            key->forEachBlock([&](const Key::Block &block) {
                separate();
                out += QByteArrayView(m_bytes.constData() + block.begin, block.end - block.begin);
            });
        }
        for (auto it = key->children.crbegin(); it != key->children.crend(); ++it)
            pending.push_back(it->get());
    }
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
    // Opened without blocking and refused unless it is a regular file: a
    // named pipe would wait for a writer forever, a device never end.
    const HostFile file(m_path);
    const QByteArray bytes = readWhole(file);
    WineRegistryFile fresh;
    fresh.m_name = m_name;
    fresh.load(bytes);
    m_bytes = std::move(fresh.m_bytes);
    m_root = std::move(fresh.m_root);
    dropLookups();
    m_firstKey = fresh.m_firstKey;
    m_crlf = fresh.m_crlf;
    m_modified = false;
    rememberStat(file.status());
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
