// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/Error.h"
#include "registry/WineRegistryFile.h"

#include "FileBytes.h"
#include "Utf16.h"
#include "WineRegistryText.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane::test;
using kelvane::Error;
using kelvane::RegistryValue;
using kelvane::RegistryStore;
using kelvane::WineRegistryFile;

namespace {

const auto parse = parseWineRegistry;

// Fails once a number of bytes has gone through, as a full disk would.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 capacity)
        : m_capacity(capacity)
    {
        open(QIODevice::WriteOnly);
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override
    {
        if (m_written >= m_capacity) {
            setErrorString(u"No space left on device"_s);
            return -1;
        }
        const qint64 n = std::min(size, m_capacity - m_written);
        m_written += n;
        return n;
    }

private:
    qint64 m_capacity;
    qint64 m_written = 0;
};

} // namespace

class TestWineRegistry : public QObject
{
    Q_OBJECT

private slots:
    void escapes_data();
    void escapes();
    void keyNameEscapes();
    void namesFoldLikeWine_data();
    void namesFoldLikeWine();
    void lookupsFollowChanges();
    void valueForms_data();
    void valueForms();
    void writerForms_data();
    void writerForms();
    void writerRoundTrip_data();
    void writerRoundTrip();
    void malformedInput();
    void refusesOtherFiles_data();
    void refusesOtherFiles();
    void crlf();
    void duplicatesMerge();
    void subkeyOrderAndImplicitKeys();
    void editRewritesOnlyEditedKeys();
    void deleteTree();
    void links();
    void failingDevice();
    void saveKeepsModeAndDetectsChanges();
};

void TestWineRegistry::escapes_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("text");

    QTest::newRow("plain") << QByteArray("abc") << u"abc"_s;
    QTest::newRow("backslash and quote") << QByteArray(R"(C:\\a\"b\")") << u"C:\\a\"b\""_s;
    QTest::newRow("letters") << QByteArray(R"(\a\b\t\n\v\f\r\e)") << u"\a\b\t\n\v\f\r\x1b"_s;
    QTest::newRow("x takes four digits") << QByteArray(R"(\x00efc)") << u"\u00efc"_s;
    QTest::newRow("x takes fewer at a non-digit") << QByteArray(R"(\xe9!)") << u"\u00e9!"_s;
    QTest::newRow("x takes up to four, greedily") << QByteArray(R"(\xefc)") << u"\u0efc"_s;
    QTest::newRow("x without digits") << QByteArray(R"(\xyz)") << u"xyz"_s;
    QTest::newRow("octal three digits at most") << QByteArray(R"(\1012)") << u"A2"_s;
    QTest::newRow("octal short") << QByteArray(R"(\7z)") << QString(QChar(7)) + u"z"_s;
    QTest::newRow("octal NUL inside") << QByteArray(R"(a\0b)") << u"a"_s + QChar(0) + u"b"_s;
    QTest::newRow("brackets") << QByteArray(R"(\[x\])") << u"[x]"_s;
    QTest::newRow("unknown escape is the character") << QByteArray(R"(\q\%)") << u"q%"_s;
    QTest::newRow("raw UTF-8") << QByteArray("gr\xc3\xbc\xc3\x9f \xe2\x82\xac") << u"grüß €"_s;
    QTest::newRow("surrogate pair") << QByteArray(R"(\xd83d\xde00)") << u"\U0001F600"_s;
    QTest::newRow("invalid UTF-8 is replaced") << QByteArray("a\xff") << u"a\ufffd"_s;
}

void TestWineRegistry::escapes()
{
    QFETCH(QByteArray, written);
    QFETCH(QString, text);
    auto file = parse("[K] 1\n\"v\"=\"" + written + "\"\n\"" + written + "\"=dword:00000001\n");
    const auto value = file->value(u"K"_s, u"v"_s);
    QVERIFY(value);
    QCOMPARE(value->type, quint32(kelvane::RegSz));
    QCOMPARE(value->data, registryTextBytes(text));
    // Value names use the same escapes.
    QVERIFY(file->value(u"K"_s, text));
}

