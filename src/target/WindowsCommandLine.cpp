// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowsCommandLine.h"

#include "CommandRunner.h"
#include "Target.h"
#include "config/kvConfig.h"

#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

bool isSeparator(QChar c)
{
    return c == u'\\' || c == u'/';
}

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// "C:\\x", "C:/x": an absolute path on a drive.
bool isDrivePath(QStringView name)
{
    return name.size() >= 3 && name.at(0).isLetter() && name.at(0).unicode() < 0x80 && name.at(1) == u':'
           && isSeparator(name.at(2));
}

QString withExtension(const QString &name)
{
    qsizetype lastPart = name.size();
    while (lastPart > 0 && !isSeparator(name.at(lastPart - 1)))
        --lastPart;
    if (QStringView(name).sliced(lastPart).contains(u'.'))
        return name;
    return name + u".exe"_s;
}

QString registryText(const Target &target, const QString &path, const QString &name)
{
    const auto value = target.registry()->value(path, name);
    return value ? value->text() : QString();
}

// %SystemRoot% and its kin, the only variables a target's Path needs.
QString expandSystemVariables(QString text, const QString &windowsFolder)
{
    text.replace(u"%SystemRoot%"_s, windowsFolder, Qt::CaseInsensitive);
    text.replace(u"%windir%"_s, windowsFolder, Qt::CaseInsensitive);
    text.replace(u"%SystemDrive%"_s, windowsFolder.left(2), Qt::CaseInsensitive);
    return text;
}

// The folders Windows searches for a program named without a folder.
QStringList searchFolders(const Target &target)
{
    QString windowsFolder = registryText(target, config::KeyWindowsNtVersion.toString(), u"SystemRoot"_s);
    if (!isDrivePath(windowsFolder))
        windowsFolder = u"C:\\Windows"_s;
    while (windowsFolder.size() > 3 && isSeparator(windowsFolder.back()))
        windowsFolder.chop(1);
    QStringList folders = {windowsFolder + u"\\system32"_s, windowsFolder + u"\\system"_s, windowsFolder};
    const QString path = registryText(target, config::KeySystemEnvironment.toString(), u"Path"_s);
    for (const QString &entry : expandSystemVariables(path, windowsFolder).split(u';', Qt::SkipEmptyParts)) {
        const QString folder = entry.trimmed();
        // Relative entries would need a current folder, which a target has not.
        if (isDrivePath(folder) && !folders.contains(folder, Qt::CaseInsensitive))
            folders.append(folder);
    }
    return folders;
}

// In rising order of what a failed resolution reports. Unknowable (a drive
// the target does not map) beats the provable absences: one candidate that
// cannot be checked makes "not found" unprovable.
enum class Found { NoFolder, Missing, Unknowable, NotAFile, File };

struct Candidate
{
    Found found = Found::Unknowable;
    QString windowsPath;
    QString hostPath;
};

// One absolute Windows path, already with its extension.
Candidate lookUp(const Target &target, const QString &windowsPath)
{
    Candidate candidate;
    candidate.windowsPath = windowsPath;
    candidate.hostPath = target.hostPath(windowsPath);
    if (candidate.hostPath.isEmpty())
        return candidate; // a drive this target does not map
    const QFileInfo info(candidate.hostPath);
    if (info.exists()) {
        candidate.found = info.isFile() && info.isReadable() ? Found::File : Found::NotAFile;
        return candidate;
    }
    const QFileInfo folder(info.path());
    candidate.found = folder.isDir() ? Found::Missing : Found::NoFolder;
    return candidate;
}

// A program name as the command line gives it: absolute, rooted, or bare.
Candidate lookUpName(const Target &target, const QString &name, const QStringList &folders)
{
    const QString program = withExtension(name);
    if (isDrivePath(program))
        return lookUp(target, program);
    if (program.size() >= 2 && isSeparator(program.at(0)) && isSeparator(program.at(1)))
        return {}; // a network path: no network drives on a target
    if (!program.isEmpty() && isSeparator(program.at(0)))
        return lookUp(target, u"C:"_s + program);
    if (std::any_of(program.begin(), program.end(), isSeparator) || program.contains(u':')) {
        // Relative to a current folder that a target does not have; the longer
        // candidates of an unquoted bare name ("tool.exe /x C:\\y") are such,
        // and must not outweigh the name itself.
        Candidate relative;
        relative.found = Found::NoFolder;
        return relative;
    }
    Candidate best;
    best.found = Found::Missing; // the search folders were searched: "file not found"
    for (const QString &folder : folders) {
        Candidate c = lookUp(target, folder + u'\\' + program);
        if (c.found == Found::File)
            return c;
        // A folder on an unmapped drive may hold it; a non-file found says more.
        if (int(c.found) > int(best.found) && c.found != Found::NoFolder)
            best = c;
    }
    return best;
}

