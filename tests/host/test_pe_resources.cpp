// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/HostFile.h"
#include "host/PeResources.h"

#include "HostilePaths.h"
#include "RequiredTool.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane::pe;

namespace {

void put16(QByteArray &b, quint32 v) { b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); }
void put32(QByteArray &b, quint32 v) { put16(b, v & 0xFFFF); put16(b, v >> 16); }
void set32(QByteArray &b, qsizetype at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}
void pad4(QByteArray &b) { while (b.size() % 4) b.append('\0'); }

// A BMP-DIB icon image of size x size at 32 bits, every pixel `fill`.
QByteArray dib(int size, quint32 fill)
{
    QByteArray b;
    put32(b, 40); put32(b, quint32(size)); put32(b, quint32(size * 2));
    put16(b, 1); put16(b, 32); put32(b, 0); put32(b, quint32(size * size * 4));
    put32(b, 0); put32(b, 0); put32(b, 0); put32(b, 0);
    for (int i = 0; i < size * size; ++i)
        put32(b, fill);
    b.append(QByteArray(((size + 31) / 32) * 4 * size, '\0'));
    return b;
}

QByteArray icoFile(const QList<int> &sizes)
{
    QByteArray head;
    put16(head, 0); put16(head, 1); put16(head, quint32(sizes.size()));
    QByteArray images;
    const quint32 base = 6 + 16 * quint32(sizes.size());
    for (int s : sizes) {
        const QByteArray img = dib(s, 0xFF000000u | quint32(s));
        head.append(char(s)).append(char(s)).append('\0').append('\0');
        put16(head, 1); put16(head, 32); put32(head, quint32(img.size()));
        put32(head, base + quint32(images.size()));
        images += img;
    }
    return head + images;
}

// Group icon data naming RT_ICON ids first, first + 1, ... for the given sizes.
QByteArray groupIcon(const QList<int> &sizes, quint16 firstId)
{
    QByteArray b;
    put16(b, 0); put16(b, 1); put16(b, quint32(sizes.size()));
    for (int i = 0; i < sizes.size(); ++i) {
        b.append(char(sizes[i])).append(char(sizes[i])).append('\0').append('\0');
        put16(b, 1); put16(b, 32); put32(b, quint32(dib(sizes[i], 0).size())); put16(b, firstId + quint32(i));
    }
    return b;
}

QByteArray versionNode(const QString &key, const QByteArray &value, quint16 valueLength, quint16 type,
                       const QList<QByteArray> &children)
{
    QByteArray b(6, '\0');
    for (QChar c : key) put16(b, c.unicode());
    put16(b, 0);
    pad4(b);
    b += value;
    for (const QByteArray &c : children) { pad4(b); b += c; }
    b[0] = char(b.size() & 0xFF); b[1] = char(b.size() >> 8);
    b[2] = char(valueLength & 0xFF); b[3] = char(valueLength >> 8);
    b[4] = char(type);
    return b;
}

QByteArray versionResource(const QString &block, const QList<QPair<QString, QString>> &strings)
{
    QList<QByteArray> entries;
    for (const auto &[k, v] : strings) {
        QByteArray value;
        for (QChar c : v) put16(value, c.unicode());
        put16(value, 0);
        entries.append(versionNode(k, value, quint16(v.size() + 1), 1, {}));
    }
    QByteArray fixed;
    put32(fixed, 0xFEEF04BDu);
    fixed.append(QByteArray(48, '\0'));
    const QByteArray table = versionNode(block, {}, 0, 1, entries);
    return versionNode(u"VS_VERSION_INFO"_s, fixed, quint16(fixed.size()), 0,
                       {versionNode(u"StringFileInfo"_s, {}, 0, 1, {table})});
}

struct Resource
{
    quint32 type;
    quint32 id;
    QByteArray data;
};