void TestWineRegistry::keyNameEscapes()
{
    auto file = parse("[Software\\\\A\\[1\\]\\\\\\x00e9a\\xe9] 1\n@=\"x\"\n");
    QVERIFY(file->keyExists(u"Software\\A[1]\\\u00e9a\u00e9"_s));
    QCOMPARE(file->subkeyNames(u"software\\a[1]"_s), QStringList{u"\u00e9a\u00e9"_s});
    // Written back in Wine's form after an edit.
    file->setValue(u"Software\\A[1]\\\u00c9A\u00e9"_s, RegistryValue::fromDword(u"n"_s, 1));
    QVERIFY(file->toBytes().contains("[Software\\\\A\\[1\\]\\\\\\x00e9a\\xe9] "));
}

void TestWineRegistry::namesFoldLikeWine_data()
{
    // How the file spells a name, and how it is asked for.
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("found");
    QTest::newRow("ASCII case") << QByteArray("DisplayName") << u"dISPLAYnAME"_s << true;
    QTest::newRow("ASCII differs") << QByteArray("DisplayName") << u"DisplayNam"_s << false;
    QTest::newRow("escaped Latin-1") << QByteArray(R"(\xc9t\xe9)") << u"\u00e9T\u00c9"_s << true;
    QTest::newRow("raw UTF-8") << QByteArray("\xc3\x89t\xc3\xa9") << u"\u00e9t\u00e9"_s << true;
    QTest::newRow("Greek") << QByteArray(R"(\x3a3)") << u"\u03c3"_s << true;
    // Unicode lowercase maps the Kelvin sign to k, as Wine compares.
    QTest::newRow("Kelvin sign") << QByteArray(R"(\x212a)") << u"k"_s << true;
    QTest::newRow("no folding across letters") << QByteArray(R"(\xe9)") << u"e"_s << false;
}

void TestWineRegistry::namesFoldLikeWine()
{
    QFETCH(QByteArray, written);
    QFETCH(QString, asked);
    QFETCH(bool, found);
    auto file = parse("[Software\\\\" + written + "] 1\n\"" + written + "\"=\"v\"\n");
    QCOMPARE(file->keyExists(u"Software\\"_s + asked), found);
    QCOMPARE(file->value(u"Software\\"_s + file->subkeyNames(u"Software"_s).value(0), asked).has_value(), found);
}

void TestWineRegistry::lookupsFollowChanges()
{
    // Answers remembered for a path must not outlive a change of the tree.
    auto file = parse("[Software\\\\Target\\\\A] 1\n\"v\"=\"a\"\n\n[Software\\\\Other\\\\A] 1\n\"v\"=\"b\"\n\n"
                      + linkKey("Software\\\\Link", u"\\Registry\\Machine\\Software\\Target"_s));
    const QString through = u"Software\\Link\\A"_s;
    QCOMPARE(file->value(through, u"v"_s)->text(), u"a"_s);
    QCOMPARE(file->value(through, u"V"_s)->name, u"v"_s);
    // The key is deleted, then made again through the link.
    file->deleteTree(u"Software\\Target\\A"_s);
    QVERIFY(!file->keyExists(through));
    QVERIFY(!file->value(through, u"v"_s));
    file->setValue(through, RegistryValue::fromText(u"v"_s, u"c"_s));
    QCOMPARE(file->value(u"Software\\Target\\A"_s, u"v"_s)->text(), u"c"_s);
    QCOMPARE(file->value(through, u"v"_s)->text(), u"c"_s);
    // Without the link the path leads nowhere.
    file->deleteTree(u"Software\\Link"_s);
    QVERIFY(!file->keyExists(through));
    QVERIFY(file->keyExists(u"Software\\Target\\A"_s));
    QCOMPARE(file->value(u"Software\\Other\\A"_s, u"v"_s)->text(), u"b"_s);
}

