// SPDX-License-Identifier: GPL-3.0-or-later
// Deleting, renaming and recommanding an entry in a Wine registry file: its
// backup first, then the edit through the store's safe save. Every refusal
// says why, with a kind the user interface can word, and leaves the file on
// disk as it was, and no backup.
#include "host/Error.h"
#include "inventory/kvApplication.h"
#include "registry/RegeditExport.h"
#include "registry/WineRegistryFile.h"

#include "FakeWineServer.h"
#include "FileBytes.h"
#include "FileModes.h"
#include "WineRegistryText.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <utility>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

const QString AppKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\App"_s;
const QByteArray Keys = "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\App] 1\n"
                        "\"DisplayName\"=\"App\"\n\"UninstallString\"=\"C:\\\\app\\\\uninst.exe\"\n\n"
                        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\App\\\\Parts] 1\n"
                        "\"Count\"=dword:00000003\n\"Blob\"=hex:00,01,02\n\n"
                        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Other] 1\n"
                        "\"UninstallString\"=\"other.exe\"\n\n";

enum class Edit { Delete, Rename, Commands };

void apply(TAppItem &entry, Edit edit)
{
    switch (edit) {
    case Edit::Delete:
        entry.DeleteEntry();
        break;
    case Edit::Rename:
        entry.Rename(u"Renamed"_s);
        break;
    case Edit::Commands:
        entry.SetCommands(u"new.exe"_s, QString());
        break;
    }
}

enum class Setup {
    BackupsIsFile,
    BackupsReadOnly,
    BackupsDiskFull,
    PrefixDiskFull,
    ServerRunning,
    ChangedOnDisk,
    RegistryReadOnly,
    PrefixReadOnly
};

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(kelvane::ErrorKind)

class TestEntryEdits : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_prefix;
    QString m_registry;
    QString m_backups;
    std::shared_ptr<WineRegistryFile> m_store;
    TAppItemPtr m_entry;
    QString m_mounted;

    QStringList backups() const { return QDir(m_backups).entryList(QDir::Files | QDir::Hidden | QDir::System); }

