// SPDX-License-Identifier: GPL-3.0-or-later
#include "inventory/kvApplication.h"
#include "program/kvIcon.h"
#include "target/Target.h"

#include "HostilePaths.h"
#include "RequiredTool.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

// Solid test icons: the colour tells which icon reached the picture.
const QColor Red(0xd0, 0x10, 0x10);
const QColor Green(0x10, 0xb0, 0x10);
const QColor Blue(0x10, 0x10, 0xd0);
const QColor Yellow(0xe0, 0xd0, 0x10);
const QColor Cyan(0x10, 0xc0, 0xc0);

bool writeIco(const QString &file, const QColor &color)
{
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(color);
    return image.save(file, "ICO");
}

bool run(const QString &program, const QStringList &arguments, const QString &folder, QString *output)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool done = process.waitForFinished(120000);
    *output = QString::fromLocal8Bit(process.readAll());
    return done && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QColor centre(const QLabel &label)
{
    return label.pixmap().toImage().pixelColor(16, 16);
}

} // namespace

class TestIconLoader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sources_data();
    void sources();
    void staleLoaderIsDropped();
    void labelGoneMeanwhile();

private:
    // Starts a loader for sources and waits until it has freed itself.
    bool load(const QStringList &sources, QLabel &label, bool useFallback);

    QTemporaryDir m_prefix;
    std::unique_ptr<Target> m_target;
    bool m_haveLibrary = false; // a real DLL with three icon groups (llvm-rc + lld-link)
    bool m_haveInstaller = false; // a real NSIS program (makensis)
};

void TestIconLoader::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QVERIFY(m_prefix.isValid());
    const QDir prefix(m_prefix.path());
    {
        QFile registry(prefix.filePath(u"system.reg"_s));
        QVERIFY(registry.open(QIODevice::WriteOnly));
        registry.write("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n");
    }
    for (const QString &folder : {u"drive_c/Lib"_s, u"drive_c/Icons"_s, u"drive_c/App"_s})
        QVERIFY(prefix.mkpath(folder));
    m_target = Target::open(m_prefix.path());

    const QString icons = prefix.filePath(u"drive_c/Icons"_s);
    QVERIFY(writeIco(icons + u"/one.ico"_s, Yellow));
    QVERIFY(writeIco(icons + u"/red.ico"_s, Red));
    QVERIFY(writeIco(icons + u"/green.ico"_s, Green));
    QVERIFY(writeIco(icons + u"/blue.ico"_s, Blue));
    QVERIFY(writeIco(icons + u"/cyan.ico"_s, Cyan));
    // What a registry value may name besides programs and icons: never read, never waited for.
    using kelvane::test::Hostile;
    QVERIFY(!kelvane::test::makeHostile(Hostile::Fifo, icons, u"pipe.ico"_s).isEmpty());
    QVERIFY(!kelvane::test::makeHostile(Hostile::LinkToDevZero, icons, u"zero.exe"_s).isEmpty());

    // Icon groups 1, 2 and 3 in that order: ExtractIcon numbers 0, 1 and 2.
    const QString rc = QStandardPaths::findExecutable(u"llvm-rc-14"_s).isEmpty()
        ? QStandardPaths::findExecutable(u"llvm-rc"_s)
        : QStandardPaths::findExecutable(u"llvm-rc-14"_s);
    const QString link = QStandardPaths::findExecutable(u"lld-link-14"_s).isEmpty()
        ? QStandardPaths::findExecutable(u"lld-link"_s)
        : QStandardPaths::findExecutable(u"lld-link-14"_s);
    if (!rc.isEmpty() && !link.isEmpty()) {
        QFile script(icons + u"/three.rc"_s);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("1 ICON \"red.ico\"\n2 ICON \"green.ico\"\n3 ICON \"blue.ico\"\n");
        script.close();
        QString output;
        QVERIFY2(run(rc, {u"/fo"_s, u"three.res"_s, u"three.rc"_s}, icons, &output), qPrintable(output));
        QVERIFY2(run(link, {u"/noentry"_s, u"/dll"_s, u"/machine:x64"_s, u"three.res"_s,
                            u"/out:"_s + prefix.filePath(u"drive_c/Lib/Three.dll"_s)},
                     icons, &output),
                 qPrintable(output));
        m_haveLibrary = true;
    }

    const QString makensis = QStandardPaths::findExecutable(u"makensis"_s);
    if (!makensis.isEmpty()) {
        const QString app = prefix.filePath(u"drive_c/App"_s);
        QFile script(app + u"/setup.nsi"_s);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(("Unicode true\nTarget amd64-unicode\nOutFile \"setup.exe\"\nIcon \"" + icons.toUtf8()
                      + "/cyan.ico\"\nSection\nSectionEnd\n"));
        script.close();
        QString output;
        QVERIFY2(run(makensis, {u"-V1"_s, u"setup.nsi"_s}, app, &output), qPrintable(output));
        m_haveInstaller = true;
    }
}

