// SPDX-License-Identifier: GPL-3.0-or-later
// The regedit export: each value type in regedit's own syntax (lines as
// Wine's regedit /e writes them), and whole files.
#include "host/Error.h"
#include "registry/RegeditExport.h"
#include "registry/RegistryValue.h"
#include "registry/WineRegistryFile.h"

#include "Utf16.h"
#include "WineRegistryText.h"

#include <QTest>
#include <QtEndian>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

Q_DECLARE_METATYPE(kelvane::RegistryValue)

namespace {

QByteArray counting(int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += char(i);
    return bytes;
}

QByteArray units(std::initializer_list<char16_t> list)
{
    QByteArray bytes;
    for (const char16_t unit : list) {
        bytes += char(unit & 0xff);
        bytes += char(unit >> 8);
    }
    return bytes;
}

} // namespace

class TestRegeditExport : public QObject
{
    Q_OBJECT

private slots:
    void value_data();
    void value();
    void wholeFile();
    void refused_data();
    void refused();
};

void TestRegeditExport::value_data()
{
    QTest::addColumn<RegistryValue>("value");
    QTest::addColumn<QString>("expected");

    const auto text = [](const QString &name, const QString &data) { return RegistryValue::fromText(name, data); };
    const auto bytes = [](const QString &name, quint32 type, const QByteArray &data) {
        return RegistryValue::fromBytes(name, type, data);
    };
    // Lines from Wine's regedit /e on the same values.
    QTest::newRow("default value") << text(QString(), u"default text"_s) << u"@=\"default text\""_s;
    QTest::newRow("escapes") << text(u"quote\"back\\slash"_s, u"a \"q\" b\\c"_s)
                             << u"\"quote\\\"back\\\\slash\"=\"a \\\"q\\\" b\\\\c\""_s;
    QTest::newRow("empty text") << text(u"empty"_s, QString()) << u"\"empty\"=\"\""_s;
    QTest::newRow("tab and Unicode, a pair of surrogates") << text(u"u \u00e9"_s, u"\u6f22\t\U0001F600"_s)
                                                          << u"\"u \u00e9\"=\"\u6f22\t\U0001F600\""_s;
    QTest::newRow("dword") << RegistryValue::fromDword(u"dw"_s, 0x12345678) << u"\"dw\"=dword:12345678"_s;
    QTest::newRow("dword, small") << RegistryValue::fromDword(u"dw"_s, 10) << u"\"dw\"=dword:0000000a"_s;
    QTest::newRow("qword") << bytes(u"qw"_s, RegQword, QByteArray::fromHex("efcdab8967452301"))
                           << u"\"qw\"=hex(b):ef,cd,ab,89,67,45,23,01"_s;
    QTest::newRow("expandable, continued")
        << RegistryValue::fromText(u"exp"_s, u"%SystemRoot%\\x"_s, RegExpandSz)
        << u"\"exp\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,\\\r\n"
           "  25,00,5c,00,78,00,00,00"_s;
    QTest::newRow("multi, continued")
        << bytes(u"multi"_s, RegMultiSz, test::utf16Bytes(u"one\0two\0three\0\0"_s))
        << u"\"multi\"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,74,00,68,00,72,\\\r\n"
           "  00,65,00,65,00,00,00,00,00"_s;
    QTest::newRow("binary, empty") << bytes(u"b0"_s, RegBinary, {}) << u"\"b0\"=hex:"_s;
    QTest::newRow("binary, to column 78 on one line")
        << bytes(u"b23"_s, RegBinary, counting(23))
        << u"\"b23\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16"_s;
    QTest::newRow("binary, one byte more")
        << bytes(u"b24"_s, RegBinary, counting(24))
        << u"\"b24\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n  17"_s;
    QTest::newRow("binary, two continuations")
        << bytes(u"b49"_s, RegBinary, counting(49))
        << u"\"b49\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
           "  17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,\\\r\n"
           "  30"_s;
    QTest::newRow("name past the wrap column") << bytes(QString(90, u'n'), RegBinary, counting(5))
                                               << u"\""_s + QString(90, u'n') + u"\"=hex:00,\\\r\n  01,02,03,04"_s;
    QTest::newRow("none") << bytes(u"none"_s, RegNone, QByteArray(2, '\0')) << u"\"none\"=hex(0):00,00"_s;
    QTest::newRow("big-endian dword") << bytes(u"be"_s, RegDwordBigEndian, QByteArray::fromHex("01000000"))
                                      << u"\"be\"=hex(5):01,00,00,00"_s;
    QTest::newRow("type 256") << bytes(u"big"_s, 0x100, QByteArray::fromHex("0102")) << u"\"big\"=hex(100):01,02"_s;
    QTest::newRow("type 0xffffffff") << bytes(u"big2"_s, 0xffffffffu, QByteArray::fromHex("0102"))
                                     << u"\"big2\"=hex(ffffffff):01,02"_s;
    // Kept byte for byte where Wine's regedit writes a string or a dword
    // that does not give the same bytes back.
    QTest::newRow("dword of three bytes") << bytes(u"dw3"_s, RegDword, QByteArray::fromHex("010203"))
                                          << u"\"dw3\"=hex(4):01,02,03"_s;
    QTest::newRow("text, no bytes") << bytes(u"s0"_s, RegSz, {}) << u"\"s0\"=hex(1):"_s;
    QTest::newRow("text, line break") << text(u"nl"_s, u"a\nb"_s) << u"\"nl\"=hex(1):61,00,0a,00,62,00,00,00"_s;
    QTest::newRow("text, carriage return") << text(u"cr"_s, u"a\r"_s) << u"\"cr\"=hex(1):61,00,0d,00,00,00"_s;
    QTest::newRow("text, control character") << text(u"c"_s, u"\x01"_s) << u"\"c\"=hex(1):01,00,00,00"_s;
    QTest::newRow("text, NUL inside") << bytes(u"nul"_s, RegSz, units({u'a', 0, u'b', 0}))
                                      << u"\"nul\"=hex(1):61,00,00,00,62,00,00,00"_s;
    QTest::newRow("text, no final NUL") << bytes(u"nonul"_s, RegSz, units({u'a', u'b'}))
                                        << u"\"nonul\"=hex(1):61,00,62,00"_s;
    QTest::newRow("text, odd byte") << bytes(u"odd"_s, RegSz, QByteArray::fromHex("610062"))
                                    << u"\"odd\"=hex(1):61,00,62"_s;
    QTest::newRow("text, lone surrogate") << bytes(u"ls"_s, RegSz, units({0xd800, u'a', 0}))
                                          << u"\"ls\"=hex(1):00,d8,61,00,00,00"_s;
}

