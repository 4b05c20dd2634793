// SPDX-License-Identifier: GPL-3.0-or-later
#include "ListOutput.h"

#include "host/Error.h"

#include <QIODevice>
#include <QtAlgorithms>

#include <charconv>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

constexpr qsizetype ChunkSize = 64 * 1024;

// The longest JSON text a text can become: six bytes a unit, and its quotes.
qsizetype textRoom(const QString &text)
{
    return 6 * text.size() + 2;
}

// Writes the text as a JSON string at o, which has textRoom(text) bytes of
// room, and returns where it ended.
char *writeString(char *o, const QString &text)
{
    *o++ = '"';
    const char16_t *in = reinterpret_cast<const char16_t *>(text.utf16());
    const char16_t *const inEnd = in + text.size();
    while (in < inEnd) {
#if defined(__SSE2__)
        // Eight units a step up to the next one to escape or encode: nearly
        // all of a listing is plain ASCII. The room left for the longest
        // form takes the eight bytes stored even when fewer are kept.
        while (inEnd - in >= 8) {
            const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in));
            // Signed: a unit of 0x8000 or more counts as below 0x20.
            const __m128i special =
                _mm_or_si128(_mm_or_si128(_mm_cmplt_epi16(units, _mm_set1_epi16(0x20)),
                                          _mm_cmpgt_epi16(units, _mm_set1_epi16(0x7f))),
                             _mm_or_si128(_mm_cmpeq_epi16(units, _mm_set1_epi16('"')),
                                          _mm_cmpeq_epi16(units, _mm_set1_epi16('\\'))));
            const unsigned mask = unsigned(_mm_movemask_epi8(special));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(o), _mm_packus_epi16(units, units));
            const int plain = mask ? qCountTrailingZeroBits(mask) / 2 : 8;
            o += plain;
            in += plain;
            if (mask)
                break;
        }
        if (in == inEnd)
            break;
#endif
        const QChar ch(*in++);
        const char16_t unit = ch.unicode();
        if (unit >= 0x20 && unit < 0x80 && unit != u'"' && unit != u'\\') {
            *o++ = char(unit);
            continue;
        }
        auto escape = [&](char letter) {
            *o++ = '\\';
            *o++ = letter;
        };
        switch (unit) {
        case u'"': escape('"'); break;
        case u'\\': escape('\\'); break;
        case u'\n': escape('n'); break;
        case u'\r': escape('r'); break;
        case u'\t': escape('t'); break;
        case u'\b': escape('b'); break;
        case u'\f': escape('f'); break;
        default:
            if (unit < 0x20 || ch.isSurrogate()) {
                // Control characters, and lone surrogates a registry may
                // hold, are escaped so the output stays valid UTF-8 JSON.
                // Proper pairs are escaped too: still valid JSON, same text.
                static const char hex[] = "0123456789abcdef";
                *o++ = '\\';
                *o++ = 'u';
                *o++ = hex[(unit >> 12) & 0xf];
                *o++ = hex[(unit >> 8) & 0xf];
                *o++ = hex[(unit >> 4) & 0xf];
                *o++ = hex[unit & 0xf];
            } else if (unit < 0x800) {
                *o++ = char(0xc0 | (unit >> 6));
                *o++ = char(0x80 | (unit & 0x3f));
            } else {
                *o++ = char(0xe0 | (unit >> 12));
                *o++ = char(0x80 | ((unit >> 6) & 0x3f));
                *o++ = char(0x80 | (unit & 0x3f));
            }
        }
    }
    *o++ = '"';
    return o;
}

template<qsizetype N>
char *writeLiteral(char *o, const char (&text)[N])
{
    std::memcpy(o, text, N - 1);
    return o + N - 1;
}

char *writeFlag(char *o, bool flag)
{
    return flag ? writeLiteral(o, "true") : writeLiteral(o, "false");
}

// A text member of a record and what comes before it in the JSON, such as
// ",\"KeyPath\":". One list serves to size the room and to write.
template<typename Record>
struct TextField
{
    std::string_view prefix;
    QString Record::*member;
};

constexpr TextField<TAppItem> EntryTexts[] = {
    {"{\"KeyName\":", &TAppItem::KeyName},
    {",\"KeyPath\":", &TAppItem::KeyPath},
    {",\"DisplayName\":", &TAppItem::DisplayName},
    {",\"DisplayVersion\":", &TAppItem::DisplayVersion},
    {",\"InstallLocation\":", &TAppItem::InstallLocation},
    {",\"ModifyPath\":", &TAppItem::ModifyPath},
    {",\"Publisher\":", &TAppItem::Publisher},
    {",\"UrlInfoAbout\":", &TAppItem::UrlInfoAbout},
    {",\"UninstallString\":", &TAppItem::UninstallString},
    {",\"QuietUninstallString\":", &TAppItem::QuietUninstallString},
};