bool TestIconLoader::load(const QStringList &sources, QLabel &label, bool useFallback)
{
    auto entry = std::make_shared<TAppItem>(m_target->registry());
    entry->IconPaths = sources;
    const QPointer<TIconLoader> loader = new TIconLoader(entry, *m_target, &label, useFallback);
    // Its results are posted before it frees itself: once gone, the picture is final.
    return QTest::qWaitFor([&loader] { return loader.isNull(); }, 20000);
}

void TestIconLoader::sources_data()
{
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<bool>("useFallback");
    QTest::addColumn<QString>("needs"); // "library", "installer" or empty
    QTest::addColumn<QString>("expected"); // a colour name, "noicon" or "blank"

    const QString dll = u"C:\\Lib\\Three.dll"_s;
    const QString ico = u"C:\\Icons\\one.ico"_s;
    QTest::newRow("library, icon 2 is the third") << QStringList{dll + u",2"_s} << true << u"library"_s << u"blue"_s;
    QTest::newRow("quoted, number after the quote")
        << QStringList{u"\""_s + dll + u"\",2"_s} << true << u"library"_s << u"blue"_s;
    QTest::newRow("negative number names the group id")
        << QStringList{dll + u",-2"_s} << true << u"library"_s << u"green"_s;
    QTest::newRow("names match without case") << QStringList{u"c:\\lib\\THREE.DLL,1"_s} << true << u"library"_s
                                              << u"green"_s;
    QTest::newRow("blanks around the number") << QStringList{dll + u", 2 "_s} << true << u"library"_s << u"blue"_s;
    QTest::newRow("no such icon: next source")
        << QStringList{dll + u",3"_s, ico} << true << u"library"_s << u"yellow"_s;
    QTest::newRow("missing file: next source")
        << QStringList{u"C:\\Missing\\gone.exe,0"_s, dll + u",0"_s} << true << u"library"_s << u"red"_s;
    QTest::newRow("first source with an icon wins") << QStringList{ico, dll + u",2"_s} << true << u"library"_s
                                                    << u"yellow"_s;
    QTest::newRow("installer program without a number")
        << QStringList{u"C:\\App\\setup.exe"_s} << true << u"installer"_s << u"cyan"_s;
    QTest::newRow("icon file without a number") << QStringList{ico} << true << QString() << u"yellow"_s;
    QTest::newRow("icon file, number 0") << QStringList{ico + u",0"_s} << true << QString() << u"yellow"_s;
    QTest::newRow("no source") << QStringList{} << true << QString() << u"noicon"_s;
    QTest::newRow("no source, no fallback") << QStringList{} << false << QString() << u"blank"_s;
    QTest::newRow("only missing files")
        << QStringList{u"C:\\Missing\\a.ico"_s, u"\"C:\\Missing\\b.exe\",1"_s} << true << QString() << u"noicon"_s;
    QTest::newRow("empty path") << QStringList{u",1"_s, QString()} << true << QString() << u"noicon"_s;
    QTest::newRow("unmapped drive or relative path")
        << QStringList{u"Q:\\x\\one.ico"_s, u"Icons\\one.ico"_s, u"%SystemRoot%\\one.ico"_s} << true << QString()
        << u"noicon"_s;
    QTest::newRow("a folder is not a file") << QStringList{u"C:\\Icons"_s} << true << QString() << u"noicon"_s;
    QTest::newRow("named pipe: next source") << QStringList{u"C:\\Icons\\pipe.ico"_s, ico} << true << QString()
                                             << u"yellow"_s;
    QTest::newRow("link to a device: next source")
        << QStringList{u"C:\\Icons\\zero.exe,0"_s, ico} << true << QString() << u"yellow"_s;
    QTest::newRow("number not whole: blank, later sources untried")
        << QStringList{ico + u",x"_s, ico} << true << QString() << u"blank"_s;
    QTest::newRow("number not whole: empty field") << QStringList{ico + u","_s} << true << QString() << u"blank"_s;
    QTest::newRow("number not whole: decimal point") << QStringList{ico + u",1.5"_s} << true << QString()
                                                    << u"blank"_s;
    QTest::newRow("number of a missing file is never read")
        << QStringList{u"C:\\Missing\\a.exe,x"_s, ico} << true << QString() << u"yellow"_s;
}