void TestRegeditExport::value()
{
    QFETCH(RegistryValue, value);
    QFETCH(QString, expected);
    QCOMPARE(regeditValueText(value, u"Software\\K"_s), expected);
}

void TestRegeditExport::wholeFile()
{
    // Parent first, subkeys in the store's order (Wine's sorts them); a key
    // without values of its own still gets its section.
    const QByteArray keys = "[Software\\\\Other] 1\n\"x\"=\"1\"\n\n"
                            "[Software\\\\App] 1\n\"Name\"=\"A\"\n\n"
                            "[Software\\\\App\\\\Z\\\\Deep] 1\n@=dword:00000002\n\n"
                            "[Software\\\\App\\\\B] 1\n\n";
    const auto store = WineRegistryFile::fromBytes(test::wineRegistryFile(keys), u"test"_s);
    const QString text = u"\ufeffWindows Registry Editor Version 5.00\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\App]\r\n\"Name\"=\"A\"\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\App\\B]\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\App\\Z]\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\App\\Z\\Deep]\r\n@=dword:00000002\r\n\r\n"_s;
    const QByteArray bytes = regeditExport(*store, u"Software\\App"_s);
    QCOMPARE(bytes, test::utf16Bytes(text));
}

void TestRegeditExport::refused_data()
{
    QTest::addColumn<QByteArray>("keys");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing key") << QByteArray("[Software\\\\App] 1\n\n") << u"Software\\Gone"_s
                                 << u"HKEY_LOCAL_MACHINE\\Software\\Gone does not exist in test."_s;
    QTest::newRow("link in the subtree")
        << QByteArray("[Software\\\\App] 1\n\"v\"=\"1\"\n\n"
                      + test::linkKey("Software\\\\App\\\\L", u"\\Registry\\Machine\\Software\\App"_s))
        << u"Software\\App"_s << u"HKEY_LOCAL_MACHINE\\Software\\App\\L in test is a registry link"_s;
    QTest::newRow("line break in a key name")
        << QByteArray("[Software\\\\App\\\\a\\nb] 1\n\"v\"=\"1\"\n\n") << u"Software\\App"_s
        << u"A subkey of HKEY_LOCAL_MACHINE\\Software\\App in test has"_s;
    QTest::newRow("NUL in a value name")
        << QByteArray("[Software\\\\App] 1\n\"a\\0b\"=\"1\"\n\n") << u"Software\\App"_s
        << u"The value \"a b\" of HKEY_LOCAL_MACHINE\\Software\\App has a NUL"_s;
}

void TestRegeditExport::refused()
{
    QFETCH(QByteArray, keys);
    QFETCH(QString, path);
    QFETCH(QString, message);
    const auto store = WineRegistryFile::fromBytes(test::wineRegistryFile(keys), u"test"_s);
    try {
        regeditExport(*store, path);
        QFAIL("exported");
    } catch (const Error &error) {
        QVERIFY2(error.message().startsWith(message), qPrintable(error.message()));
    }
}

QTEST_GUILESS_MAIN(TestRegeditExport)
#include "test_regedit_export.moc"
