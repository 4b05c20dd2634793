// SPDX-License-Identifier: GPL-3.0-or-later
#include "inventory/NameOrder.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;
using kelvane::NameOrder;

class TestNameOrder : public QObject
{
    Q_OBJECT

private slots:
    void order_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        // Letter case matters only between names that are otherwise equal.
        QTest::newRow("case ignored first") << u"C"_s << u"apple"_s << u"Banana"_s;
        QTest::newRow("upper after lower") << u"C"_s << u"banana"_s << u"Banana"_s;
        // Linguistic, not code points: an accented letter sorts with its base letter.
        QTest::newRow("accent with base letter") << u"C"_s << u"\u00e9clair"_s << u"Fax"_s;
        QTest::newRow("digits before letters") << u"C"_s << u"7-Zip"_s << u"Adobe"_s;
        QTest::newRow("prefix first") << u"C"_s << u"Office"_s << u"Office Tools"_s;
        // Qt collates code points for these; the order must stay linguistic.
        QTest::newRow("POSIX locale") << u"POSIX"_s << u"\u00e9clair"_s << u"Fax"_s;
        QTest::newRow("undetermined locale") << u"und"_s << u"\u00c9clair"_s << u"Fax"_s;
        QTest::newRow("accent after plain on ties") << u"C"_s << u"eclair"_s << u"\u00e9clair"_s;
        QTest::newRow("user locale") << u"de_DE"_s << u"\u00c4rger"_s << u"Bahn"_s;
    }

    void order()
    {
        QFETCH(QString, locale);
        QFETCH(QString, before);
        QFETCH(QString, after);
        const NameOrder order{QLocale(locale)};
        QVERIFY2(order.compare(before, after) < 0, qPrintable(before + u" < "_s + after));
        QVERIFY(order.compare(after, before) > 0);
        QCOMPARE(order.compare(before, before), 0);
    }
};

QTEST_GUILESS_MAIN(TestNameOrder)
#include "test_name_order.moc"
