// SPDX-License-Identifier: GPL-3.0-or-later
// Reading a Wine registry file as a scan does: key lines that share names
// with the line before, keys with many subkeys, and values read in one pass
// or checked only when they are read.
#include "registry/WineRegistryFile.h"

#include "WineRegistryText.h"

#include <QTest>

#include <functional>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane::test;
using kelvane::RegistryStore;
using kelvane::RegistryValue;
using kelvane::WineRegistryFile;

namespace {

const auto parse = parseWineRegistry;

} // namespace

class TestWineRegistryReading : public QObject
{
    Q_OBJECT

private slots:
    void keyLinesInSequence();
    void manySubkeys();
    void malformedHex_data();
    void malformedHex();
};

// Each key line names its keys in full, whatever the line before named.
void TestWineRegistryReading::keyLinesInSequence()
{
    auto file = parse("[A\\\\B] 1\n\n[A\\\\BC] 1\n\n[A\\\\B\\\\C] 1\n\n[A] 1\n\n[a\\\\b\\\\D] 1\n\n"
                      "[A\\\\\\x00e9\\\\E] 1\n\n[A\\\\\\xe9\\\\F] 1\n\n[A\\\\\\\\B\\\\G] 1\n\n[A\\\\B\\\\C\\\\] 1\n\"v\"=dword:1\n");
    std::function<QStringList(const QString &)> tree = [&](const QString &path) {
        QStringList all;
        for (const QString &name : file->subkeyNames(path)) {
            const QString child = path.isEmpty() ? name : path + u'\\' + name;
            all << child << tree(child);
        }
        return all;
    };
    QCOMPARE(tree(QString()), (QStringList{u"A"_s, u"A\\B"_s, u"A\\B\\C"_s, u"A\\B\\D"_s, u"A\\B\\G"_s,
                                           u"A\\BC"_s, u"A\\\u00e9"_s, u"A\\\u00e9\\E"_s, u"A\\\u00e9\\F"_s}));
    QCOMPARE(file->value(u"a\\b\\c"_s, u"v"_s)->dword(), std::optional<quint32>(1));
}

// A key with many subkeys finds them by hash, until an edit changes them.
void TestWineRegistryReading::manySubkeys()
{
    QByteArray body;
    for (int i = 0; i < 100; ++i)
        body += "[K\\\\Sub" + QByteArray::number(i) + "] 1\n\"N\"=dword:" + QByteArray::number(i, 16) + "\n\n";
    body += "[K\\\\\\xc4hnlich] 1\n\n";
    auto file = parse(body);
    QCOMPARE(file->subkeyNames(u"K"_s).size(), 101);
    QCOMPARE(file->value(u"k\\SUB42"_s, u"n"_s)->dword(), std::optional<quint32>(42));
    QVERIFY(file->keyExists(u"K\\\u00e4HNLICH"_s));
    QVERIFY(!file->keyExists(u"K\\Sub100"_s));
    QVERIFY(!file->keyExists(u"K\\Sub4"_s + QChar(0x2082)));
    file->deleteTree(u"K\\sub42"_s);
    QVERIFY(!file->keyExists(u"K\\Sub42"_s));
    file->createKey(u"K\\Sub100"_s);
    QVERIFY(file->keyExists(u"k\\sub100"_s));
    QVERIFY(file->keyExists(u"K\\Sub99"_s));
}

// Texts and hex data are only checked when they are read, and a malformed
// value must still be left out exactly as Wine leaves it out, whichever is
// asked first.
void TestWineRegistryReading::malformedHex_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::addColumn<QStringList>("kept"); // the names values() lists, in order
    QTest::addColumn<QByteArray>("x"); // the data of "X"; empty when it is left out

    QTest::newRow("continued as Wine writes it") << QByteArray("\"A\"=hex:0g,\\\n  01\n\"X\"=hex:05\n")
                                                 << QStringList{u"X"_s} << QByteArray("\x05");
    QTest::newRow("bad on a continuation line") << QByteArray("\"X\"=hex:01,\\\n  zz,02\n\"Y\"=dword:1\n")
                                                << QStringList{u"Y"_s} << QByteArray();
    QTest::newRow("a value line after a continuation")
        << QByteArray("\"A\"=hex:zz,\\\n\"X\"=hex:07\n") << QStringList{u"X"_s} << QByteArray("\x07");
    QTest::newRow("defined again, malformed") << QByteArray("\"X\"=hex:01\n\"x\"=hex:0g\n") << QStringList{u"X"_s}
                                              << QByteArray("\x01");
    QTest::newRow("malformed, then defined") << QByteArray("\"x\"=hex:,\n\"X\"=hex:02\n") << QStringList{u"X"_s}
                                             << QByteArray("\x02");
    QTest::newRow("unterminated text") << QByteArray("\"A\"=\"open\n\"X\"=hex:03\n\"Y\"=\"no end\\\"\n")
                                       << QStringList{u"X"_s} << QByteArray("\x03");
}

void TestWineRegistryReading::malformedHex()
{
    QFETCH(QByteArray, lines);
    QFETCH(QStringList, kept);
    QFETCH(QByteArray, x);
    const QByteArray bytes = "[K] 1\n#time=1\n" + lines + "\n[L] 1\n";
    auto byName = parse(bytes);
    const auto value = byName->value(u"K"_s, u"x"_s);
    QCOMPARE(value ? value->data : QByteArray(), x);
    auto listed = parse(bytes);
    QStringList names;
    for (const RegistryValue &v : listed->values(u"K"_s))
        names.append(v.name);
    QCOMPARE(names, kept);
    QCOMPARE(byName->values(u"K"_s), listed->values(u"K"_s));
    // Read alone or in one pass, as the values read whole.
    const QString asked[] = {u"A"_s, u"X"_s, u"y"_s};
    std::optional<RegistryStore::Reading> many[3];
    parse(bytes)->readMany(u"K"_s, asked, many);
    for (int i = 0; i < 3; ++i) {
        const auto whole = parse(bytes)->value(u"K"_s, asked[i]);
        const auto expected = whole ? std::optional(RegistryStore::Reading::of(*whole)) : std::nullopt;
        QCOMPARE(parse(bytes)->read(u"K"_s, asked[i]), expected);
        QCOMPARE(many[i], expected);
    }
}

QTEST_GUILESS_MAIN(TestWineRegistryReading)
#include "test_wine_registry_reading.moc"