quint32 codeOf(Found found)
{
    switch (found) {
    case Found::File:
        return StartCode::Success;
    case Found::NotAFile:
        return StartCode::AccessDenied;
    case Found::Missing:
        return StartCode::FileNotFound;
    case Found::Unknowable:
        return StartCode::CannotCheck;
    case Found::NoFolder:
        break;
    }
    return StartCode::PathNotFound;
}

} // namespace

ResolvedCommand ResolveCommandLine(const QString &commandLine, const Target &target)
{
    ResolvedCommand result;
    if (commandLine.size() > MaxCommandLineLength) {
        result.code = StartCode::InvalidCommandLine;
        return result;
    }
    qsizetype begin = 0;
    while (begin < commandLine.size() && isBlank(commandLine.at(begin)))
        ++begin;
    const QStringView line = QStringView(commandLine).sliced(begin);
    if (line.isEmpty()) {
        result.code = StartCode::InvalidCommandLine;
        return result;
    }
    const QStringList folders = searchFolders(target);

    if (line.front() == u'"') {
        qsizetype close = line.indexOf(u'"', 1);
        if (close < 0)
            close = line.size();
        const QString name = line.sliced(1, close - 1).toString();
        if (name.isEmpty() || name.size() > MaxProgramNameLength) {
            result.code = name.isEmpty() ? StartCode::InvalidCommandLine : StartCode::FileNotFound;
            return result;
        }
        const Candidate c = lookUpName(target, name, folders);
        result.code = codeOf(c.found);
        if (c.found == Found::File) {
            result.windowsProgram = c.windowsPath;
            result.hostProgram = c.hostPath;
            QStringView rest = line.sliced(qMin(close + 1, line.size()));
            while (!rest.isEmpty() && isBlank(rest.front()))
                rest = rest.sliced(1);
            result.arguments = rest.toString();
        }
        return result;
    }

    // Every prefix ending before a blank (and the whole line), longest first.
    QList<qsizetype> ends;
    for (qsizetype i = 1; i <= line.size() && i <= MaxProgramNameLength; ++i) {
        if (i == line.size() || (isBlank(line.at(i)) && !isBlank(line.at(i - 1))))
            ends.prepend(i);
    }
    if (ends.isEmpty()) {
        result.code = StartCode::FileNotFound; // even the first word is longer than any program name
        return result;
    }
    Found best = Found::NoFolder;
    for (const qsizetype end : std::as_const(ends)) {
        const Candidate c = lookUpName(target, line.first(end).toString(), folders);
        if (c.found == Found::File) {
            result.code = StartCode::Success;
            result.windowsProgram = c.windowsPath;
            result.hostProgram = c.hostPath;
            QStringView rest = line.sliced(end);
            while (!rest.isEmpty() && isBlank(rest.front()))
                rest = rest.sliced(1);
            result.arguments = rest.toString();
            return result;
        }
        if (static_cast<int>(c.found) > static_cast<int>(best))
            best = c.found;
    }
    result.code = codeOf(best);
    return result;
}

QStringList SplitArguments(const QString &arguments)
{
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    const qsizetype n = arguments.size();
    for (qsizetype i = 0; i < n;) {
        const QChar c = arguments.at(i);
        if (c == u'\\') {
            qsizetype slashes = 0;
            while (i < n && arguments.at(i) == u'\\') {
                ++slashes;
                ++i;
            }
            if (i < n && arguments.at(i) == u'"') {
                word += QString(slashes / 2, u'\\');
                if (slashes % 2 == 1) {
                    word += u'"';
                    ++i;
                }
            } else {
                word += QString(slashes, u'\\');
            }
            inWord = true;
            continue;
        }
        if (c == u'"') {
            // Inside quotes, a doubled quote is one literal quote (the C runtime's rule).
            if (quoted && i + 1 < n && arguments.at(i + 1) == u'"') {
                word += u'"';
                i += 2;
                continue;
            }
            quoted = !quoted;
            inWord = true;
            ++i;
            continue;
        }
        if (isBlank(c) && !quoted) {
            if (inWord)
                words.append(word);
            word.clear();
            inWord = false;
            ++i;
            continue;
        }
        word += c;
        inWord = true;
        ++i;
    }
    if (inWord)
        words.append(word);
    return words;
}

} // namespace kelvane
