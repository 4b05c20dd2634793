// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/Error.h"
#include "inventory/Wildcard.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;
using kelvane::Wildcard;

class TestWildcard : public QObject
{
    Q_OBJECT

private slots:
    void matching_data();
    void matching();
    void invalid_data();
    void invalid();
};

void TestWildcard::matching_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("two stars, text") << u"**"_s << u"anything at all"_s << true;
    QTest::newRow("two stars, empty") << u"**"_s << QString() << true;
    QTest::newRow("filter in name") << u"*abc*"_s << u"abc tool"_s << true;
    QTest::newRow("whole text must match") << u"abc"_s << u"abcd"_s << false;
    QTest::newRow("letters ignore case") << u"abc"_s << u"AbC"_s << true;
    QTest::newRow("non-ASCII letters keep case") << u"\u00e9"_s << u"\u00c9"_s << false;
    QTest::newRow("question mark") << u"*a?c*"_s << u"xabcx"_s << true;
    QTest::newRow("question needs a character") << u"a?"_s << u"a"_s << false;
    QTest::newRow("question after star ignored") << u"*?"_s << QString() << true;
    QTest::newRow("question after stars ignored") << u"a*?*?b"_s << u"ab"_s << true;
    QTest::newRow("question not after star") << u"a?*b"_s << u"ab"_s << false;
    QTest::newRow("negated digits vs digits") << u"*[!0-9]*"_s << u"123"_s << false;
    QTest::newRow("negated digits vs letter") << u"*[!0-9]*"_s << u"12a3"_s << true;
    QTest::newRow("range ignores letter case") << u"[a-c]x"_s << u"Bx"_s << true;
    QTest::newRow("upper range, lower text") << u"[A-C]"_s << u"b"_s << true;
    QTest::newRow("set of singles") << u"[xyz]"_s << u"y"_s << true;
    QTest::newRow("set misses") << u"[xyz]"_s << u"a"_s << false;
    QTest::newRow("reversed range is empty") << u"[z-a]"_s << u"m"_s << false;
    QTest::newRow("bracket literal in set") << u"[[]"_s << u"["_s << true;
    QTest::newRow("close bracket outside set") << u"a]"_s << u"a]"_s << true;
    QTest::newRow("backtracking") << u"*a*b*c*"_s << u"xaXbYcZ"_s << true;
    QTest::newRow("backtracking fails on order") << u"*a*b*c*"_s << u"acb"_s << false;
    QTest::newRow("hotfix in a path") << u"*KB[0-9][0-9][0-9][0-9][0-9][0-9]*"_s
                                      << u"SOFTWARE\\x\\Uninstall\\Q925902_kb925902"_s << true;
    QTest::newRow("hotfix, five digits") << u"*KB[0-9][0-9][0-9][0-9][0-9][0-9]*"_s << u"KB12345"_s
                                         << false;
    QTest::newRow("thirty star groups") << u"*a"_s.repeated(30) << u"a"_s.repeated(30) << true;
    QTest::newRow("empty mask, empty text") << QString() << QString() << true;
    QTest::newRow("empty mask, text") << QString() << u"a"_s << false;
}

void TestWildcard::matching()
{
    QFETCH(QString, mask);
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(Wildcard(mask).matches(text), expected);
}

void TestWildcard::invalid_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("position");

    QTest::newRow("unclosed set") << u"*[*"_s << 2;
    QTest::newRow("unclosed at end") << u"ab["_s << 3;
    QTest::newRow("unclosed negated") << u"[!a"_s << 1;
    QTest::newRow("empty set") << u"a[]"_s << 3;
    QTest::newRow("empty negated set") << u"[!]"_s << 3;
    QTest::newRow("dash first") << u"[-a]"_s << 2;
    QTest::newRow("dash after range") << u"[a-c-e]"_s << 5;
    QTest::newRow("dash last") << u"[a-]"_s << 3;
    QTest::newRow("31 star groups") << u"*a"_s.repeated(31) << 61;
    QTest::newRow("31 groups of many stars") << u"**?x"_s.repeated(31) << 121;
}

void TestWildcard::invalid()
{
    QFETCH(QString, mask);
    QFETCH(int, position);
    try {
        Wildcard wildcard(mask);
        QFAIL("the mask was accepted");
    } catch (const kelvane::Error &error) {
        QCOMPARE(error.message(), u"'%1' is an invalid mask at (%2)"_s.arg(mask).arg(position));
    }
}

QTEST_GUILESS_MAIN(TestWildcard)
#include "test_wildcard.moc"