void TestIconLoader::sources()
{
    QFETCH(QStringList, sources);
    QFETCH(bool, useFallback);
    QFETCH(QString, needs);
    QFETCH(QString, expected);
    if (needs == u"library"_s && !m_haveLibrary)
        KELVANE_SKIP_WITHOUT_TOOL("llvm-rc and lld-link are not installed: no library with several icon groups");
    if (needs == u"installer"_s && !m_haveInstaller)
        KELVANE_SKIP_WITHOUT_TOOL("makensis is not installed");

    QLabel label;
    QImage previous(32, 32, QImage::Format_ARGB32);
    previous.fill(Qt::magenta);
    label.setPixmap(QPixmap::fromImage(previous)); // the last entry's icon: always replaced
    QVERIFY(load(sources, label, useFallback));

    if (expected == u"blank"_s) {
        QVERIFY(label.pixmap().isNull());
        return;
    }
    QVERIFY(!label.pixmap().isNull());
    QCOMPARE(label.pixmap().size(), QSize(TIconLoader::IconSize, TIconLoader::IconSize));
    if (expected == u"noicon"_s) {
        const QImage fallback = TIconLoader::fallbackIcon();
        QVERIFY(!fallback.isNull());
        QCOMPARE(label.pixmap().toImage().convertToFormat(QImage::Format_ARGB32),
                 fallback.convertToFormat(QImage::Format_ARGB32));
    } else {
        QCOMPARE(centre(label).name(), QColor::fromString(expected == u"red"_s ? Red.name()
                                                          : expected == u"green"_s ? Green.name()
                                                          : expected == u"blue"_s ? Blue.name()
                                                          : expected == u"cyan"_s ? Cyan.name()
                                                                                  : Yellow.name())
                                          .name());
    }
}

void TestIconLoader::staleLoaderIsDropped()
{
    QLabel label;
    QImage shown(32, 32, QImage::Format_ARGB32);
    shown.fill(Qt::magenta);
    label.setPixmap(QPixmap::fromImage(shown));

    auto first = std::make_shared<TAppItem>(m_target->registry());
    first->IconPaths = {u"C:\\Icons\\red.ico"_s};
    const QPointer<TIconLoader> stale = new TIconLoader(first, *m_target, &label, true);
    // Let it finish: its results now wait, undelivered, in the GUI thread's queue.
    QVERIFY(stale->wait(20000));

    // The selection moves on before they are delivered.
    auto second = std::make_shared<TAppItem>(m_target->registry());
    second->IconPaths = {u"C:\\Icons\\blue.ico"_s};
    const QPointer<TIconLoader> current = new TIconLoader(second, *m_target, &label, true);

    QCoreApplication::sendPostedEvents(stale.data(), QEvent::MetaCall);
    QCOMPARE(centre(label).name(), QColor(Qt::magenta).name()); // neither cleared nor painted red

    QTRY_VERIFY_WITH_TIMEOUT(current.isNull() && stale.isNull(), 20000);
    QCOMPARE(centre(label).name(), Blue.name());
}

void TestIconLoader::labelGoneMeanwhile()
{
    auto entry = std::make_shared<TAppItem>(m_target->registry());
    entry->IconPaths = {u"C:\\Icons\\red.ico"_s};
    auto *label = new QLabel;
    const QPointer<TIconLoader> loader = new TIconLoader(entry, *m_target, label, true);
    delete label; // the panel closed while the loader still runs
    entry.reset(); // and the inventory dropped the record
    QTRY_VERIFY_WITH_TIMEOUT(loader.isNull(), 20000);
}

QTEST_MAIN(TestIconLoader)
#include "test_icon_loader.moc"
