#include "ListOutput.h"

#include "platform/Error.h"

#include <QIODevice>
#include <QtAlgorithms>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

constexpr qsizetype ChunkSize = 64 * 1024;

void appendString(QByteArray &out, const QString &text)
{
    // Written straight into room for the longest form (six bytes a unit), then
    // cut to what was used: appending a byte at a time was most of the output's cost.
    const qsizetype at = out.size();
    out.resize(at + 6 * text.size() + 2);
    char *const begin = out.data() + at;
    char *o = begin;
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
    out.resize(at + (o - begin));
}

// prefix: what comes before the text, such as ",\"KeyPath\":".
template<qsizetype N>
void appendField(QByteArray &out, const char (&prefix)[N], const QString &text)
{
    out.append(prefix, N - 1);
    appendString(out, text);
}

void appendEntry(QByteArray &out, const TAppItem &entry)
{
    out.append('{');
    appendField(out, "\"KeyName\":", entry.KeyName);
    appendField(out, ",\"KeyPath\":", entry.KeyPath);
    appendField(out, ",\"DisplayName\":", entry.DisplayName);
    appendField(out, ",\"DisplayVersion\":", entry.DisplayVersion);
    appendField(out, ",\"InstallLocation\":", entry.InstallLocation);
    appendField(out, ",\"ModifyPath\":", entry.ModifyPath);
    appendField(out, ",\"Publisher\":", entry.Publisher);
    appendField(out, ",\"UrlInfoAbout\":", entry.UrlInfoAbout);
    appendField(out, ",\"UninstallString\":", entry.UninstallString);
    appendField(out, ",\"QuietUninstallString\":", entry.QuietUninstallString);
    out.append(",\"IconPaths\":[");
    for (qsizetype i = 0; i < entry.IconPaths.size(); ++i) {
        if (i > 0)
            out.append(',');
        appendString(out, entry.IconPaths.at(i));
    }
    out.append("],\"EstimatedSize\":").append(QByteArray::number(entry.EstimatedSize));
    out.append(",\"IsHotfix\":").append(entry.IsHotfix ? "true" : "false");
    out.append(",\"SubItems\":[");
    for (qsizetype i = 0; i < entry.SubItems.size(); ++i) {
        const TAppSubItem &patch = *entry.SubItems.at(i);
        if (i > 0)
            out.append(',');
        out.append('{');
        appendField(out, "\"PatchCode\":", patch.PatchCode);
        appendField(out, ",\"KeyPath\":", patch.KeyPath);
        appendField(out, ",\"DisplayName\":", patch.DisplayName);
        appendField(out, ",\"MoreInfoURL\":", patch.MoreInfoURL);
        appendField(out, ",\"UninstallCommand\":", patch.UninstallCommand);
        appendField(out, ",\"Installed\":", patch.Installed);
        out.append(",\"Uninstallable\":").append(patch.Uninstallable ? "true" : "false");
        out.append('}');
    }
    out.append("]}");
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
