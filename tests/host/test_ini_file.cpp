// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/IniFile.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;
using kelvane::TIniFile;

using Values = QList<QByteArray>; // "key=value" of a section, in order

class TestIniFile : public QObject
{
    Q_OBJECT

    static Values entries(const TIniFile &ini, const QByteArray &section)
    {
        Values result;
        for (const QByteArray &key : ini.keys(section))
            result.append(key + '=' + ini.value(section, key).value_or("<none>"));
        return result;
    }

private slots:
    // The same bytes read as settings.ini and as a language file.
    void rules_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Values>("settings");
        QTest::addColumn<Values>("language");
        QTest::newRow("line breaks") << QByteArray("[s]\r\na=1\rb=2\0c=3\nd=4", 20)
                                     << Values{"a=1", "b=2", "c=3", "d=4"} << Values{"a=1", "b=2", "c=3", "d=4"};
        QTest::newRow("repeated section") << QByteArray("[s]\na=1\n[S]\nb=2\na=3\n") << Values{"a=1", "b=2"}
                                          << Values{"a=1"};
        QTest::newRow("bare name") << QByteArray("[s]\nbare\na=1\n") << Values{"a=1"} << Values{"bare=", "a=1"};
        QTest::newRow("quotes") << QByteArray("[s]\na=\"x y\"\nb=\"\nc=\"\"z\"\n")
                                << Values{"a=\"x y\"", "b=\"", "c=\"\"z\""} << Values{"a=x y", "b=\"", "c=\"z"};
        QTest::newRow("trimmed, comments, first key wins")
            << QByteArray("[ s ]\n  A = 1 \n;b=2\na=3\n") << Values{"A=1"} << Values{"A=1"};
        QTest::newRow("value buffer") << "[s]\na=" + QByteArray(3000, 'v') << Values{"a=" + QByteArray(3000, 'v')}
                                      << Values{"a=" + QByteArray(2047, 'v')};
    }

    void rules()
    {
        QFETCH(QByteArray, bytes);
        QTEST(entries(TIniFile::fromBytes(bytes), "s"), "settings");
        QTEST(entries(TIniFile::fromBytes(bytes, TIniFile::LanguageFileRules), "S"), "language");
    }

    void keyListBuffer()
    {
        // 15 names of 1091 bytes + NUL, and the final NUL: 16381 bytes; a 16th does not fit.
        QByteArray bytes = "[s]\n";
        for (int i = 0; i < 16; ++i)
            bytes += QByteArray::number(i).rightJustified(1091, 'k') + "=v\n";
        QCOMPARE(TIniFile::fromBytes(bytes, TIniFile::LanguageFileRules).keys("s").size(), 15);
        QCOMPARE(TIniFile::fromBytes(bytes).keys("s").size(), 16);
    }

    void writesAreSeenByLookups()
    {
        TIniFile ini = TIniFile::fromBytes("[a]\r\nx=1\r\n[b]\r\ny=2\r\n");
        QCOMPARE(ini.value("A", "X"), QByteArray("1")); // builds the index
        ini.writeValue("a", "X", "3");
        ini.writeValue("b", "z", "4");
        ini.writeValue("c", "w", "5");
        QCOMPARE(ini.value("a", "x"), QByteArray("3"));
        QCOMPARE(ini.value("B", "Z"), QByteArray("4"));
        QCOMPARE(ini.value("c", "w"), QByteArray("5"));
        QCOMPARE(ini.toBytes(), QByteArray("[a]\r\nX=3\r\n[b]\r\ny=2\r\nz=4\r\n[c]\r\nw=5\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "test_ini_file.moc"
