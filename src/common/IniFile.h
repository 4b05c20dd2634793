#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class QIODevice;

namespace kelvane {

// INI reader and writer with the rules of the Windows profile functions:
// "[section]" and "key=value" lines, names compared without regard to
// (ASCII) case, first match wins, values changed in place, new keys appended
// to their section, new sections appended to the file. Works on raw bytes so
// each caller picks its own text encoding; all other lines are kept as they are.
class TIniFile
{
public:
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
    static TIniFile fromBytes(const QByteArray &bytes);
    // Throws Error naming `name` when the device fails.
    static TIniFile fromDevice(QIODevice &device, const QString &name);
    // A missing file reads as empty; an unreadable one throws Error.
    static TIniFile fromFile(const QString &path);

    // Raw view in file order; duplicate sections are merged into the first.
    QList<Section> sections() const;
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
    static std::optional<QByteArray> sectionName(const QByteArray &line);
    static bool splitEntry(const QByteArray &line, QByteArray *key, QByteArray *value);

    QList<QByteArray> m_lines; // as read, without line breaks
    QByteArray m_eol = "\n";
};

} // namespace kelvane