void TestWineRegistry::valueForms_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("string") << QByteArray(R"("S"="text")") << u"S"_s << 1u << registryTextBytes(u"text"_s);
    QTest::newRow("empty string") << QByteArray(R"("S"="")") << u"S"_s << 1u << registryTextBytes(QString());
    QTest::newRow("default value") << QByteArray(R"(@="d")") << QString() << 1u << registryTextBytes(u"d"_s);
    QTest::newRow("expand string") << QByteArray(R"("E"=str(2):"%ProgramFiles%\\x")") << u"E"_s << 2u
                                   << registryTextBytes(u"%ProgramFiles%\\x"_s);
    QTest::newRow("multi string") << QByteArray(R"("M"=str(7):"a\0bc\0")") << u"M"_s << 7u
                                  << QByteArray("a\0\0\0b\0c\0\0\0\0\0", 12);
    QTest::newRow("dword") << QByteArray("\"D\"=dword:0000c6f4") << u"D"_s << 4u << QByteArray("\xf4\xc6\0\0", 4);
    QTest::newRow("binary") << QByteArray("\"B\"=hex:01,ff,0a") << u"B"_s << 3u << QByteArray("\x01\xff\x0a");
    QTest::newRow("empty binary") << QByteArray("\"B\"=hex:") << u"B"_s << 3u << QByteArray();
    QTest::newRow("qword") << QByteArray("\"Q\"=hex(b):01,00,00,00,00,00,00,80") << u"Q"_s << 11u
                           << QByteArray("\x01\0\0\0\0\0\0\x80", 8);
    QTest::newRow("unknown type kept") << QByteArray("\"U\"=hex(ffff0011):de,ad") << u"U"_s << 0xffff0011u
                                       << QByteArray("\xde\xad");
    QTest::newRow("type none") << QByteArray("\"N\"=hex(0):") << u"N"_s << 0u << QByteArray();
    QTest::newRow("continuation lines") << QByteArray("\"C\"=hex:01,02,\\\n  03,\\\n  04") << u"C"_s << 3u
                                        << QByteArray("\x01\x02\x03\x04");
    QTest::newRow("space around equals") << QByteArray("\"S\" = \"x\"") << u"S"_s << 1u << registryTextBytes(u"x"_s);
    QTest::newRow("text with a NUL") << QByteArray(R"("S"=str(2):"a\0b")") << u"S"_s << 2u
                                     << QByteArray("a\0\0\0b\0\0\0", 8);
    QTest::newRow("text as hex") << QByteArray("\"S\"=hex(1):41,00,00,00") << u"S"_s << 1u << QByteArray("A\0\0\0", 4);
    QTest::newRow("more after the text") << QByteArray("\"S\"=\"x\"" + QByteArray(4000, ' ') + "y") << u"S"_s << 1u
                                         << registryTextBytes(u"x"_s);
}

void TestWineRegistry::valueForms()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, name);
    QFETCH(quint32, type);
    QFETCH(QByteArray, data);
    auto file = parse("[K] 1\n#time=1\n" + line + "\n\"After\"=dword:00000007\n");
    const auto values = file->values(u"K"_s);
    QCOMPARE(values.size(), 2);
    const auto value = file->value(u"K"_s, name);
    QVERIFY(value);
    QCOMPARE(value->name, name);
    QCOMPARE(value->type, type);
    QCOMPARE(value->data, data);
    QCOMPARE(file->value(u"K"_s, u"after"_s)->dword(), std::optional<quint32>(7));
    // Read alone, and with others in one pass, as the value read whole.
    const auto reading = parse("[K] 1\n#time=1\n" + line + "\n")->read(u"K"_s, name);
    QCOMPARE(reading, std::optional(RegistryStore::Reading::of(*value)));
    QVERIFY(reading->text.capacity() <= 2 * reading->text.size() + 64); // texts may be kept long
    std::optional<RegistryStore::Reading> many[3];
    const QString asked[] = {u"after"_s, name, u"missing"_s};
    parse("[K] 1\n#time=1\n" + line + "\n\"After\"=dword:00000007\n")->readMany(u"K"_s, asked, many);
    QCOMPARE(many[1], reading);
    QCOMPARE(many[0]->data, QByteArray("\x07\0\0\0", 4));
    QVERIFY(!many[2]);
}

