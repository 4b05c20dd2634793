// SPDX-License-Identifier: GPL-3.0-or-later
#include "RegistryBackup.h"

#include "RegeditExport.h"
#include "config/kvConfig.h"
#include "host/BackupFile.h"
#include "host/Error.h"

#include <QBuffer>
#include <QDir>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// Whether a file name may hold the character (or surrogate pair) ucs4.
bool safeInName(char32_t ucs4)
{
    static constexpr QStringView refused = u"/\\:*?\"<>|";
    if (ucs4 < 0x10000 && refused.contains(QChar(char16_t(ucs4))))
        return false;
    // Controls, format marks (a right-to-left override would disguise the
    // name), lone surrogates, unassigned and line separators.
    return ucs4 == U' ' || QChar::isPrint(ucs4);
}

} // namespace

QString RegistryBackup::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u'/' + config::DataFolder
           + u'/' + config::BackupFolder;
}

RegistryBackup::RegistryBackup(QString folder)
    : m_folder(std::move(folder))
{
}

QString RegistryBackup::fileName(const QString &keyPath, const QDateTime &when)
{
    const QStringView key =
        keyPath.isEmpty() ? config::RegeditRootKey : QStringView(keyPath).mid(keyPath.lastIndexOf(u'\\') + 1);
    QString name;
    for (qsizetype i = 0; i < key.size();) {
        char32_t ucs4 = key[i].unicode();
        qsizetype units = 1;
        if (key[i].isHighSurrogate() && i + 1 < key.size() && key[i + 1].isLowSurrogate()) {
            ucs4 = QChar::surrogateToUcs4(key[i], key[i + 1]);
            units = 2;
        }
        if (name.size() + units > config::BackupNameLength)
            break;
        if (safeInName(ucs4))
            name += key.mid(i, units);
        else
            name += u'_';
        i += units;
    }
    return when.toString(config::BackupDateFormat.toString()) + u' ' + name + config::BackupExtension;
}

QString RegistryBackup::write(const RegistryStore &store, const QString &path, const QDateTime &when) const
{
    try {
        // The export first, in memory: a key's subtree is small, and a
        // store that cannot be read leaves no file at all.
        QBuffer exported;
        exported.open(QIODevice::WriteOnly);
        writeRegeditExport(exported, store, path);
        const QByteArray bytes = exported.data();
        return writeBackupFile(m_folder, fileName(path, when),
                               [&bytes](const BackupSink &sink) { sink(bytes.constData(), bytes.size()); });
    } catch (const Error &error) {
        QString reason = error.message();
        while (reason.endsWith(u'.'))
            reason.chop(1);
        throw Error(u"The backup of %1\\%2 could not be written to the folder %3: %4. Nothing was changed; "
                    "make room there or make the folder writable, and try again."_s.arg(
                        config::RegeditRootKey, path, QDir::toNativeSeparators(m_folder), reason),
                    ErrorKind::BackupFailed, m_folder);
    }
}

} // namespace kelvane
