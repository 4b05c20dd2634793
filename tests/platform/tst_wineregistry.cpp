#include "WineTestEnvironment.h"
#include "platform/Error.h"
#include "platform/WineRegistryFile.h"
#include "platform/WineServerLock.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using kelvane::Error;
using kelvane::RegistryValue;
using kelvane::WineRegistryFile;

namespace {

const QByteArray preamble = QByteArrayLiteral("WINE REGISTRY Version 2\n;; All keys relative to \\\\Registry\\\\Machine\n\n#arch=win64\n");

QByteArray regFile(const QByteArray &body)
{
    return preamble + "\n" + body;
}

std::unique_ptr<WineRegistryFile> parse(const QByteArray &body)
{
    return WineRegistryFile::fromBytes(regFile(body), u"test.reg"_s);
}

QByteArray utf16(const QString &text)
{
    return RegistryValue::fromText(QString(), text).data;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

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

// Takes the server lock of a prefix in a child process (fcntl locks are per
// process, so our own lock would not show), the way a running wineserver does.
class LockHolder
{
public:
    explicit LockHolder(const QString &lockFile)
    {
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(m_release) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            const int fd = ::open(QFile::encodeName(lockFile).constData(), O_RDWR | O_CREAT, 0600);
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            fl.l_len = 1;
            const char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? 1 : 0;
            (void)!::write(ready[1], &ok, 1);
            char c;
            (void)!::read(m_release[0], &c, 1);
            ::_exit(0);
        }
        char ok = 0;
        m_locked = ::read(ready[0], &ok, 1) == 1 && ok == 1;
        ::close(ready[0]);
        ::close(ready[1]);
    }
    ~LockHolder()
    {
        if (m_pid > 0) {
            (void)!::write(m_release[1], "x", 1);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_release[0]);
        ::close(m_release[1]);
    }
    bool locked() const { return m_locked; }

private:
    int m_release[2] = {-1, -1};
    pid_t m_pid = -1;
    bool m_locked = false;
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
    void deepNesting();
    void implausibleKeyCounts_data();
    void implausibleKeyCounts();
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
    void linkLoopsAreBounded();
    void failingDevice();
    void saveKeepsModeAndDetectsChanges();
    void refusesWhileServerLockHeld();
    void realWinePrefix();
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
    QCOMPARE(value->data, utf16(text));
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

static QByteArray linkKey(const QByteArray &name, const QString &target);

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

void TestWineRegistry::deepNesting()
{
    // A hostile file may nest keys far deeper than any call stack.
    constexpr int depth = 200000;
    QByteArray line = "[k";
    line.reserve(3 * depth + 16);
    for (int i = 1; i < depth; ++i)
        line += "\\\\k";
    line += "] 1\n\"v\"=\"deep\"\n";
    auto file = parse(line);
    QVERIFY(file->keyExists(u"k"_s));
    file->setValue(u"k"_s, RegistryValue::fromDword(u"n"_s, 1));
    const QByteArray out = file->toBytes();
    QVERIFY(out.contains("\"v\"=\"deep\""));
    file.reset(); // takes the tree apart without recursion
}

void TestWineRegistry::implausibleKeyCounts_data()
{
    // Far more keys than Wine writes in so many bytes: indexing them would
    // take many times the file's size, so the file is refused.
    QTest::addColumn<QByteArray>("body");
    QByteArray keys;
    for (int i = 0; i < 1'000'000; ++i)
        keys += "[" + QByteArray::number(i, 36) + "]\n";
    QTest::newRow("a key line every few bytes") << keys;
    QTest::newRow("keys nested in one line") << "[k" + QByteArray("\\\\k").repeated(1'000'000) + "]\n";
}

void TestWineRegistry::implausibleKeyCounts()
{
    QFETCH(QByteArray, body);
    try {
        parse(body);
        QFAIL("read");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(u"test.reg names far more registry keys"_s), qPrintable(error.message()));
    }
}

void TestWineRegistry::valueForms_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint32>("type");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("string") << QByteArray(R"("S"="text")") << u"S"_s << 1u << utf16(u"text"_s);
    QTest::newRow("empty string") << QByteArray(R"("S"="")") << u"S"_s << 1u << utf16(QString());
    QTest::newRow("default value") << QByteArray(R"(@="d")") << QString() << 1u << utf16(u"d"_s);
    QTest::newRow("expand string") << QByteArray(R"("E"=str(2):"%ProgramFiles%\\x")") << u"E"_s << 2u
                                   << utf16(u"%ProgramFiles%\\x"_s);
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
    QTest::newRow("space around equals") << QByteArray("\"S\" = \"x\"") << u"S"_s << 1u << utf16(u"x"_s);
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
    QTest::newRow("multi") << RegistryValue::fromBytes(u"M"_s, kelvane::RegMultiSz, utf16(u"a"_s) + utf16(QString()))
                           << QByteArray(R"("M"=str(7):"a\0")");
    QTest::newRow("string without final NUL") << RegistryValue::fromBytes(u"S"_s, kelvane::RegSz, QByteArray("a\0", 2).left(1))
                                              << QByteArray("\"S\"=hex(1):61");
    QTest::newRow("dword") << RegistryValue::fromDword(u"D"_s, 0xc6f4) << QByteArray("\"D\"=dword:0000c6f4");
    QTest::newRow("short dword") << RegistryValue::fromBytes(u"D"_s, kelvane::RegDword, QByteArray("\x01"))
                                 << QByteArray("\"D\"=hex(4):01");
    QTest::newRow("empty binary") << RegistryValue::fromBytes(u"B"_s, kelvane::RegBinary, {}) << QByteArray("\"B\"=hex:");
    // As Wine 8 wrote it into a fresh prefix.
    QTest::newRow("wrapped like Wine") << RegistryValue::fromBytes(u"SymbolicLinkValue"_s, kelvane::RegLink,
                                                                   utf16(u"\\Registry\\Machine\\Software\\Classes\\AppId"_s).chopped(2))
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
    const QString data = QStringLiteral(KELVANE_TEST_DATA) + u"/platform/"_s;
    auto file = WineRegistryFile::open(data + u"malformed.reg"_s);
    // Values under a key line without its ']' are skipped with it.
    QVERIFY(!file->keyExists(u"Software\\Broken"_s));
    QCOMPARE(file->values(u"Software\\Good"_s).size(), 1);
    QCOMPARE(file->value(u"Software\\Good"_s, u"Kept"_s)->text(), u"yes"_s);
    QVERIFY(file->keyExists(u"Software\\Escapes"_s));
    QVERIFY(file->values(u"Software\\Escapes"_s).isEmpty());
    QCOMPARE(file->toBytes(), readAll(data + u"malformed.reg"_s));

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
    const QString path = QStringLiteral(KELVANE_TEST_DATA) + u"/platform/"_s + file;
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
    const QString path = QStringLiteral(KELVANE_TEST_DATA) + u"/platform/crlf.reg"_s;
    const QByteArray original = readAll(path);
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
    QCOMPARE(file->toBytes(), regFile(a + b + c));
    file->setValue(u"software\\b"_s, RegistryValue::fromText(u"Y"_s, u"3"_s));
    const QByteArray out = file->toBytes();
    QVERIFY(out.startsWith(QByteArray(regFile(a) + "[Software\\\\B] ")));
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

static QByteArray linkKey(const QByteArray &name, const QString &target)
{
    QByteArray hex;
    const QByteArray data = utf16(target).chopped(2);
    for (char c : data)
        hex += QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0') + ',';
    hex.chop(1);
    return "[" + name + "] 1\n#time=1\n#link\n\"SymbolicLinkValue\"=hex(6):" + hex + "\n\n";
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

void TestWineRegistry::linkLoopsAreBounded()
{
    QByteArray body = linkKey("Loop\\\\A", u"\\Registry\\Machine\\Loop\\B"_s)
        + linkKey("Loop\\\\B", u"\\Registry\\Machine\\Loop\\A"_s)
        + linkKey("Loop\\\\Self", u"\\REGISTRY\\MACHINE\\Loop\\Self\\Deeper"_s);
    // A chain of 16 links still resolves; one more is treated as missing.
    for (int i = 0; i < 17; ++i)
        body += linkKey("Chain\\\\L" + QByteArray::number(i), u"\\Registry\\Machine\\Chain\\L%1"_s.arg(i + 1));
    body += "[Chain\\\\L17] 1\n\"end\"=\"yes\"\n";
    auto file = parse(body);
    QVERIFY(!file->keyExists(u"Loop\\A"_s));
    QVERIFY(!file->keyExists(u"Loop\\A\\x"_s));
    QVERIFY(!file->keyExists(u"Loop\\Self"_s));
    QVERIFY(file->values(u"Loop\\B"_s).isEmpty());
    QVERIFY_THROWS_EXCEPTION(Error, file->setValue(u"Loop\\A\\x"_s, RegistryValue::fromDword(u"d"_s, 1)));
    QCOMPARE(file->value(u"Chain\\L1"_s, u"end"_s)->text(), u"yes"_s);
    QVERIFY(!file->keyExists(u"Chain\\L0"_s));
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
    writeAll(path, regFile("[Software\\\\A] 1\n\"v\"=\"1\"\n"));
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
    writeAll(path, regFile("[Software\\\\A] 1\n\"v\"=\"theirs\"\n\"w\"=\"new\"\n"));
    QVERIFY(file->changedOnDisk());
    QVERIFY_THROWS_EXCEPTION(Error, file->save());
    QCOMPARE(WineRegistryFile::open(path)->value(u"Software\\A"_s, u"v"_s)->text(), u"theirs"_s);
    file->reload();
    QVERIFY(!file->changedOnDisk());
    QCOMPARE(file->value(u"Software\\A"_s, u"w"_s)->text(), u"new"_s);

    // A reload that fails keeps what was loaded.
    writeAll(path, "not a registry");
    QVERIFY_THROWS_EXCEPTION(Error, file->reload());
    QCOMPARE(file->value(u"Software\\A"_s, u"w"_s)->text(), u"new"_s);
}

void TestWineRegistry::refusesWhileServerLockHeld()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString prefix = tmp.filePath(u"prefix"_s);
    QVERIFY(QDir().mkpath(prefix));
    const QString path = prefix + u"/system.reg"_s;
    writeAll(path, regFile("[Software\\\\A] 1\n\"v\"=\"1\"\n"));
    // Debian's layout: $TMPDIR/<name from the prefix's wineserver file>/server-<dev>-<ino>.
    writeAll(prefix + u"/wineserver"_s, "wine-kelvanetest\n");
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    const QString server = kelvane::WineServerLock::serverFolder(prefix);
    QVERIFY2(server.startsWith(tmp.path() + u"/wine-kelvanetest/server-"_s), qPrintable(server));
    QVERIFY(QDir().mkpath(server));

    auto file = WineRegistryFile::open(path);
    file->checkWritable(); // a lock file nobody holds is a stopped server
    file->setValue(u"Software\\A"_s, RegistryValue::fromText(u"v"_s, u"2"_s));
    const QByteArray before = readAll(path);
    {
        LockHolder holder(server + u"/lock"_s);
        QVERIFY(holder.locked());
        try {
            file->checkWritable();
            QFAIL("no error");
        } catch (const Error &error) {
            QVERIFY2(error.message().contains(u"wineserver"_s) && error.message().contains(prefix),
                     qPrintable(error.message()));
        }
        QVERIFY_THROWS_EXCEPTION(Error, file->save());
        QCOMPARE(readAll(path), before);
    }
    file->save();
    QCOMPARE(WineRegistryFile::open(path)->value(u"Software\\A"_s, u"v"_s)->text(), u"2"_s);
    qunsetenv("TMPDIR");
}

// Turns timestamps into placeholders, so files written at other times compare.
static QByteArray withoutStamps(const QByteArray &bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray &line : lines) {
        if (line.startsWith('[') && line.lastIndexOf("] ") > 0)
            line = line.left(line.lastIndexOf("] ") + 2) + 'T';
        else if (line.startsWith("#time="))
            line = "#time=T";
    }
    return lines.join('\n');
}

