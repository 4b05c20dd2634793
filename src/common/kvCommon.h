#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace kelvane {

// A catalogue's text for a key (empty when the key is missing).
using TextLookup = std::function<QString(const QString &key)>;

struct DateStrings
{
    qint32 Year = 0;
    qint32 Month = 0;
    qint32 Day = 0;
    QString Text;
};

// Folder of the running executable, ending in a separator.
QString GetProgramFolder();

// "key=value" lines of the version strings; an empty name means Kelvane itself.
QStringList GetVersionInfo(const QString &fileName);

// Byte count for display ("1.50 KB"); `text` comes back unchanged below 2.
QString FormatSize(qint32 size, const TextLookup &texts, const QString &text = {});

// yyyymmdd as the catalogue's "DateFormat"; throws Error when a part is not a number.
DateStrings FormatDate(const QString &date, const TextLookup &texts);

// Every occurrence of `placeholder`, left to right; inserted text is not searched again.
QString ReplaceText(const QString &placeholder, const QString &value, const QString &text);

// Strict split at `delimiter`; a part opening with '"' runs to its closing quote ("" is one quote).
void SplitText(QStringList *list, const QString &text, QChar delimiter);

} // namespace kelvane
