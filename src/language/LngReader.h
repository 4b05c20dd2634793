#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>

namespace kelvane {

// Bounded reader for language files: INI text in the profile-function rules.
// Section and key names compare case-insensitively (ASCII, as the names are
// plain identifiers); the first occurrence of a section or a key wins. Names
// are looked up by hash so that a huge file cannot make reading quadratic. Lines
// starting with ';' are comments; names and values are trimmed of spaces and
// tabs, and one pair of surrounding double quotes is dropped from a value.
class LngReader
{
public:
    static constexpr qsizetype ValueBufferSize = 2048;  // at most 2047 bytes of a value are seen
    static constexpr qsizetype KeyListBufferSize = 16384; // each name + NUL, list ends with one more NUL

    explicit LngReader(const QByteArray &bytes);

    // Key names of a section in file order, as far as they fit the key-list buffer.
    QList<QByteArray> keys(const QByteArray &section) const;
    // The value of a key (cut to 2047 bytes); empty when missing.
    QByteArray value(const QByteArray &section, const QByteArray &key) const;
    // Decimal, or hexadecimal after "0x", "0X" or "$"; anything else gives the default.
    int integer(const QByteArray &section, const QByteArray &key, int defaultValue) const;

private:
    struct Entry
    {
        QByteArray key;
        QByteArray value;
    };
    struct Section
    {
        QByteArray name;
        QList<Entry> entries;
        QHash<QByteArray, qsizetype> index; // lower-case key -> entry
    };
    const Section *find(const QByteArray &section) const;

    QList<Section> m_sections;
    QHash<QByteArray, qsizetype> m_index; // lower-case section name -> section
};

} // namespace kelvane