private slots:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        m_prefix = m_root->filePath(u"prefix"_s);
        m_registry = m_prefix + u"/system.reg"_s;
        QVERIFY(QDir().mkpath(m_prefix));
        QVERIFY(test::writeFileBytes(m_registry, test::wineRegistryFile(Keys)));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root->filePath(u"data"_s)));
        m_backups = m_root->filePath(u"data/Kelvane/backups"_s);
        m_store = WineRegistryFile::open(m_registry);
        m_entry = std::make_shared<TAppItem>(m_store);
        m_entry->KeyName = u"App"_s;
        m_entry->KeyPath = AppKey;
        m_entry->DisplayName = u"App"_s;
    }

    void cleanup()
    {
        if (!m_mounted.isEmpty())
            ::umount2(QFile::encodeName(std::exchange(m_mounted, QString())).constData(), MNT_DETACH);
        qunsetenv("TMPDIR");
        qunsetenv("XDG_DATA_HOME");
        for (const QString &path : {m_prefix, m_registry, m_backups})
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void backupThenEdit_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::newRow("delete") << Edit::Delete;
        QTest::newRow("rename") << Edit::Rename;
        QTest::newRow("commands") << Edit::Commands;
    }

    void backupThenEdit()
    {
        QFETCH(Edit, edit);
        // What a save and a backup killed midway left: taken for nothing, and gone.
        QVERIFY(QDir().mkpath(m_backups));
        QVERIFY(QFile::setPermissions(m_backups, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(test::writeFileBytes(m_backups + u"/.kelvane-partial-Ab12Cd"_s, "half a backup"));
        QVERIFY(test::writeFileBytes(m_prefix + u"/.system.reg.kelvane-Ab12Cd"_s, "half a registry"));
        apply(*m_entry, edit);
        QCOMPARE(QDir(m_prefix).entryList(QDir::Files | QDir::Hidden), QStringList{u"system.reg"_s});
        const auto after = WineRegistryFile::open(m_registry);
        QCOMPARE(after->keyExists(AppKey), edit != Edit::Delete);
        QVERIFY(after->keyExists(u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Other"_s));
        if (edit == Edit::Rename)
            QCOMPARE(after->value(AppKey, u"DisplayName"_s)->text(), u"Renamed"_s);
        if (edit == Edit::Commands) {
            QCOMPARE(after->value(AppKey, u"UninstallString"_s)->text(), u"new.exe"_s);
            QCOMPARE(after->value(AppKey, u"QuietUninstallString"_s)->text(), QString());
        }

        const QStringList files = backups();
        QCOMPARE(files.size(), 1);
        QVERIFY2(QRegularExpression(u"^\\d{8}-\\d{6} App\\.reg$"_s).match(files.first()).hasMatch(),
                 qPrintable(files.first()));
        const QString backup = m_backups + u'/' + files.first();
        const auto original = WineRegistryFile::fromBytes(test::wineRegistryFile(Keys), u"original"_s);
        QCOMPARE(test::fileBytes(backup), regeditExport(*original, AppKey));
        // Private: the registry may hold what others must not read.
        QCOMPARE(modeOf(m_backups), mode_t(0700));
        QCOMPARE(modeOf(backup), mode_t(0600));
    }

    void refused_data()
    {
        QTest::addColumn<Edit>("edit");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<ErrorKind>("kind");
        QTest::addColumn<QString>("about"); // what path() names, below the test's folder

        const struct
        {
            const char *name;
            Setup setup;
            ErrorKind kind;
            QString about;
        } setups[] = {
            {"backup folder is a file", Setup::BackupsIsFile, ErrorKind::BackupFailed, u"data/Kelvane/backups"_s},
            {"backup folder read-only", Setup::BackupsReadOnly, ErrorKind::BackupFailed, u"data/Kelvane/backups"_s},
            {"backup disk full", Setup::BackupsDiskFull, ErrorKind::BackupFailed, u"data/Kelvane/backups"_s},
            {"prefix disk full", Setup::PrefixDiskFull, ErrorKind::DiskFull, u"prefix/system.reg"_s},
            {"wineserver running", Setup::ServerRunning, ErrorKind::ServerRunning, u"prefix"_s},
            {"changed on disk", Setup::ChangedOnDisk, ErrorKind::ChangedOnDisk, u"prefix/system.reg"_s},
            {"registry read-only", Setup::RegistryReadOnly, ErrorKind::ReadOnly, u"prefix/system.reg"_s},
            {"prefix folder read-only", Setup::PrefixReadOnly, ErrorKind::ReadOnly, u"prefix"_s},
        };
        for (const auto &[edit, editName] :
             {std::pair{Edit::Delete, "delete"}, {Edit::Rename, "rename"}, {Edit::Commands, "commands"}}) {
            for (const auto &row : setups)
                QTest::addRow("%s, %s", editName, row.name) << edit << row.setup << row.kind << row.about;
        }
    }

    void refused()
    {
        QFETCH(Edit, edit);
        QFETCH(Setup, setup);
        QFETCH(ErrorKind, kind);
        QFETCH(QString, about);
        const test::FileModesApply modes;
        QVERIFY(modes.applies());
        std::unique_ptr<test::ServerLockHolder> server;
        switch (setup) {
        case Setup::BackupsIsFile:
            QVERIFY(QDir().mkpath(QFileInfo(m_backups).path()));
            QVERIFY(test::writeFileBytes(m_backups, "not a folder"));
            break;
        case Setup::BackupsReadOnly:
            QVERIFY(QDir().mkpath(m_backups));
            QVERIFY(QFile::setPermissions(m_backups, QFile::ReadOwner | QFile::ExeOwner));
            break;
        case Setup::BackupsDiskFull:
        case Setup::PrefixDiskFull: {
            // A real full disk: a small tmpfs, filled up.
            const QString disk = setup == Setup::BackupsDiskFull ? m_backups : m_prefix;
            QVERIFY(QDir().mkpath(disk));
            if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=64k,mode=0700") != 0)
                QSKIP(qPrintable(u"a small tmpfs cannot be mounted here: "_s + QString::fromLocal8Bit(strerror(errno))));
            m_mounted = disk;
            if (setup == Setup::PrefixDiskFull) { // the registry on it, read from there
                QVERIFY(test::writeFileBytes(m_registry, test::wineRegistryFile(Keys)));
                m_store = WineRegistryFile::open(m_registry);
                m_entry = std::make_shared<TAppItem>(m_store);
                m_entry->KeyName = u"App"_s;
                m_entry->KeyPath = AppKey;
                m_entry->DisplayName = u"App"_s;
            }
            QFile filler(disk + u"/filler"_s);
            QVERIFY(filler.open(QIODevice::WriteOnly));
            const QByteArray block(1024, 'x');
            while (filler.write(block) == block.size() && filler.flush()) {
            }
            break;
        }
        case Setup::ServerRunning: {
            const QString folder = test::makeServerFolder(m_prefix, m_root->path());
            QVERIFY(!folder.isEmpty());
            server = std::make_unique<test::ServerLockHolder>(folder + u"/lock"_s);
            QVERIFY(server->locked());
            break;
        }
        case Setup::ChangedOnDisk:
            QVERIFY(test::writeFileBytes(m_registry, test::wineRegistryFile(Keys + "[Software\\\\New] 2\n\n")));
            break;
        case Setup::RegistryReadOnly:
            QVERIFY(QFile::setPermissions(m_registry, QFile::ReadOwner));
            break;
        case Setup::PrefixReadOnly:
            QVERIFY(QFile::setPermissions(m_prefix, QFile::ReadOwner | QFile::ExeOwner));
            break;
        }
        const QByteArray before = test::fileBytes(m_registry);
        try {
            apply(*m_entry, edit);
            QFAIL("edited");
        } catch (const Error &error) {
            QCOMPARE(error.kind(), kind);
            QCOMPARE(error.path(), m_root->filePath(about));
            QVERIFY2(error.message().contains(m_root->filePath(about)), qPrintable(error.message()));
        }
        QCOMPARE(test::fileBytes(m_registry), before);
        QVERIFY(m_store->keyExists(AppKey));
        QCOMPARE(m_entry->DisplayName, u"App"_s); // the record keeps its name too
        if (setup == Setup::PrefixDiskFull) {
            // No temporary left on the full disk; the backup made before the save is whole.
            QCOMPARE(QDir(m_prefix).entryList(QDir::Files | QDir::Hidden), (QStringList{u"filler"_s, u"system.reg"_s}));
            QCOMPARE(backups().size(), 1);
            QCOMPARE(test::fileBytes(m_backups + u'/' + backups().constFirst()), regeditExport(*m_store, AppKey));
            return;
        }
        // Nor a backup of a key that stays, not even an empty one.
        QCOMPARE(backups(), setup == Setup::BackupsDiskFull ? QStringList{u"filler"_s} : QStringList());
    }
};

QTEST_GUILESS_MAIN(TestEntryEdits)
#include "test_entry_edits.moc"