void TestWineRegistry::writerForms_data()
{
    QTest::addColumn<RegistryValue>("value");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("string") << RegistryValue::fromText(u"Name"_s, u"C:\\x \"y\""_s)
                            << QByteArray(R"("Name"="C:\\x \"y\"")");
    QTest::newRow("default") << RegistryValue::fromText(QString(), u"v"_s) << QByteArray(R"(@="v")");
    QTest::newRow("non-ASCII pads before a hex digit") << RegistryValue::fromText(u"\u00e9"_s, u"\u00efc\u00efz"_s)
                                                       << QByteArray(R"("\xe9"="\x00efc\xefz")");
    QTest::newRow("control characters") << RegistryValue::fromText(u"c"_s, QString(QChar(1)) + u"\t"_s + QChar(0) + u"1"_s)
                                        << QByteArray(R"("c"="\1\t\0001")");
    QTest::newRow("expand") << RegistryValue::fromText(u"E"_s, u"%a%"_s, kelvane::RegExpandSz)
                            << QByteArray(R"("E"=str(2):"%a%")");
    QTest::newRow("multi") << RegistryValue::fromBytes(u"M"_s, kelvane::RegMultiSz,
                                                       registryTextBytes(u"a"_s) + registryTextBytes(QString()))
                           << QByteArray(R"("M"=str(7):"a\0")");
    QTest::newRow("string without final NUL") << RegistryValue::fromBytes(u"S"_s, kelvane::RegSz, QByteArray("a\0", 2).left(1))
                                              << QByteArray("\"S\"=hex(1):61");
    QTest::newRow("dword") << RegistryValue::fromDword(u"D"_s, 0xc6f4) << QByteArray("\"D\"=dword:0000c6f4");
    QTest::newRow("short dword") << RegistryValue::fromBytes(u"D"_s, kelvane::RegDword, QByteArray("\x01"))
                                 << QByteArray("\"D\"=hex(4):01");
    QTest::newRow("empty binary") << RegistryValue::fromBytes(u"B"_s, kelvane::RegBinary, {}) << QByteArray("\"B\"=hex:");
    // As Wine 8 wrote it into a fresh prefix.
    QTest::newRow("wrapped like Wine")
        << RegistryValue::fromBytes(u"SymbolicLinkValue"_s, kelvane::RegLink,
                                    registryTextBytes(u"\\Registry\\Machine\\Software\\Classes\\AppId"_s).chopped(2))
        << QByteArray("\"SymbolicLinkValue\"=hex(6):5c,00,52,00,65,00,67,00,69,00,73,00,74,00,72,00,79,\\\n"
                      "  00,5c,00,4d,00,61,00,63,00,68,00,69,00,6e,00,65,00,5c,00,53,00,6f,00,66,00,\\\n"
                      "  74,00,77,00,61,00,72,00,65,00,5c,00,43,00,6c,00,61,00,73,00,73,00,65,00,73,\\\n"
                      "  00,5c,00,41,00,70,00,70,00,49,00,64,00");
}

void TestWineRegistry::writerForms()
{
    QFETCH(RegistryValue, value);
    QFETCH(QByteArray, line);
    auto file = parse("[K] 1\n#time=1\n");
    file->setValue(u"K"_s, value);
    const QByteArray out = file->toBytes();
    QVERIFY2(out.contains(QByteArray("\n" + line + "\n")), out.constData());
}

void TestWineRegistry::writerRoundTrip_data()
{
    QTest::addColumn<RegistryValue>("value");
    QString awkward;
    for (char16_t c = 0; c < 0x200; ++c)
        awkward.append(QChar(c));
    awkward += u"\U0001F600\"\\[]0a7"_s;
    QByteArray bytes;
    for (int i = 0; i < 300; ++i)
        bytes.append(char(i));
    QTest::newRow("every small character") << RegistryValue::fromText(awkward, awkward);
    QTest::newRow("long binary") << RegistryValue::fromBytes(u"b"_s, kelvane::RegBinary, bytes);
    QTest::newRow("odd text bytes") << RegistryValue::fromBytes(u"t"_s, kelvane::RegExpandSz, QByteArray("abc"));
    QTest::newRow("big type") << RegistryValue::fromBytes(u"t"_s, 0x12345678, QByteArray("\0", 1));
}

