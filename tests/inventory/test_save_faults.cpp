// SPDX-License-Identifier: GPL-3.0-or-later
// A disk that fails at each file call of a delete: every write, flush,
// close, rename and folder flush of its backups and of the save, with each
// error a full, failing or read-only disk gives. The registry is never
// changed when the edit is refused, no temporary or partial backup is left,
// the refusal says why with the kind that fits, and once the disk works
// again the same edit succeeds.
#include "host/Error.h"
#include "inventory/kvApplication.h"
#include "registry/HiveRegistryFile.h"
#include "registry/RegeditExport.h"
#include "registry/WineRegistryFile.h"

#include "EmptyHive.h"
#include "FileBytes.h"
#include "FileFaults.h"
#include "WineRegistryText.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <memory>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using kelvane::test::FileFaults;

namespace {

enum class Store { WineFile, Hive };

const QString Uninstall = u"Microsoft\\Windows\\CurrentVersion\\Uninstall"_s;

// The key's path in the store: a hive's keys sit below the hive's name.
QString storePath(Store store, const QString &key)
{
    return store == Store::Hive ? u"SOFTWARE\\"_s + key : u"Software\\"_s + key;
}

struct Call
{
    FileCall call;
    const char *name;
};
constexpr Call Calls[] = {{FileCall::Write, "write"},
                          {FileCall::Flush, "flush"},
                          {FileCall::Close, "close"},
                          {FileCall::Rename, "rename"},
                          {FileCall::FlushFolder, "folder flush"}};

} // namespace

Q_DECLARE_METATYPE(Store)
Q_DECLARE_METATYPE(FileCall)

class TestSaveFaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_registry;
    QString m_backups;
    QByteArray m_original;

    // A registry holding App and Other, and the store read from it.
    std::shared_ptr<RegistryStore> makeRegistry(Store store)
    {
        m_root = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root->filePath(u"data"_s)));
        m_backups = m_root->filePath(u"data/Kelvane/backups"_s);
        QDir().mkpath(m_root->filePath(u"disk"_s));
        if (store == Store::WineFile) {
            m_registry = m_root->filePath(u"disk/system.reg"_s);
            test::writeFileBytes(m_registry, test::wineRegistryFile(
                                                 "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\App] 1\n"
                                                 "\"DisplayName\"=\"App\"\n\n"
                                                 "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Other] 1\n"
                                                 "\"DisplayName\"=\"Other\"\n\n"));
            m_original = test::fileBytes(m_registry);
            return WineRegistryFile::open(m_registry);
        }
        m_registry = m_root->filePath(u"disk/SOFTWARE"_s);
        {
            test::HiveBuilder builder(m_registry);
            builder.add(Uninstall + u"\\App"_s, {RegistryValue::fromText(u"DisplayName"_s, u"App"_s)});
            builder.add(Uninstall + u"\\Other"_s, {RegistryValue::fromText(u"DisplayName"_s, u"Other"_s)});
            builder.commit();
        }
        m_original = test::fileBytes(m_registry);
        return HiveRegistryFile::open(m_registry);
    }

    static void deleteApp(Store store, const std::shared_ptr<RegistryStore> &registry)
    {
        TAppItem entry(registry);
        entry.KeyName = u"App"_s;
        entry.KeyPath = storePath(store, Uninstall + u"\\App"_s);
        entry.DeleteEntry();
    }

    // Every file in the backups folder is a whole backup: the App key's
    // export, or the hive as it was.
    void checkBackups(const QByteArray &appExport) const
    {
        for (const QString &name : QDir(m_backups).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
            const QByteArray bytes = test::fileBytes(m_backups + u'/' + name);
            if (name.endsWith(u".hive"_s))
                QVERIFY2(bytes == m_original, qPrintable(name));
            else
                QVERIFY2(name.contains(u" App"_s) && name.endsWith(u".reg"_s) && bytes == appExport, qPrintable(name));
        }
    }

private slots:
    void cleanup()
    {
        FileFaults::clear();
        qunsetenv("XDG_DATA_HOME");
    }

    void failingDisk_data()
    {
        QTest::addColumn<Store>("store");
        QTest::addColumn<FileCall>("call");
        QTest::addColumn<int>("nth");
        QTest::addColumn<int>("error");
        for (const auto &[store, storeName] : {std::pair{Store::WineFile, "Wine file"}, {Store::Hive, "hive"}}) {
            // The calls of one whole delete: its backups and its save.
            FileFaults::clear();
            deleteApp(store, makeRegistry(store));
            int counts[std::size(Calls)];
            for (size_t i = 0; i < std::size(Calls); ++i)
                counts[i] = FileFaults::count(Calls[i].call);
            for (size_t i = 0; i < std::size(Calls); ++i) {
                for (int nth = 1; nth <= counts[i]; ++nth) {
                    for (const auto &[error, errorName] :
                         {std::pair{ENOSPC, "ENOSPC"}, {EIO, "EIO"}, {EDQUOT, "EDQUOT"}, {EROFS, "EROFS"}})
                        QTest::addRow("%s, %s %d of %d, %s", storeName, Calls[i].name, nth, counts[i], errorName)
                            << store << Calls[i].call << nth << error;
                }
            }
        }
    }

    void failingDisk()
    {
        QFETCH(Store, store);
        QFETCH(FileCall, call);
        QFETCH(int, nth);
        QFETCH(int, error);
        const auto registry = makeRegistry(store);
        const QString app = storePath(store, Uninstall + u"\\App"_s);
        const QByteArray appExport = regeditExport(*registry, app);
        const ErrorKind kind = error == EROFS                       ? ErrorKind::ReadOnly
                               : error == ENOSPC || error == EDQUOT ? ErrorKind::DiskFull
                                                                    : ErrorKind::Other;
        FileFaults::failAt(call, nth, error);
        try {
            deleteApp(store, registry);
            QFAIL("the delete was said done");
        } catch (const Error &e) {
            const bool inBackup = e.kind() == ErrorKind::BackupFailed;
            QVERIFY2(inBackup || e.kind() == kind, qPrintable(e.message()));
            QVERIFY2(e.message().contains(QString::fromLocal8Bit(std::strerror(error))), qPrintable(e.message()));
            QVERIFY2(e.message().contains(inBackup ? m_backups : m_registry), qPrintable(e.message()));
            // Only the folder flush after the rename comes too late to keep
            // the old file: the new one is in place, and that is said.
            const bool replaced = e.message().contains(u" was saved, but "_s);
            QVERIFY2(replaced == (call == FileCall::FlushFolder && !inBackup), qPrintable(e.message()));
            if (!replaced)
                QCOMPARE(test::fileBytes(m_registry), m_original);
            QCOMPARE(registry->keyExists(app), !replaced);
        }
        QCOMPARE(QDir(m_root->filePath(u"disk"_s)).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(m_registry).fileName()});
        checkBackups(appExport);
        if (QTest::currentTestFailed())
            return;

        FileFaults::clear();
        deleteApp(store, registry);
        QVERIFY(!registry->keyExists(app));
        const std::unique_ptr<RegistryStore> again = store == Store::Hive
                                                         ? std::unique_ptr<RegistryStore>(HiveRegistryFile::open(m_registry))
                                                         : WineRegistryFile::open(m_registry);
        QVERIFY(!again->keyExists(app));
        QVERIFY(again->keyExists(storePath(store, Uninstall + u"\\Other"_s)));
        checkBackups(appExport);
        QVERIFY(!QDir(m_backups).entryList({u"* App.reg"_s}, QDir::Files).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSaveFaults)
#include "test_save_faults.moc"
