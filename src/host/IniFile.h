// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class QIODevice;

namespace kelvane {

// How TIniFile reads a file; the defaults are those of settings.ini.
struct IniRules
{
    bool repeatedSectionsMerge = true; // false: a repeated section is hidden by the first
    bool bareNamesAreKeys = false;     // a line without '=' names a key with an empty value
    bool unquoteValues = false;        // one pair of surrounding double quotes is dropped
    qsizetype valueBufferSize = 0;     // > 0: at most this minus 1 bytes of a value are seen
    qsizetype keyListBufferSize = 0;   // > 0: a section's names, each + NUL, and a final NUL fit
};

// INI reader and writer with the rules of the Windows profile functions:
// "[section]" and "key=value" lines, names compared without regard to
// (ASCII) case, first match wins, values changed in place, new keys appended
// to their section, new sections appended to the file. Works on raw bytes so
// each caller picks its own text encoding; all other lines are kept as they are.
// Lines end at LF, CR LF, a lone CR or a NUL; names and values are trimmed;
// lines starting with ';' are comments. Lookups go through an index, so
// reading every key of a huge file stays linear.
class TIniFile
{
public:
    using Rules = IniRules;
    // Language files, read as the profile functions read them into their fixed buffers.
    static constexpr Rules LanguageFileRules{false, true, true, 2048, 16384};

    struct Entry
    {
        QByteArray key;
        QByteArray value;
    };
    struct Section
    {
        QByteArray name;
        QList<Entry> entries;
    };

    TIniFile() = default;
    static TIniFile fromBytes(const QByteArray &bytes, const Rules &rules = {});
    // Throws Error naming `name` when the device fails.
    static TIniFile fromDevice(QIODevice &device, const QString &name, const Rules &rules = {});
    // A missing file (or a link to nothing) reads as empty. One that cannot be
    // read throws Error naming it: not a regular file (a pipe, a device, a
    // folder), no permission, a name that is not UTF-8, or more than maxBytes.
    static TIniFile fromFile(const QString &path, qint64 maxBytes, const Rules &rules = {});

    // Raw view in file order, repeated sections treated by the rules, values
    // cut to the value buffer. Keys beyond the key-list buffer are included.
    QList<Section> sections() const;
    // The key names of a section in file order, as far as they fit the key-list buffer.
    QList<QByteArray> keys(QByteArrayView section) const;
    std::optional<QByteArray> value(QByteArrayView section, QByteArrayView key) const;

    QString readString(QByteArrayView section, QByteArrayView key, const QString &defaultValue) const;
    qint32 readInteger(QByteArrayView section, QByteArrayView key, qint32 defaultValue) const;
    bool readBool(QByteArrayView section, QByteArrayView key, bool defaultValue) const;

    // Throws Error for names or values that cannot be stored in a line.
    void writeValue(QByteArrayView section, QByteArrayView key, QByteArrayView value);
    void writeString(QByteArrayView section, QByteArrayView key, const QString &value);
    void writeInteger(QByteArrayView section, QByteArrayView key, qint32 value);
    void writeBool(QByteArrayView section, QByteArrayView key, bool value);

    QByteArray toBytes() const;
    // Whole file or nothing; throws Error "Unable to write to <path>".
    void saveToFile(const QString &path) const;

    // Decimal, or hexadecimal after "0x", "0X" or "$", optional sign; the
    // whole text must be the number.
    static std::optional<qint32> parseInteger(QByteArrayView text);

private:
    struct Index
    {
        QList<Section> sections;
        QHash<QByteArray, qsizetype> sectionIndex;            // lower-case name -> section
        QList<QHash<QByteArray, qsizetype>> keyIndex;         // per section: lower-case key -> entry
    };
    static std::optional<QByteArray> sectionName(const QByteArray &line);
    bool splitEntry(const QByteArray &line, QByteArray *key, QByteArray *value) const;
    const Index &index() const;
    const Section *findSection(QByteArrayView section) const;

    QList<QByteArray> m_lines; // as read, without line breaks
    QByteArray m_eol = "\n";
    Rules m_rules;
    mutable std::shared_ptr<const Index> m_index; // built on first lookup, dropped by every write
};

} // namespace kelvane
