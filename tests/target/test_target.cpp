// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/Error.h"
#include "target/Target.h"

#include "EmptyHive.h"
#include "FileModes.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

const QString Fixture = QStringLiteral(KELVANE_TEST_DATA "/tools/system.reg");

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// A prefix folder: system.reg, drive_c, optionally dosdevices links.
void makePrefix(const QString &folder)
{
    QDir().mkpath(folder + u"/drive_c"_s);
    QVERIFY(QFile::copy(Fixture, folder + u"/system.reg"_s));
}

QByteArray treeDigest(const QString &folder)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList files;
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    for (const QString &path : files) {
        const QFileInfo info(path);
        hash.addData(path.toUtf8());
        hash.addData(QByteArray::number(info.lastModified().toMSecsSinceEpoch()));
        QFile file(path);
        if (info.isFile() && file.open(QIODevice::ReadOnly))
            hash.addData(file.readAll());
    }
    return hash.result();
}

// Target::fromEnvironment's error message, "" when it opened the target.
// Run in a child process: one that hangs is stopped after 20 s (and the
// answer says so), and root's right to pass every permission check is
// dropped there for good, so a refusal can be shown when the tests run as root.
QString refusal(const QProcessEnvironment &environment, const QString &sample)
{
    const QByteArray answer = kelvane::test::answerWithoutRootOverride(
        [&]() -> QByteArray {
            try {
                Target::fromEnvironment(environment, sample);
            } catch (const Error &error) {
                return error.message().toUtf8();
            }
            return {};
        },
        20);
    return QString::fromUtf8(answer);
}

} // namespace

class TargetTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_sample;   // a stand-in for the shipped sample folder
    QString m_dataHome; // $XDG_DATA_HOME of each test

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        m_sample = m_root.filePath(u"shipped-sample"_s);
        makePrefix(m_sample);
        writeFile(m_sample + u"/drive_c/Program Files/Zeta/zeta.exe"_s, "MZ");
        makePrefix(m_root.filePath(u"prefix"_s));
        makePrefix(m_root.filePath(u"home/.wine"_s));
        QDir().mkpath(m_root.filePath(u"emptyhome/.wine"_s)); // no system.reg: not a prefix
        writeFile(m_root.filePath(u"hive"_s), QByteArray("regf") + QByteArray(4092, '\0'));
        // An offline Windows: its hive named on its own, and a partition
        // whose folder names are in other letter cases than Windows writes.
        kelvane::test::HiveBuilder(m_root.filePath(u"software-copy.dat"_s)).commit();
        QVERIFY(QDir().mkpath(m_root.filePath(u"disk/WINDOWS/system32/Config"_s)));
        kelvane::test::HiveBuilder(m_root.filePath(u"disk/WINDOWS/system32/Config/software"_s)).commit();
        writeFile(m_root.filePath(u"disk/Program Files/App/uninst.exe"_s), "MZ");
        writeFile(m_root.filePath(u"notes.txt"_s), "just some text\n");

        // Registries that must be refused at once, with what is wrong.
        QCOMPARE(::mkfifo(QFile::encodeName(m_root.filePath(u"pipe.reg"_s)).constData(), 0600), 0);
        QDir().mkpath(m_root.filePath(u"pipe-prefix"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(m_root.filePath(u"pipe-prefix/system.reg"_s)).constData(), 0600), 0);
        QVERIFY(QFile::link(u"/dev/zero"_s, m_root.filePath(u"zero.reg"_s)));
        const QByteArray notUtf8 = QFile::encodeName(m_root.path()) + "/caf\xe9";
        QCOMPARE(::mkdir(notUtf8.constData(), 0700), 0);
        QVERIFY(std::filesystem::copy_file(QFile::encodeName(Fixture).toStdString(), QByteArray(notUtf8 + "/system.reg").toStdString()));
        makePrefix(m_root.filePath(u"shut"_s));
        QVERIFY(QFile::setPermissions(m_root.filePath(u"shut"_s), QFile::ReadOwner | QFile::WriteOwner));
    }

    void cleanupTestCase()
    {
        QFile::setPermissions(m_root.filePath(u"shut"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // QTemporaryDir cannot spell a name that is not UTF-8.
        std::error_code ignored;
        std::filesystem::remove_all(QByteArray(QFile::encodeName(m_root.path()) + "/caf\xe9").toStdString(), ignored);
    }

    void init()
    {
        static int run = 0;
        m_dataHome = m_root.filePath(u"data-%1"_s.arg(++run));
        QDir(m_dataHome).removeRecursively();
        qputenv("XDG_DATA_HOME", m_dataHome.toLocal8Bit());
    }

    void selectionOrder_data()
    {
        QTest::addColumn<QString>("kelvaneRegistry");
        QTest::addColumn<QString>("winePrefix");
        QTest::addColumn<QString>("home");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("description"); // relative to the test root

        const int prefix = int(Target::Kind::WinePrefix);
        QTest::newRow("KELVANE_REGISTRY prefix beats all")
            << u"prefix"_s << u"home/.wine"_s << u"home"_s << prefix << u"prefix"_s;
        QTest::newRow("KELVANE_REGISTRY file") << u"prefix/system.reg"_s << QString() << u"home"_s
                                               << int(Target::Kind::RegistryFile) << u"prefix/system.reg"_s;
        QTest::newRow("WINEPREFIX beats ~/.wine") << QString() << u"prefix"_s << u"home"_s << prefix << u"prefix"_s;
        QTest::newRow("~/.wine") << QString() << QString() << u"home"_s << prefix << u"home/.wine"_s;
        QTest::newRow("KELVANE_REGISTRY hive, whatever its name")
            << u"software-copy.dat"_s << u"prefix"_s << u"home"_s << int(Target::Kind::Hive) << u"software-copy.dat"_s;
        QTest::newRow("KELVANE_REGISTRY Windows partition") << u"disk"_s << u"prefix"_s << u"home"_s
                                                            << int(Target::Kind::WindowsDisk)
                                                            << u"disk/WINDOWS/system32/Config/software"_s;
        QTest::newRow("~/.wine without system.reg gives the sample")
            << QString() << QString() << u"emptyhome"_s << int(Target::Kind::Sample) << u"@sample"_s;
    }

    void selectionOrder()
    {
        QFETCH(QString, kelvaneRegistry);
        QFETCH(QString, winePrefix);
        QFETCH(QString, home);
        QFETCH(int, kind);
        QFETCH(QString, description);

        QProcessEnvironment environment;
        if (!kelvaneRegistry.isEmpty())
            environment.insert(u"KELVANE_REGISTRY"_s, m_root.filePath(kelvaneRegistry));
        if (!winePrefix.isEmpty())
            environment.insert(u"WINEPREFIX"_s, m_root.filePath(winePrefix));
        environment.insert(u"HOME"_s, m_root.filePath(home));

        const std::unique_ptr<Target> target = Target::fromEnvironment(environment, m_sample);
        QCOMPARE(int(target->kind()), kind);
        const QString expected =
            description == u"@sample"_s ? m_dataHome + u"/Kelvane/sample"_s : m_root.filePath(description);
        QCOMPARE(target->description(), expected);
        QVERIFY(target->registry());
        // Only the sample is copied; every other choice writes nothing.
        QCOMPARE(QFileInfo::exists(m_dataHome), target->kind() == Target::Kind::Sample);
    }

    void badRegistry_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << u"no-such-prefix"_s << u"does not exist"_s;
        QTest::newRow("folder without system.reg or Windows") << u"emptyhome"_s << u"neither a Wine prefix"_s;
        QTest::newRow("damaged hive") << u"hive"_s << u"cut short"_s;
        QTest::newRow("not a registry") << u"notes.txt"_s << QString();
        QTest::newRow("named pipe") << u"pipe.reg"_s << u"named pipe"_s;
        QTest::newRow("prefix whose system.reg is a named pipe") << u"pipe-prefix"_s << u"named pipe"_s;
        QTest::newRow("link to /dev/zero") << u"zero.reg"_s << u"character device"_s;
        QTest::newRow("name not UTF-8") << QFile::decodeName("caf\xe9") << u"not valid UTF-8"_s;
        QTest::newRow("prefix without search permission") << u"shut"_s << u"permission denied"_s;
    }

    void badRegistry()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QProcessEnvironment environment;
        environment.insert(u"KELVANE_REGISTRY"_s, m_root.filePath(path));
        // A bad KELVANE_REGISTRY is an error, never a quiet fall-back.
        environment.insert(u"WINEPREFIX"_s, m_root.filePath(u"prefix"_s));
        const QString message = refusal(environment, m_sample);
        if (message.startsWith(u"(cannot drop"_s))
            QSKIP("running as root without the right to drop CAP_DAC_OVERRIDE: permissions cannot be shown");
        QVERIFY2(message.contains(m_root.filePath(path)), qPrintable(message));
        QVERIFY2(message.contains(reason), qPrintable(message));
        QVERIFY(!QFileInfo::exists(m_dataHome));
    }

    void offlineDrives()
    {
        const auto disk = Target::open(m_root.filePath(u"disk"_s));
        const QString root = QFileInfo(m_root.filePath(u"disk"_s)).canonicalFilePath();
        QCOMPARE(disk->driveRoot(u'c'), root);
        QCOMPARE(disk->driveRoot(u'D'), QString());
        QCOMPARE(disk->hostPath(u"C:\\program files\\APP\\Uninst.exe"_s), root + u"/Program Files/App/uninst.exe"_s);
        // A hive on its own has no drives: nothing resolves.
        const auto hive = Target::open(m_root.filePath(u"software-copy.dat"_s));
        QCOMPARE(hive->driveRoot(u'C'), QString());
        QCOMPARE(hive->hostPath(u"C:\\Windows"_s), QString());
    }

    void sampleCopiedOnFirstUse()
    {
        const QByteArray shipped = treeDigest(m_sample);
        QProcessEnvironment environment;
        environment.insert(u"HOME"_s, m_root.filePath(u"emptyhome"_s));

        const QString copy = m_dataHome + u"/Kelvane/sample"_s;
        {
            const std::unique_ptr<Target> target = Target::fromEnvironment(environment, m_sample);
            QCOMPARE(target->description(), copy);
            QVERIFY(QFileInfo::exists(copy + u"/drive_c/Program Files/Zeta/zeta.exe"_s));
            QVERIFY(!QFileInfo::exists(copy + u".partial"_s));
        }
        // The user's copy is kept as it is on later starts.
        writeFile(copy + u"/system.reg"_s, "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n");
        {
            const std::unique_ptr<Target> target = Target::fromEnvironment(environment, m_sample);
            QVERIFY(!target->registry()->keyExists(u"\\Software\\Classes"_s));
        }
        QCOMPARE(treeDigest(m_sample), shipped);
    }

    void missingSample()
    {
        QProcessEnvironment environment;
        environment.insert(u"HOME"_s, m_root.filePath(u"emptyhome"_s));
        const QString missing = m_root.filePath(u"no-sample"_s);
        try {
            Target::fromEnvironment(environment, missing);
            QFAIL("no error");
        } catch (const Error &error) {
            QVERIFY2(error.message().contains(missing), qPrintable(error.message()));
        }
    }

    void driveMapping_data()
    {
        QTest::addColumn<QString>("windowsPath");
        QTest::addColumn<QString>("host"); // relative to the test root; empty: not mapped
        QTest::newRow("C: through dosdevices") << u"C:\\Windows\\notepad.exe"_s << u"prefix/drive_c/windows/notepad.exe"_s;
        QTest::newRow("lower-case letter, slashes") << u"c:/windows"_s << u"prefix/drive_c/windows"_s;
        QTest::newRow("drive root") << u"C:\\"_s << u"prefix/drive_c"_s;
        QTest::newRow("other drive") << u"D:\\SETUP.EXE"_s << u"media/Setup.exe"_s;
        QTest::newRow("missing tail kept as given") << u"D:\\New Folder\\x"_s << u"media/New Folder/x"_s;
        QTest::newRow("dot-dot stops at the root") << u"C:\\..\\..\\..\\dosdevices\\..\\WINDOWS"_s
                                                   << u"prefix/drive_c/windows"_s;
        QTest::newRow("Z: is the host root") << u"Z:\\"_s << u"@/"_s;
        QTest::newRow("below the host root") << u"z:\\tmp"_s << u"@/tmp"_s;
        QTest::newRow("unmapped drive") << u"E:\\x"_s << QString();
        QTest::newRow("relative to drive") << u"C:windows"_s << QString();
        QTest::newRow("UNC") << u"\\\\server\\share\\x"_s << QString();
        QTest::newRow("no drive") << u"windows\\x"_s << QString();
    }

    void driveMapping()
    {
        QFETCH(QString, windowsPath);
        QFETCH(QString, host);
        static bool prepared = false;
        const QString prefix = m_root.filePath(u"prefix"_s);
        if (!prepared) {
            writeFile(prefix + u"/drive_c/windows/notepad.exe"_s, "MZ");
            writeFile(m_root.filePath(u"media/Setup.exe"_s), "MZ");
            QDir().mkpath(prefix + u"/dosdevices"_s);
            QVERIFY(QFile::link(u"../drive_c"_s, prefix + u"/dosdevices/c:"_s));
            QVERIFY(QFile::link(m_root.filePath(u"media"_s), prefix + u"/dosdevices/d:"_s));
            QVERIFY(QFile::link(u"/"_s, prefix + u"/dosdevices/z:"_s));
            prepared = true;
        }
        const std::unique_ptr<Target> target = Target::open(prefix);
        const QString expected = host.isEmpty()       ? QString()
                                 : host.startsWith(u'@') ? host.mid(1)
                                                         : QDir(m_root.path()).canonicalPath() + u'/' + host;
        QCOMPARE(target->hostPath(windowsPath), expected);
    }

    void driveFallbacks()
    {
        // Without dosdevices, C: is drive_c: a prefix never started, or the sample.
        const QString bare = m_root.filePath(u"home/.wine"_s);
        const std::unique_ptr<Target> prefix = Target::open(bare);
        QCOMPARE(prefix->driveRoot(u'C'), QDir(bare + u"/drive_c"_s).canonicalPath());
        QCOMPARE(prefix->driveRoot(u'D'), QString());

        QProcessEnvironment environment;
        environment.insert(u"HOME"_s, m_root.filePath(u"emptyhome"_s));
        const std::unique_ptr<Target> sample = Target::fromEnvironment(environment, m_sample);
        QCOMPARE(sample->hostPath(u"C:\\PROGRAM FILES\\zeta\\ZETA.exe"_s),
                 QDir(m_dataHome).canonicalPath() + u"/Kelvane/sample/drive_c/Program Files/Zeta/zeta.exe"_s);
    }
};

QTEST_GUILESS_MAIN(TargetTest)
#include "test_target.moc"
