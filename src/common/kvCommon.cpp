// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvCommon.h"

#include "config/kvConfig.h"
#include "config/kvVersion.h"
#include "host/Error.h"
#include "host/PeResources.h"
#include "target/CommandRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <optional>

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
        return QString::fromUtf8(KELVANE_PRODUCT_VERSION);
    if (key == u"FileVersion")
        return QString::fromUtf8(KELVANE_FILE_VERSION);
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

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// The folder of "explorer.exe <folder>" (the program named without a folder,
// quotes around either part allowed), or nullopt for any other command line.
std::optional<QString> explorerFolder(const QString &commandLine)
{
    QStringView line = QStringView(commandLine).trimmed();
    QStringView program;
    QStringView rest;
    if (line.startsWith(u'"')) {
        const qsizetype close = line.indexOf(u'"', 1);
        if (close < 0)
            return std::nullopt;
        program = line.sliced(1, close - 1);
        rest = line.sliced(close + 1);
        if (!rest.isEmpty() && !isBlank(rest.front()))
            return std::nullopt;
    } else {
        qsizetype end = 0;
        while (end < line.size() && !isBlank(line.at(end)))
            ++end;
        program = line.first(end);
        rest = line.sliced(end);
    }
    // Windows finds "explorer" as "explorer.exe" too.
    const QStringView bare = config::ExplorerProgram.first(config::ExplorerProgram.lastIndexOf(u'.'));
    if (program.compare(config::ExplorerProgram, Qt::CaseInsensitive) != 0
        && program.compare(bare, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    rest = rest.trimmed();
    if (rest.size() >= 2 && rest.front() == u'"' && rest.back() == u'"')
        rest = rest.sliced(1, rest.size() - 2);
    return rest.toString();
}

quint32 startAndWait(const QString &commandLine, bool wait, const RunContext &context)
{
    if (context.openFolder) {
        if (const auto folder = explorerFolder(commandLine)) {
            const QString host = context.runner ? context.runner->hostFolder(*folder) : QString();
            if (host.isEmpty()) {
                // Not there, or on a drive this target has not: only the
                // first is "not found".
                return !folder->isEmpty() && context.runner && !context.runner->mapsPath(*folder)
                           ? StartCode::CannotCheck
                           : StartCode::PathNotFound;
            }
            return context.openFolder(host) ? StartCode::Success : StartCode::FolderNotOpened;
        }
    }
    if (!context.runner)
        return StartCode::RunnerUnavailable;
    std::unique_ptr<StartedCommand> started;
    const quint32 code = context.runner->start(commandLine, started);
    if (code != StartCode::Success)
        return code;
    if (!wait || !started)
        return StartCode::Success;

    // The main window comes back even when a hook throws.
    struct Enabler
    {
        const RunContext &context;
        ~Enabler()
        {
            if (context.setMainWindowEnabled)
                context.setMainWindowEnabled(true);
        }
    };
    if (context.setMainWindowEnabled)
        context.setMainWindowEnabled(false);
    const Enabler enabler{context};
    QElapsedTimer othersOnly;
    for (;;) {
        if (context.processEvents)
            context.processEvents();
        if (started->waitFor(100))
            break;
        if (!started->waitingForOthers()) {
            othersOnly.invalidate();
            continue;
        }
        if (!othersOnly.isValid())
            othersOnly.start();
        if (othersOnly.elapsed() >= context.othersGrace && context.keepWaitingForOthers
            && !context.keepWaitingForOthers())
            break;
    }
    return StartCode::Success;
}

// The catalogue key of each of Kelvane's own codes.
QString ownCodeKey(quint32 code)
{
    switch (code) {
    case StartCode::OfflineTarget: return u"ErrorOfflineTarget"_s;
    case StartCode::RunnerUnavailable: return u"ErrorWineUnavailable"_s;
    case StartCode::InvalidCommandLine: return u"ErrorInvalidCommandLine"_s;
    case StartCode::FolderNotOpened: return u"ErrorFolderNotOpened"_s;
    case StartCode::CannotCheck: return u"ErrorCannotCheck"_s;
    default: return {};
    }
}

} // namespace

QString ProgramFolderFor(const QString &executableFolder)
{
    const QDir beside(executableFolder);
    QString folder = executableFolder;
    if (!beside.exists(config::LanguageFolder.toString()) && !beside.exists(config::SampleFolder.toString())) {
        const QString installed = QDir::cleanPath(beside.filePath(config::InstalledDataFolder.toString()));
        if (QFileInfo(installed).isDir())
            folder = installed;
    }
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

QString GetProgramFolder()
{
    return ProgramFolderFor(QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                         : QFileInfo(u"/proc/self/exe"_s).canonicalPath());
}

QString GetSampleFolder()
{
    return QDir::cleanPath(GetProgramFolder() + config::SampleFolder);
}

QStringList GetVersionInfo(const QString &fileName)
{
    QStringList list;
    // Only US English in the Windows Latin-1 code page is consulted, as the
    // version API was asked for it; other blocks give no strings.
    const QList<QPair<QString, QString>> strings =
        fileName.isEmpty() ? QList<QPair<QString, QString>>() : pe::readVersionStrings(fileName, u"040904E4"_s);
    for (const QString &key : versionKeys()) {
        QString value;
        if (fileName.isEmpty()) {
            value = ownVersionString(key);
        } else {
            const auto found = std::find_if(strings.begin(), strings.end(), [&key](const auto &entry) {
                return entry.first.compare(key, Qt::CaseInsensitive) == 0;
            });
            if (found != strings.end())
                value = found->second.left(found->second.indexOf(QChar(u'\0'))); // the text up to its NUL
        }
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

quint32 RunCommand(const QString &commandLine, bool wait, const RunContext &context)
{
    try {
        return startAndWait(commandLine, wait, context);
    } catch (...) {
        // A fault of the runner is never "not found": that would offer to delete a valid entry.
        return StartCode::RunnerUnavailable;
    }
}

bool ExecuteCommand(const QString &commandLine, const TextLookup &strings, bool wait, const RunContext &context,
                    const std::function<void(const QString &)> &displayMessage)
{
    const quint32 code = RunCommand(commandLine, wait, context);
    if (code == StartCode::Success)
        return true;
    if (displayMessage)
        displayMessage(StartFailureText(code, strings));
    return false;
}

QString StartFailureText(quint32 code, const TextLookup &strings)
{
    const auto lookUp = [&strings](const QString &key) { return strings ? strings(key) : QString(); };
    if (code == StartCode::FileNotFound || code == StartCode::PathNotFound)
        return lookUp(u"ErrorFileNotFound"_s);
    if (code == StartCode::AccessDenied)
        return lookUp(u"ErrorAccessDenied"_s);
    // Kelvane's own codes have texts of their own, which a language's
    // ErrorUnknown must not hide: they say why nothing ran.
    const QString hex = u"0x"_s + QString::number(code, 16).rightJustified(8, u'0').toUpper();
    if (const QString key = ownCodeKey(code); !key.isEmpty()) {
        if (const QString text = lookUp(key); !text.isEmpty())
            return ReplaceText(u"%CODE%"_s, hex, text);
    }
    if (const QString text = lookUp(u"ErrorUnknown"_s); !text.isEmpty())
        return text;
    return u"The command could not be started (error code %1)."_s.arg(ownCodeKey(code).isEmpty() ? QString::number(code)
                                                                                                  : hex);
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
