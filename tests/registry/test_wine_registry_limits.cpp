// SPDX-License-Identifier: GPL-3.0-or-later
// Registries made to exhaust the reader: keys nested deeper than any call
// stack, far more keys than the file's size allows, links that loop.
#include "host/Error.h"
#include "registry/WineRegistryFile.h"

#include "WineRegistryText.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane::test;
using kelvane::Error;
using kelvane::RegistryValue;
using kelvane::WineRegistryFile;

namespace {

const auto parse = parseWineRegistry;

} // namespace

class TestWineRegistryLimits : public QObject
{
    Q_OBJECT

private slots:
    void deepNesting();
    void implausibleKeyCounts_data();
    void implausibleKeyCounts();
    void linkLoopsAreBounded();
};

void TestWineRegistryLimits::deepNesting()
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

void TestWineRegistryLimits::implausibleKeyCounts_data()
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

void TestWineRegistryLimits::implausibleKeyCounts()
{
    QFETCH(QByteArray, body);
    try {
        parse(body);
        QFAIL("read");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(u"test.reg names far more registry keys"_s), qPrintable(error.message()));
    }
}

void TestWineRegistryLimits::linkLoopsAreBounded()
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

QTEST_GUILESS_MAIN(TestWineRegistryLimits)
#include "test_wine_registry_limits.moc"