// A minimal PE32 or PE32+ image with one .rsrc section at file offset = RVA 0x200.
// Resources of one type must be given next to each other.
QByteArray buildPe(bool plus, const QList<Resource> &resources)
{
    constexpr quint32 base = 0x200;
    QList<quint32> types;
    for (const Resource &r : resources)
        if (!types.contains(r.type)) types.append(r.type);
    // Directories: root, one per type, one language directory per resource.
    const quint32 rootSize = 16 + 8 * quint32(types.size());
    QByteArray rsrc;
    QList<quint32> typeDirAt;
    quint32 at = rootSize;
    for (quint32 t : types) {
        typeDirAt.append(at);
        at += 16 + 8 * quint32(std::count_if(resources.begin(), resources.end(), [t](const Resource &r) { return r.type == t; }));
    }
    const quint32 langDirsAt = at;
    const quint32 dataEntriesAt = langDirsAt + 24 * quint32(resources.size());
    quint32 blobsAt = dataEntriesAt + 16 * quint32(resources.size());

    put32(rsrc, 0); put32(rsrc, 0); put32(rsrc, 0); put16(rsrc, 0); put16(rsrc, quint32(types.size()));
    for (int i = 0; i < types.size(); ++i) { put32(rsrc, types[i]); put32(rsrc, 0x80000000u | typeDirAt[i]); }
    for (quint32 t : types) {
        QList<int> of;
        for (int i = 0; i < resources.size(); ++i) if (resources[i].type == t) of.append(i);
        put32(rsrc, 0); put32(rsrc, 0); put32(rsrc, 0); put16(rsrc, 0); put16(rsrc, quint32(of.size()));
        for (int i : of) { put32(rsrc, resources[i].id); put32(rsrc, 0x80000000u | (langDirsAt + 24 * quint32(i))); }
    }
    for (int i = 0; i < resources.size(); ++i) {
        put32(rsrc, 0); put32(rsrc, 0); put32(rsrc, 0); put16(rsrc, 0); put16(rsrc, 1);
        put32(rsrc, 1033); put32(rsrc, dataEntriesAt + 16 * quint32(i));
    }
    QByteArray blobs;
    for (const Resource &r : resources) {
        put32(rsrc, base + blobsAt + quint32(blobs.size())); put32(rsrc, quint32(r.data.size()));
        put32(rsrc, 0); put32(rsrc, 0);
        blobs += r.data;
        pad4(blobs);
    }
    rsrc += blobs;

    const quint32 optSize = plus ? 240 : 224;
    QByteArray pe(0x40, '\0');
    pe[0] = 'M'; pe[1] = 'Z';
    set32(pe, 0x3C, 0x40);
    pe.append("PE\0\0", 4);
    put16(pe, plus ? 0x8664 : 0x14C); put16(pe, 1); put32(pe, 0); put32(pe, 0); put32(pe, 0);
    put16(pe, optSize); put16(pe, 0x0102);
    const qsizetype opt = pe.size();
    pe.append(QByteArray(optSize, '\0'));
    pe[opt] = char(0x0B); pe[opt + 1] = char(plus ? 0x02 : 0x01);
    const qsizetype dirs = opt + (plus ? 112 : 96);
    set32(pe, dirs - 4, 16);
    set32(pe, dirs + 16, base);
    set32(pe, dirs + 20, quint32(rsrc.size()));
    pe.append(".rsrc\0\0\0", 8);
    put32(pe, quint32(rsrc.size())); put32(pe, base); put32(pe, quint32(rsrc.size())); put32(pe, base);
    pe.append(QByteArray(16, '\0'));
    pe.append(QByteArray(base - pe.size(), '\0'));
    return pe + rsrc;
}

// Two icon groups (ids 7 and 3, in that order), images 16/32/48 and 32, and version strings.
QByteArray samplePe(bool plus)
{
    return buildPe(plus, {
        {3, 1, dib(16, 1)}, {3, 2, dib(32, 2)}, {3, 4, dib(48, 4)}, {3, 5, dib(32, 5)},
        {14, 7, groupIcon({16, 32, 48}, 1)}, {14, 3, groupIcon({32}, 5)},
        {16, 1, versionResource(u"040904E4"_s, {{u"ProductName"_s, u"Sample"_s}, {u"FileVersion"_s, u"1.2.3.4"_s}})},
    });
}