void TestWineRegistry::writerRoundTrip()
{
    QFETCH(RegistryValue, value);
    auto file = parse("[K] 1\n#time=1\n");
    file->setValue(u"K\\Sub"_s, value);
    const QByteArray out = file->toBytes();
    for (char c : out)
        QVERIFY2(static_cast<unsigned char>(c) < 0x80, "Wine writes pure ASCII");
    auto again = WineRegistryFile::fromBytes(out, u"out.reg"_s);
    QCOMPARE(again->value(u"K\\Sub"_s, value.name), std::optional<RegistryValue>(value));
}

void TestWineRegistry::malformedInput()
{
    const QString data = QStringLiteral(KELVANE_TEST_DATA) + u"/registry/"_s;
    auto file = WineRegistryFile::open(data + u"malformed.reg"_s);
    // Values under a key line without its ']' are skipped with it.
    QVERIFY(!file->keyExists(u"Software\\Broken"_s));
    QCOMPARE(file->values(u"Software\\Good"_s).size(), 1);
    QCOMPARE(file->value(u"Software\\Good"_s, u"Kept"_s)->text(), u"yes"_s);
    QVERIFY(file->keyExists(u"Software\\Escapes"_s));
    QVERIFY(file->values(u"Software\\Escapes"_s).isEmpty());
    QCOMPARE(file->toBytes(), fileBytes(data + u"malformed.reg"_s));

    auto truncated = WineRegistryFile::open(data + u"truncated.reg"_s);
    QCOMPARE(truncated->value(u"Software\\Good"_s, u"Kept"_s)->text(), u"yes"_s);
    QCOMPARE(truncated->value(u"Software\\Good"_s, u"Cut"_s)->data, QByteArray("\x01\x02\x03"));
}

void TestWineRegistry::refusesOtherFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("old version") << u"bad-header.reg"_s;
    QTest::newRow("regedit export") << u"regedit4.reg"_s;
    QTest::newRow("missing") << u"no-such-file.reg"_s;
}

void TestWineRegistry::refusesOtherFiles()
{
    QFETCH(QString, file);
    const QString path = QStringLiteral(KELVANE_TEST_DATA) + u"/registry/"_s + file;
    try {
        WineRegistryFile::open(path);
        QFAIL("opened");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(file), qPrintable(error.message()));
    }
    QVERIFY_THROWS_EXCEPTION(Error, WineRegistryFile::fromBytes(QByteArray(), u"empty"_s));
}

void TestWineRegistry::crlf()
{
    const QString path = QStringLiteral(KELVANE_TEST_DATA) + u"/registry/crlf.reg"_s;
    const QByteArray original = fileBytes(path);
    auto file = WineRegistryFile::open(path);
    QCOMPARE(file->value(u"Software\\Crlf"_s, u"Text"_s)->text(), u"line"_s);
    QCOMPARE(file->value(u"Software\\Crlf"_s, u"Bin"_s)->data, QByteArray("\x01\x02"));
    QCOMPARE(file->value(u"Software\\Crlf"_s, u"Num"_s)->dword(), std::optional<quint32>(16));
    QCOMPARE(file->toBytes(), original);
    file->setValue(u"Software\\Crlf"_s, RegistryValue::fromText(u"New"_s, u"v"_s));
    const QByteArray out = file->toBytes();
    QVERIFY(out.startsWith(original.left(original.indexOf("[Software"))));
    QVERIFY(out.contains("\r\n\"New\"=\"v\"\r\n"));
    QVERIFY(!out.contains(QByteArray("\n")) || out.count('\n') == out.count("\r\n"));
}