static void touchAll(WineRegistryFile &file, const QString &path)
{
    const auto values = file.values(path);
    if (!values.isEmpty() && !file.isLink(path))
        file.setValue(path, values.first());
    for (const QString &name : file.subkeyNames(path)) {
        const QString child = path.isEmpty() ? name : path + u'\\' + name;
        if (!file.isLink(child))
            touchAll(file, child);
    }
}

void TestWineRegistry::realWinePrefix()
{
    const QString wine = QStandardPaths::findExecutable(u"wine"_s);
    const QString wineserver = QStandardPaths::findExecutable(u"wineserver"_s);
    if (wine.isEmpty() || wineserver.isEmpty())
        QSKIP("wine is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString prefix = dir.filePath(u"prefix"_s);
    const QProcessEnvironment env = kelvane::test::wineTestEnvironment(prefix);
    auto run = [&](const QString &program, const QStringList &args, QByteArray *output = nullptr) {
        QProcess process;
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, args);
        if (!process.waitForFinished(180000))
            return -1;
        if (output)
            *output = process.readAll();
        return process.exitCode();
    };
    QCOMPARE(run(u"wineboot"_s, {u"-i"_s}), 0);
    QCOMPARE(run(wineserver, {u"-w"_s}), 0);
    const QString path = prefix + u"/system.reg"_s;
    const QByteArray original = readAll(path);
    QVERIFY(original.startsWith("WINE REGISTRY Version 2\n"));

    // Every key rewritten by us comes out as Wine wrote it, but for the stamps.
    {
        auto all = WineRegistryFile::open(path);
        QCOMPARE(all->toBytes(), original);
        QVERIFY(all->keyExists(u"Software\\Microsoft\\Windows NT\\CurrentVersion"_s));
        QVERIFY(all->isLink(u"Software\\Classes\\Wow6432Node\\AppId"_s));
        QCOMPARE(all->subkeyNames(u"Software\\Classes\\Wow6432Node\\AppId"_s),
                 all->subkeyNames(u"Software\\Classes\\AppId"_s));
        touchAll(*all, QString());
        QCOMPARE(withoutStamps(all->toBytes()), withoutStamps(original));
    }

    // Our edit: only the new key's block is added, and Wine reads it.
    auto file = WineRegistryFile::open(path);
    file->checkWritable();
    file->setValue(u"Software\\Kelvane\\Test"_s, RegistryValue::fromText(u"Name"_s, u"Wert \"x\""_s));
    file->setValue(u"Software\\Kelvane\\Test"_s, RegistryValue::fromDword(u"Count"_s, 42));
    file->save();
    const QByteArray edited = readAll(path);
    const qsizetype begin = edited.indexOf("[Software\\\\Kelvane\\\\Test]");
    QVERIFY(begin > 0);
    const qsizetype end = edited.indexOf("\n[", begin) + 1;
    QCOMPARE(edited.left(begin) + edited.mid(end), original);
    QByteArray output;
    QCOMPARE(run(wine, {u"reg"_s, u"query"_s, u"HKLM\\Software\\Kelvane\\Test"_s}, &output), 0);
    QVERIFY2(output.contains("Wert \"x\"") && output.contains("0x2a"), output.constData());
    QCOMPARE(run(wineserver, {u"-w"_s}), 0);

    // Wine's edit is seen after a reload, ours stays.
    QCOMPARE(run(wine, {u"reg"_s, u"add"_s, u"HKLM\\Software\\Kelvane\\Test"_s, u"/v"_s, u"Added"_s, u"/t"_s,
                        u"REG_DWORD"_s, u"/d"_s, u"7"_s, u"/f"_s}),
             0);
    QCOMPARE(run(wineserver, {u"-w"_s}), 0);
    QVERIFY(file->changedOnDisk());
    file->reload();
    QCOMPARE(file->value(u"Software\\Kelvane\\Test"_s, u"Added"_s)->dword(), std::optional<quint32>(7));
    QCOMPARE(file->value(u"Software\\Kelvane\\Test"_s, u"count"_s)->dword(), std::optional<quint32>(42));

    // While a wineserver serves the prefix, nothing is written.
    QCOMPARE(run(wineserver, {u"-p"_s}), 0);
    file->setValue(u"Software\\Kelvane\\Test"_s, RegistryValue::fromDword(u"Lost"_s, 1));
    const QByteArray beforeServer = readAll(path);
    QVERIFY_THROWS_EXCEPTION(Error, file->checkWritable());
    try {
        file->save();
        QFAIL("saved while a wineserver runs");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(u"wineserver"_s), qPrintable(error.message()));
    }
    QCOMPARE(readAll(path), beforeServer);
    QCOMPARE(run(wineserver, {u"-k"_s}), 0);
    QCOMPARE(run(wineserver, {u"-w"_s}), 0);
    // The stopping server wrote the file: our old state is not saved over it.
    QVERIFY(file->changedOnDisk());
    QVERIFY_THROWS_EXCEPTION(Error, file->save());
    file->reload();
    file->checkWritable();
    file->setValue(u"Software\\Kelvane\\Test"_s, RegistryValue::fromDword(u"Lost"_s, 1));
    file->save();
    QCOMPARE(run(wine, {u"reg"_s, u"query"_s, u"HKLM\\Software\\Kelvane\\Test"_s, u"/v"_s, u"Lost"_s}, &output), 0);
    QCOMPARE(run(wineserver, {u"-w"_s}), 0);
}

QTEST_GUILESS_MAIN(TestWineRegistry)
#include "tst_wineregistry.moc"
