#include "kvCommon.h"

#include "platform/Error.h"
#include "settings/kvConfig.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

const QStringList &versionKeys()
{
    static const QStringList keys = {
        u"CompanyName"_s, u"FileDescription"_s, u"FileVersion"_s, u"InternalName"_s, u"LegalCopyright"_s,
        u"LegalTradeMarks"_s, u"OriginalFilename"_s, u"ProductName"_s, u"ProductVersion"_s, u"Comments"_s};
    return keys;
}

// Version strings of Kelvane itself, in place of its own version resource.
QString ownVersionString(const QString &key)
{
    if (key == u"CompanyName")
        return config::AuthorName;
    if (key == u"ProductName")
        return u"Kelvane"_s;
    if (key == u"ProductVersion")
        return u"2.0 PR3"_s;
    if (key == u"FileVersion")
        return u"2.0.0.27"_s;
    return {};
}

// The one place where the PE version-resource reader plugs in: it must return
// the StringFileInfo\040904E4 value of `key` in `fileName`, or empty. Not yet
// connected, so every other file gives no version strings.
QString peVersionString(const QString &fileName, const QString &key)
{
    Q_UNUSED(fileName);
    Q_UNUSED(key);
    return {};
}

qint32 toInteger(const QString &part)
{
    bool ok = false;
    const qint32 v = part.toInt(&ok, 10);
    if (!ok)
        throw Error(u"'%1' is not a valid integer value"_s.arg(part));
    return v;
}

} // namespace

QString GetProgramFolder()
{
    QString folder = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                  : QFileInfo(u"/proc/self/exe"_s).canonicalPath();
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

QStringList GetVersionInfo(const QString &fileName)
{
    QStringList list;
    for (const QString &key : versionKeys()) {
        const QString value = fileName.isEmpty() ? ownVersionString(key) : peVersionString(fileName, key);
        if (!value.isEmpty())
            list.append(key + u'=' + value);
    }
    return list;
}

QString FormatSize(qint32 size, const TextLookup &texts, const QString &text)
{
    static const char *const defaultUnits[] = {"bytes", "KB", "MB", "GB", "TB"};
    for (int n = 4; n >= 0; --n) {
        double threshold = 1;
        double divisor = 1;
        for (int i = 0; i < n; ++i) {
            threshold *= 1000;
            divisor *= 1024;
        }
        if (static_cast<double>(size) <= threshold)
            continue;
        QString unit = texts ? texts(u"Size"_s + QString::number(n)) : QString();
        if (unit.isEmpty())
            unit = QString::fromLatin1(defaultUnits[n]);
        QLocale locale;
        locale.setNumberOptions(QLocale::OmitGroupSeparator);
        return locale.toString(size / divisor, 'f', 2) + u' ' + unit;
    }
    return text;
}

DateStrings FormatDate(const QString &date, const TextLookup &texts)
{
    QString dashed = date;
    for (int position : config::DateDashPositions)
        dashed.insert(qMin<qsizetype>(position - 1, dashed.size()), u'-');
    QStringList parts;
    SplitText(&parts, dashed, u'-');
    while (parts.size() < 3)
        parts.append(QString());
    DateStrings result;
    result.Year = toInteger(parts[0]);
    result.Month = toInteger(parts[1]);
    result.Day = toInteger(parts[2]);
    QString text = texts ? texts(u"DateFormat"_s) : QString();
    text = ReplaceText(u"%YEAR%"_s, parts[0], text);
    text = ReplaceText(u"%MONTH%"_s, parts[1], text);
    result.Text = ReplaceText(u"%DAY%"_s, parts[2], text);
    return result;
}

QString ReplaceText(const QString &placeholder, const QString &value, const QString &text)
{
    if (placeholder.isEmpty())
        return text;
    QString result;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(placeholder, from, Qt::CaseSensitive);
        if (at < 0)
            break;
        result += QStringView(text).mid(from, at - from);
        result += value;
        from = at + placeholder.size();
    }
    result += QStringView(text).mid(from);
    return result;
}

void SplitText(QStringList *list, const QString &text, QChar delimiter)
{
    Q_ASSERT_X(list, "SplitText", "no target list");
    if (!list)
        throw Error(u"SplitText: no target list"_s);
    list->clear();
    if (text.isEmpty())
        return;
    const qsizetype n = text.size();
    qsizetype i = 0;
    for (;;) {
        QString part;
        if (i < n && text[i] == u'"') {
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        part += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                part += text[i++];
            }
            // Text between the closing quote and the delimiter stays part of the field.
            while (i < n && text[i] != delimiter)
                part += text[i++];
        } else {
            while (i < n && text[i] != delimiter)
                part += text[i++];
        }
        list->append(part);
        if (i >= n)
            break;
        ++i; // the delimiter
        if (i == n) {
            list->append(QString());
            break;
        }
    }
}

} // namespace kelvane