void TestWineRegistry::duplicatesMerge()
{
    auto file = parse("[Software\\\\Dup] 1\n\"A\"=\"first\"\n\"B\"=\"b\"\n\"a\"=\"second\"\n\n"
                      "[Software\\\\Other] 1\n\n"
                      "[SOFTWARE\\\\dup] 2\n\"C\"=\"c\"\n\"b\"=dword:00000002\n");
    QCOMPARE(file->subkeyNames(u"Software"_s), (QStringList{u"Dup"_s, u"Other"_s}));
    const auto values = file->values(u"Software\\Dup"_s);
    QCOMPARE(values.size(), 3);
    // In Wine's order, each name as its first line spells it.
    QStringList names;
    for (const RegistryValue &value : values)
        names.append(value.name);
    QCOMPARE(names, (QStringList{u"A"_s, u"B"_s, u"C"_s}));
    QCOMPARE(values.at(0).text(), u"second"_s);
    // The later value replaces the earlier one but keeps its first spelling.
    QCOMPARE(file->value(u"software\\dup"_s, u"A"_s)->text(), u"second"_s);
    QCOMPARE(file->value(u"Software\\Dup"_s, u"B"_s)->dword(), std::optional<quint32>(2));
    QCOMPARE(file->value(u"Software\\Dup"_s, u"c"_s)->text(), u"c"_s);
    // Once edited, the two blocks become one.
    file->setValue(u"Software\\Dup"_s, RegistryValue::fromDword(u"D"_s, 4));
    QCOMPARE(file->read(u"Software\\Dup"_s, u"a"_s)->text, u"second"_s);
    std::optional<RegistryStore::Reading> many[2];
    const QString asked[] = {u"a"_s, u"d"_s};
    file->readMany(u"Software\\Dup"_s, asked, many);
    QCOMPARE(many[0]->text, u"second"_s);
    QCOMPARE(many[1]->data, QByteArray("\x04\0\0\0", 4));
    // Clean keys read in one pass; a name asked twice is found twice.
    std::optional<RegistryStore::Reading> twice[2];
    const QString askedTwice[] = {u"c"_s, u"C"_s};
    file->readMany(u"SOFTWARE\\Other"_s, askedTwice, twice);
    QVERIFY(!twice[0] && !twice[1]);
    parse("[K] 1\n\"C\"=\"c\"\n")->readMany(u"K"_s, askedTwice, twice);
    QCOMPARE(twice[0]->text, u"c"_s);
    QCOMPARE(twice[1], twice[0]);
    const QByteArray out = file->toBytes();
    QCOMPARE(out.count("[Software\\\\Dup]"), 1);
    QVERIFY(!out.contains("[SOFTWARE\\\\dup]"));
    auto again = WineRegistryFile::fromBytes(out, u"out"_s);
    QCOMPARE(again->values(u"Software\\Dup"_s), file->values(u"Software\\Dup"_s));
}

void TestWineRegistry::subkeyOrderAndImplicitKeys()
{
    // Written out of order; Wine lists subkeys by lower-case name ('_' before letters).
    auto file = parse("[Software\\\\Zeta\\\\Deep\\\\Leaf] 1\n\n[Software\\\\alpha] 1\n\n[Software\\\\Beta] 1\n");
    QCOMPARE(file->subkeyNames(u"Software"_s), (QStringList{u"alpha"_s, u"Beta"_s, u"Zeta"_s}));
    // Keys that exist only through their children's paths.
    QVERIFY(file->keyExists(u"Software\\Zeta\\Deep"_s));
    QCOMPARE(file->subkeyNames(u"Software\\Zeta"_s), QStringList{u"Deep"_s});
    QCOMPARE(file->subkeyNames(QString()), QStringList{u"Software"_s});
    file->createKey(u"Software\\_under"_s);
    file->createKey(u"software\\Gamma\\x"_s);
    file->createKey(u"SOFTWARE\\BETA"_s); // exists: nothing happens
    QCOMPARE(file->subkeyNames(u"Software"_s),
             (QStringList{u"_under"_s, u"alpha"_s, u"Beta"_s, u"Gamma"_s, u"Zeta"_s}));
    auto again = WineRegistryFile::fromBytes(file->toBytes(), u"out"_s);
    QCOMPARE(again->subkeyNames(u"Software"_s), file->subkeyNames(u"Software"_s));
    QVERIFY(again->keyExists(u"Software\\Gamma\\X"_s));
    QVERIFY(!file->keyExists(u"Software\\Missing"_s));
    QVERIFY(file->subkeyNames(u"Software\\Missing"_s).isEmpty());
    QVERIFY(!file->value(u"Software\\Missing"_s, QString()));
}