QByteArray imageOf(const IconImage &icon) { return icon.ico.mid(22); }

} // namespace

class TestPeResources : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void builtPe_data();
    void builtPe();
    void versionBlocks();
    void icoFiles_data();
    void icoFiles();
    void damagedBuiltPe();
    void nsisExecutable();
    void notPlainFiles();
    void hostilePaths_data();
    void hostilePaths();
    void cutAfterOpening_data();
    void cutAfterOpening();

private:
    QTemporaryDir m_dir;
};

void TestPeResources::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Writes the generated files as fuzz seeds when asked to.
    const QString corpus = qEnvironmentVariable("KELVANE_WRITE_PE_CORPUS");
    if (!corpus.isEmpty()) {
        QDir().mkpath(corpus);
        const QList<QPair<QString, QByteArray>> seeds = {
            {u"pe32"_s, samplePe(false)}, {u"pe32plus"_s, samplePe(true)}, {u"ico"_s, icoFile({16, 32})}};
        for (const auto &[name, bytes] : seeds) {
            QFile f(corpus + u'/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }
    }
}

void TestPeResources::builtPe_data()
{
    QTest::addColumn<bool>("plus");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("fill"); // the pixel value of the expected image; 0: none
    QTest::addColumn<int>("size");
    for (const bool plus : {false, true}) {
        const char *kind = plus ? "PE32+ " : "PE32 ";
        QTest::addRow("%s0 nearest 32 of 16/32/48", kind) << plus << 0 << 2 << 32;
        QTest::addRow("%s1 second group", kind) << plus << 1 << 5 << 32;
        QTest::addRow("%s2 past the groups", kind) << plus << 2 << 0 << 0;
        QTest::addRow("%s-3 by id", kind) << plus << -3 << 5 << 32;
        QTest::addRow("%s-7 by id", kind) << plus << -7 << 2 << 32;
        QTest::addRow("%s-1 no such id", kind) << plus << -1 << 0 << 0;
    }
}

void TestPeResources::builtPe()
{
    QFETCH(bool, plus);
    QFETCH(int, index);
    QFETCH(int, fill);
    QFETCH(int, size);
    const auto icon = extractIcon(samplePe(plus), index);
    QCOMPARE(icon.has_value(), fill != 0);
    if (!icon)
        return;
    QCOMPARE(icon->width, size);
    QCOMPARE(icon->height, size);
    QCOMPARE(imageOf(*icon), dib(size, quint32(fill)));
    // A one-image .ico whose entry points right behind itself.
    QCOMPARE(icon->ico.left(6), QByteArray("\0\0\1\0\1\0", 6));
    QCOMPARE(quint8(icon->ico.at(6)), quint8(size));
}

void TestPeResources::versionBlocks()
{
    const QList<QPair<QString, QString>> expected = {{u"ProductName"_s, u"Sample"_s}, {u"FileVersion"_s, u"1.2.3.4"_s}};
    QCOMPARE(versionStrings(samplePe(false), u"040904E4"_s), expected);
    QCOMPARE(versionStrings(samplePe(true), u"040904e4"_s), expected);
    QVERIFY(versionStrings(samplePe(false), u"040704B0"_s).isEmpty());
    QVERIFY(versionStrings(buildPe(false, {{3, 1, dib(16, 1)}}), u"040904E4"_s).isEmpty());
}

void TestPeResources::icoFiles_data()
{
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("expected"); // 0: none
    QTest::newRow("one image") << QList<int>{16} << 0 << 16;
    QTest::newRow("nearest 32") << QList<int>{16, 48, 32, 64} << 0 << 32;
    QTest::newRow("equal distance: first") << QList<int>{16, 48} << 0 << 16;
    QTest::newRow("index 1") << QList<int>{16, 32} << 1 << 0;
    QTest::newRow("negative") << QList<int>{32} << -1 << 0;
}

void TestPeResources::icoFiles()
{
    QFETCH(QList<int>, sizes);
    QFETCH(int, index);
    QFETCH(int, expected);
    const QString path = m_dir.filePath(u"t.ico"_s);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(icoFile(sizes));
    f.close();
    const auto icon = extractIconFromFile(path, index);
    QCOMPARE(icon.has_value(), expected != 0);
    if (icon)
        QCOMPARE(imageOf(*icon), dib(expected, 0xFF000000u | quint32(expected)));
}

// Cut everywhere and overwrite every dword: never a crash (ASan/UBSan builds
// make that strict), and whatever comes out is one of the images stored.
void TestPeResources::damagedBuiltPe()
{
    for (const bool plus : {false, true}) {
        const QByteArray good = samplePe(plus);
        const QList<QByteArray> images = {dib(16, 1), dib(32, 2), dib(48, 4), dib(32, 5)};
        const auto check = [&](const QByteArray &bytes) {
            for (const int index : {0, 1, -3, -7}) {
                if (const auto icon = extractIcon(bytes, index))
                    QVERIFY(bytes.contains(imageOf(*icon)));
            }
            for (const auto &pair : versionStrings(bytes, u"040904E4"_s))
                QVERIFY(pair.first.size() + pair.second.size() < bytes.size());
        };
        for (qsizetype cut = 0; cut < good.size(); cut += 7)
            check(good.left(cut));
        for (qsizetype at = 0; at + 4 <= good.size(); at += 4) {
            for (const quint32 v : {0u, 0xFFFFFFFFu, 0x80000010u, 0x7FFFFFF0u, 0x200u}) {
                QByteArray bad = good;
                set32(bad, at, v);
                check(bad);
            }
        }
        // Truncating inside the 32 x 32 image makes index 0 fall back, never read past the end.
        const QByteArray cut = good.left(good.indexOf(dib(32, 2)) + 100);
        QVERIFY(!extractIcon(cut, 0).has_value() || imageOf(*extractIcon(cut, 0)) != dib(32, 2));
    }
}

void TestPeResources::nsisExecutable()
{
    const QString makensis = QStandardPaths::findExecutable(u"makensis"_s);
    if (makensis.isEmpty())
        KELVANE_SKIP_WITHOUT_TOOL("makensis is not installed");
    const QString ico = m_dir.filePath(u"app.ico"_s);
    {
        QFile f(ico);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(icoFile({16, 32}));
    }
    const QString script = m_dir.filePath(u"app.nsi"_s);
    {
        QFile f(script);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QStringLiteral(
                    "Unicode true\nOutFile \"app.exe\"\nIcon \"app.ico\"\n"
                    "VIProductVersion \"7.1.0.3\"\n"
                    "VIAddVersionKey /LANG=1033 \"ProductName\" \"K\u00e9lvane Test\"\n"
                    "VIAddVersionKey /LANG=1033 \"ProductVersion\" \"7.1 Beta\"\n"
                    "VIAddVersionKey /LANG=1033 \"FileVersion\" \"7.1.0.3\"\n"
                    "Section\nSectionEnd\n").toUtf8());
    }
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(makensis, {u"-V1"_s, u"-INPUTCHARSET"_s, u"UTF8"_s, script});
    QVERIFY(p.waitForFinished(120000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    const QString exe = m_dir.filePath(u"app.exe"_s);

    const auto icon = extractIconFromFile(exe, 0);
    QVERIFY(icon);
    QCOMPARE(icon->width, 32);
    QCOMPARE(imageOf(*icon), dib(32, 0xFF000020u));
    QVERIFY(!extractIconFromFile(exe, 1));

    // A Unicode NSIS build files its strings under code page 1200, not 1252.
    QVERIFY(readVersionStrings(exe).isEmpty());
    const auto strings = readVersionStrings(exe, u"040904B0"_s);
    QVERIFY(strings.contains(qMakePair(u"ProductName"_s, u"K\u00e9lvane Test"_s)));
    QVERIFY(strings.contains(qMakePair(u"ProductVersion"_s, u"7.1 Beta"_s)));
    QVERIFY(strings.contains(qMakePair(u"FileVersion"_s, u"7.1.0.3"_s)));
    QVERIFY(readVersionStrings(exe, u"041104B0"_s).isEmpty());

    QFile f(exe);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray good = f.readAll();
    const qsizetype step = qMax<qsizetype>(1, good.size() / 400);
    for (qsizetype cut = 0; cut < good.size(); cut += step) {
        const QByteArray part = good.left(cut);
        if (const auto i = extractIcon(part, 0))
            QVERIFY(part.contains(imageOf(*i)));
        versionStrings(part, u"040904E4"_s);
    }
}

void TestPeResources::notPlainFiles()
{
    QVERIFY(!extractIconFromFile(m_dir.filePath(u"missing.exe"_s), 0));
    QVERIFY(!extractIconFromFile(m_dir.path(), 0));
    QVERIFY(readVersionStrings(u"/dev/zero"_s).isEmpty());
}

void TestPeResources::hostilePaths_data()
{
    QTest::addColumn<int>("kind");
    for (const kelvane::test::Hostile kind : kelvane::test::hostileKinds())
        QTest::newRow(kelvane::test::hostileName(kind)) << int(kind);
}

// Refused at once (a pipe would block the opening, /dev/zero never ends): no
// icon, no strings, whatever the path names. Registry values name these
// files, and Wine's Z: drive reaches /dev: a pipe is not even opened.
void TestPeResources::hostilePaths()
{
    QFETCH(int, kind);
    const kelvane::test::ScratchFolder dir;
    for (const auto &[name, bytes] : {qMakePair(u"app.ico"_s, icoFile({32})), qMakePair(u"app.exe"_s, samplePe(false))}) {
        const QString path = kelvane::test::makeHostile(kelvane::test::Hostile(kind), dir.path(), name, bytes);
        QVERIFY(!path.isEmpty());
        const kelvane::test::OpenWatch watch(path);
        QVERIFY(!extractIconFromFile(path, 0));
        QVERIFY(readVersionStrings(path, u"040904E4"_s).isEmpty());
        if (kind == int(kelvane::test::Hostile::Fifo)) {
            QVERIFY(watch.isValid());
            QVERIFY(!watch.opened());
        }
    }
}

void TestPeResources::cutAfterOpening_data()
{
    const QByteArray pe = samplePe(false);
    QTest::addColumn<qint64>("cut"); // the file's length once opened
    QTest::addColumn<bool>("icon");
    QTest::addColumn<bool>("strings");
    QTest::newRow("emptied") << qint64(0) << false << false;
    QTest::newRow("in the DOS header") << qint64(40) << false << false;
    QTest::newRow("in the section table") << qint64(0x150) << false << false;
    QTest::newRow("in the resource directory") << qint64(0x210) << false << false;
    QTest::newRow("in the chosen image") << qint64(pe.indexOf(dib(32, 2)) + 100) << false << false;
    QTest::newRow("in the version data") << qint64(pe.size() - 8) << true << false;
    QTest::newRow("whole") << qint64(pe.size()) << true << true;
}

// An uninstaller may delete or rewrite a program while its icon is read: the
// reads then come back short of what the headers promised. No icon, no
// strings, no crash, and never bytes from outside the file.
void TestPeResources::cutAfterOpening()
{
    QFETCH(qint64, cut);
    QFETCH(bool, icon);
    QFETCH(bool, strings);
    const QString path = m_dir.filePath(u"cut.exe"_s);
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(samplePe(false));
    out.close();
    const kelvane::HostFile file(path);
    QVERIFY(QFile::resize(path, cut));
    const auto found = extractIcon(file, 0);
    QCOMPARE(found.has_value(), icon);
    if (found)
        QCOMPARE(imageOf(*found), dib(32, 2));
    QCOMPARE(!versionStrings(file, u"040904E4"_s).isEmpty(), strings);
}

QTEST_GUILESS_MAIN(TestPeResources)
#include "test_pe_resources.moc"