constexpr TextField<TAppSubItem> PatchTexts[] = {
    {"{\"PatchCode\":", &TAppSubItem::PatchCode},
    {",\"KeyPath\":", &TAppSubItem::KeyPath},
    {",\"DisplayName\":", &TAppSubItem::DisplayName},
    {",\"MoreInfoURL\":", &TAppSubItem::MoreInfoURL},
    {",\"UninstallCommand\":", &TAppSubItem::UninstallCommand},
    {",\"Installed\":", &TAppSubItem::Installed},
};

template<typename Record, size_t N>
qsizetype textsRoom(const Record &record, const TextField<Record> (&fields)[N])
{
    qsizetype room = 0;
    for (const TextField<Record> &field : fields)
        room += qsizetype(field.prefix.size()) + textRoom(record.*field.member);
    return room;
}

template<typename Record, size_t N>
char *writeTexts(char *o, const Record &record, const TextField<Record> (&fields)[N])
{
    for (const TextField<Record> &field : fields) {
        std::memcpy(o, field.prefix.data(), field.prefix.size());
        o = writeString(o + field.prefix.size(), record.*field.member);
    }
    return o;
}

// The bytes the rest of an entry's fixed text (brackets, names, numbers,
// flags) takes at most, besides its texts'.
constexpr qsizetype EntryFrame = 256;
constexpr qsizetype PatchFrame = 64;

// Written in place into room made once for the whole entry, then cut to
// what was used: an append per piece was a third of the output's cost.
void appendEntry(QByteArray &out, const TAppItem &entry)
{
    qsizetype room = EntryFrame + textsRoom(entry, EntryTexts);
    for (const QString &icon : entry.IconPaths)
        room += textRoom(icon) + 1;
    for (const auto &patch : entry.SubItems)
        room += PatchFrame + textsRoom(*patch, PatchTexts);
    const qsizetype at = out.size();
    out.resize(at + room);
    char *o = writeTexts(out.data() + at, entry, EntryTexts);
    o = writeLiteral(o, ",\"IconPaths\":[");
    for (qsizetype i = 0; i < entry.IconPaths.size(); ++i) {
        if (i > 0)
            *o++ = ',';
        o = writeString(o, entry.IconPaths.at(i));
    }
    o = writeLiteral(o, "],\"EstimatedSize\":");
    o = std::to_chars(o, o + 16, entry.EstimatedSize).ptr;
    o = writeFlag(writeLiteral(o, ",\"IsHotfix\":"), entry.IsHotfix);
    o = writeLiteral(o, ",\"SubItems\":[");
    for (qsizetype i = 0; i < entry.SubItems.size(); ++i) {
        if (i > 0)
            *o++ = ',';
        o = writeTexts(o, *entry.SubItems.at(i), PatchTexts);
        o = writeFlag(writeLiteral(o, ",\"Uninstallable\":"), entry.SubItems.at(i)->Uninstallable);
        *o++ = '}';
    }
    o = writeLiteral(o, "]}");
    out.resize(o - out.constData());
}

// Collects the text and hands it to the device a chunk at a time.
class ChunkWriter
{
public:
    explicit ChunkWriter(QIODevice &out)
        : m_out(out)
    {
        m_buffer.reserve(ChunkSize + 4096);
    }

    QByteArray &buffer() { return m_buffer; }

    void maybeFlush()
    {
        if (m_buffer.size() >= ChunkSize)
            flush();
    }

    void flush()
    {
        WriteAll(m_out, m_buffer);
        m_buffer.resize(0);
    }

private:
    QIODevice &m_out;
    QByteArray m_buffer;
};

void writeList(ChunkWriter &writer, const TAppItems &entries)
{
    writer.buffer().append('[');
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i > 0)
            writer.buffer().append(",\n");
        appendEntry(writer.buffer(), *entries.at(i));
        writer.maybeFlush();
    }
    writer.buffer().append(']');
}

} // namespace

void WriteAll(QIODevice &out, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 n = out.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            throw Error(u"Could not write the output: %1"_s.arg(out.errorString()));
        done += qsizetype(n);
    }
}

void WriteInventoryJson(const TApplications &inventory, QIODevice &out)
{
    ChunkWriter writer(out);
    writer.buffer().append("{\"KeyCount\":").append(QByteArray::number(inventory.KeyCount));
    writer.buffer().append(",\n\"Applications\":");
    writeList(writer, inventory.Applications);
    writer.buffer().append(",\n\"Hotfixes\":");
    writeList(writer, inventory.Hotfixes);
    writer.buffer().append("}\n");
    writer.flush();
}

} // namespace kelvane