void TestWineRegistry::editRewritesOnlyEditedKeys()
{
    const QByteArray a = "[Software\\\\A] 1000\n#time=1\n\"x\"=\"1\"\n\n";
    const QByteArray b = "[Software\\\\B] 1000\n#time=1\n#class=\"cls\"\n\"y\"=\"2\"\n\n";
    const QByteArray c = "[Software\\\\C] 1000\n#time=1\n\"z\"=hex:01,\\\n  02\n";
    auto file = parse(a + b + c);
    QCOMPARE(file->toBytes(), wineRegistryFile(a + b + c));
    file->setValue(u"software\\b"_s, RegistryValue::fromText(u"Y"_s, u"3"_s));
    const QByteArray out = file->toBytes();
    QVERIFY(out.startsWith(QByteArray(wineRegistryFile(a) + "[Software\\\\B] ")));
    QVERIFY(out.endsWith(QByteArray("\n#class=\"cls\"\n\"y\"=\"3\"\n\n" + c)));
    // The fresh stamps are Wine's: unix seconds on the key line, FILETIME in #time.
    const QByteArray keyLine = "[Software\\\\B] ";
    const qsizetype line = out.indexOf(keyLine) + keyLine.size();
    const qint64 seconds = out.mid(line, out.indexOf('\n', line) - line).toLongLong();
    QVERIFY(qAbs(seconds - QDateTime::currentSecsSinceEpoch()) < 60);
    const qsizetype time = out.indexOf("#time=", line) + 6;
    bool ok = false;
    const quint64 filetime = out.mid(time, out.indexOf('\n', time) - time).toULongLong(&ok, 16);
    QVERIFY(ok);
    QVERIFY(qAbs(qint64(filetime / 10000000ULL) - 11644473600LL - seconds) <= 1);
}

void TestWineRegistry::deleteTree()
{
    auto file = parse("[Software\\\\A] 1\n\"v\"=\"1\"\n\n[Software\\\\A\\\\Sub] 1\n\n[Software\\\\B] 1\n\"w\"=\"2\"\n");
    file->deleteTree(u"SOFTWARE\\a"_s);
    file->deleteTree(u"Software\\Missing"_s);
    QCOMPARE(file->subkeyNames(u"Software"_s), QStringList{u"B"_s});
    auto again = WineRegistryFile::fromBytes(file->toBytes(), u"out"_s);
    QVERIFY(!again->keyExists(u"Software\\A"_s));
    QVERIFY(!again->keyExists(u"Software\\A\\Sub"_s));
    QCOMPARE(again->value(u"Software\\B"_s, u"w"_s)->text(), u"2"_s);
    // Deleting the last subkey leaves the parent, which Wine then writes.
    file->deleteTree(u"Software\\B"_s);
    auto empty = WineRegistryFile::fromBytes(file->toBytes(), u"out"_s);
    QVERIFY(empty->keyExists(u"Software"_s));
    QVERIFY(empty->subkeyNames(u"Software"_s).isEmpty());
}

void TestWineRegistry::links()
{
    auto file = parse("[Software\\\\Classes\\\\.txt] 1\n@=\"txtfile\"\n\n"
                      + linkKey("Software\\\\Wow6432Node\\\\Classes", u"\\Registry\\Machine\\Software\\Classes"_s)
                      + linkKey("Software\\\\Elsewhere", u"\\Registry\\User\\S-1-5-21"_s));
    QVERIFY(file->isLink(u"Software\\Wow6432Node\\Classes"_s));
    QCOMPARE(file->value(u"Software\\Wow6432Node\\Classes\\.TXT"_s, QString())->text(), u"txtfile"_s);
    QCOMPARE(file->subkeyNames(u"Software\\Wow6432Node\\Classes"_s), QStringList{u".txt"_s});
    // Writing through the link lands in the target.
    file->setValue(u"Software\\Wow6432Node\\Classes\\.log"_s, RegistryValue::fromText(QString(), u"logfile"_s));
    QCOMPARE(file->value(u"Software\\Classes\\.log"_s, QString())->text(), u"logfile"_s);
    QVERIFY(file->subkeyNames(u"Software\\Wow6432Node"_s) == QStringList{u"Classes"_s});
    // A link out of the hive leads nowhere here.
    QVERIFY(!file->keyExists(u"Software\\Elsewhere"_s));
    QVERIFY_THROWS_EXCEPTION(Error, file->createKey(u"Software\\Elsewhere\\x"_s));
    // Deleting a link deletes the link, not its target.
    file->deleteTree(u"Software\\Wow6432Node\\Classes"_s);
    QVERIFY(file->keyExists(u"Software\\Classes\\.txt"_s));
    QVERIFY(!file->isLink(u"Software\\Wow6432Node\\Classes"_s));
}

void TestWineRegistry::failingDevice()
{
    QByteArray body;
    for (int i = 0; i < 100; ++i)
        body += "[Software\\\\K" + QByteArray::number(i) + "] 1\n\"v\"=\"value\"\n\n";
    auto file = parse(body);
    file->setValue(u"Software\\K5"_s, RegistryValue::fromDword(u"n"_s, 5));
    FailingDevice device(1000);
    try {
        file->write(device);
        QFAIL("no error");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(u"test.reg"_s) && error.message().contains(u"No space"_s),
                 qPrintable(error.message()));
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    file->write(buffer);
    QCOMPARE(buffer.data(), file->toBytes());
    QVERIFY_THROWS_EXCEPTION(Error, file->save()); // no file behind it
}

void TestWineRegistry::saveKeepsModeAndDetectsChanges()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"system.reg"_s);
    QVERIFY(writeFileBytes(path, wineRegistryFile("[Software\\\\A] 1\n\"v\"=\"1\"\n")));
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0640) == 0);
    auto file = WineRegistryFile::open(path);
    QVERIFY(!file->changedOnDisk());
    file->save(); // nothing changed: nothing written
    file->setValue(u"Software\\A"_s, RegistryValue::fromText(u"v"_s, u"2"_s));
    file->save();
    struct stat st {};
    QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 0777, 0640u);
    QVERIFY(!file->changedOnDisk());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"system.reg"_s});
    QCOMPARE(WineRegistryFile::open(path)->value(u"Software\\A"_s, u"v"_s)->text(), u"2"_s);

    // Another program writes the file: seen by one stat, and an edit made on
    // the old state is refused rather than overwriting it.
    file->setValue(u"Software\\A"_s, RegistryValue::fromText(u"v"_s, u"mine"_s));
    QVERIFY(writeFileBytes(path, wineRegistryFile("[Software\\\\A] 1\n\"v\"=\"theirs\"\n\"w\"=\"new\"\n")));
    QVERIFY(file->changedOnDisk());
    QVERIFY_THROWS_EXCEPTION(Error, file->save());
    QCOMPARE(WineRegistryFile::open(path)->value(u"Software\\A"_s, u"v"_s)->text(), u"theirs"_s);
    file->reload();
    QVERIFY(!file->changedOnDisk());
    QCOMPARE(file->value(u"Software\\A"_s, u"w"_s)->text(), u"new"_s);

    // A reload that fails keeps what was loaded.
    QVERIFY(writeFileBytes(path, "not a registry"));
    QVERIFY_THROWS_EXCEPTION(Error, file->reload());
    QCOMPARE(file->value(u"Software\\A"_s, u"w"_s)->text(), u"new"_s);
}

QTEST_GUILESS_MAIN(TestWineRegistry)
#include "test_wine_registry.moc"
