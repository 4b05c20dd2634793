// SPDX-License-Identifier: GPL-3.0-or-later
#include "MemoryRegistryStore.h"
#include "host/Error.h"
#include "inventory/RegistryAccess.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;
using kelvane::Error;
using kelvane::RegistryAccess;
using kelvane::RegistryValue;
using kelvane::test::MemoryRegistryStore;

class TestRegistryAccess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void paths();
    void readErrors_data();
    void readErrors();
    void readBytes();
    void unicodeSurvives();
    void writes();
    void refusedWrite();
    void failedSave();
    void deleteTree();

private:
    MemoryRegistryStore m_store;
};

void TestRegistryAccess::init()
{
    m_store = MemoryRegistryStore();
    m_store.setText(u"Software\\Vendor\\App"_s, u"Name"_s, u"Tool"_s);
    m_store.setDword(u"Software\\Vendor\\App"_s, u"Size"_s, 0xFFFFFFFFu);
    m_store.setText(u"Software\\Vendor\\Other"_s, u"Name"_s, u"Other"_s);
    m_store.commit();
}

void TestRegistryAccess::paths()
{
    RegistryAccess access(m_store);
    QVERIFY(access.OpenForRead(u"Software"_s)); // relative to the hive
    QVERIFY(access.OpenForRead(u"vendor\\APP"_s)); // relative to the current key
    QCOMPARE(access.CurrentKeyPath(), u"Software\\vendor\\APP"_s);
    QCOMPARE(access.ReadText(u"name"_s), u"Tool"_s);

    QVERIFY(!access.OpenForRead(u"\\Software\\Missing"_s));
    QCOMPARE(access.CurrentKeyPath(), u"Software\\vendor\\APP"_s); // failure keeps the key

    QVERIFY(access.OpenForRead(u"\\Software\\Vendor\\Other"_s));
    QCOMPARE(access.ReadText(u"Name"_s), u"Other"_s);
    QVERIFY(!access.KeyPresent(u"App"_s)); // relative to Other, which has no subkey
    QVERIFY(access.KeyPresent(u"\\Software\\Vendor\\App"_s));
    QVERIFY(!access.KeyPresent(u"\\Software\\\\Vendor"_s));

    QVERIFY(access.OpenForRead(u"\\Software"_s));
    QCOMPARE(access.SubkeyNames(), QStringList{u"Vendor"_s});
    access.CloseCurrent();
    QVERIFY(access.SubkeyNames().isEmpty());
    QVERIFY(!access.HasValue(u"Name"_s));
}

void TestRegistryAccess::readErrors_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("name");

    QTest::newRow("number missing") << u"number"_s << u"Missing"_s;
    QTest::newRow("number from text") << u"number"_s << u"Name"_s;
    QTest::newRow("flag from text") << u"flag"_s << u"Name"_s;
    QTest::newRow("text from number") << u"text"_s << u"Size"_s;
    QTest::newRow("bytes from text") << u"bytes"_s << u"Name"_s;
}

void TestRegistryAccess::readErrors()
{
    QFETCH(QString, operation);
    QFETCH(QString, name);
    RegistryAccess access(m_store);
    QVERIFY(access.OpenForRead(u"\\Software\\Vendor\\App"_s));
    try {
        if (operation == u"number")
            access.ReadNumber(name);
        else if (operation == u"flag")
            access.ReadFlag(name);
        else if (operation == u"text")
            access.ReadText(name);
        else
            access.ReadBytes(name, 100);
        QFAIL("no error");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(u"Software\\Vendor\\App"_s), qPrintable(error.message()));
        QVERIFY2(error.message().contains(u'"' + name + u'"'), qPrintable(error.message()));
    }
}

void TestRegistryAccess::readBytes()
{
    m_store.setBytes(u"Key"_s, u"Blob"_s, kelvane::RegBinary, QByteArray(10, 'x'));
    RegistryAccess access(m_store);
    QVERIFY(access.OpenForRead(u"Key"_s));
    QCOMPARE(access.ReadBytes(u"Blob"_s, 10), QByteArray(10, 'x'));
    QVERIFY(access.ReadBytes(u"Missing"_s, 10).isEmpty());
    QVERIFY_THROWS_EXCEPTION(Error, access.ReadBytes(u"Blob"_s, 9));
    m_store.setBytes(u"Key"_s, u"Number"_s, kelvane::RegQword, QByteArray(8, '\0'));
    QVERIFY_THROWS_EXCEPTION(Error, access.ReadNumber(u"Number"_s)); // only 32-bit numbers
}

void TestRegistryAccess::unicodeSurvives()
{
    const QString name = u"\u65e5\u672c\u8a9e \U0001F600 \u0416"_s;
    RegistryAccess access(m_store);
    QVERIFY(access.OpenForWrite(u"\\Software\\" + name));
    access.WriteText(u"DisplayName"_s, name);
    MemoryRegistryStore reread = m_store;
    reread.reload(); // what is on disk
    QCOMPARE(reread.value(u"Software\\" + name, u"DisplayName"_s)->text(), name);
}

void TestRegistryAccess::writes()
{
    RegistryAccess access(m_store);
    QVERIFY(access.OpenForWrite(u"\\Software\\New\\Deep"_s));
    QCOMPARE(m_store.saveCount, 1); // the created key is on disk at once
    access.WriteText(u"Empty"_s, QString());
    QCOMPARE(m_store.saveCount, 2);
    const auto value = m_store.value(u"Software\\New\\Deep"_s, u"Empty"_s);
    QVERIFY(value);
    QCOMPARE(value->type, quint32(kelvane::RegSz));
    QCOMPARE(value->text(), QString());
    QVERIFY(access.OpenForWrite(u"\\Software\\Vendor\\App"_s));
    QCOMPARE(m_store.saveCount, 2); // opening an existing key writes nothing
}

void TestRegistryAccess::refusedWrite()
{
    RegistryAccess access(m_store);
    QVERIFY(access.OpenForRead(u"\\Software\\Vendor\\App"_s));
    m_store.refuseWrites = true;
    QVERIFY_THROWS_EXCEPTION(Error, access.WriteText(u"Name"_s, u"Changed"_s));
    try {
        access.OpenForWrite(u"\\Software\\Vendor\\App"_s);
        QFAIL("a refused open for writing was reported as success");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(u"Software\\Vendor\\App"_s), qPrintable(error.message()));
        QVERIFY2(error.message().contains(u"wineserver"_s), qPrintable(error.message()));
    }
    QVERIFY_THROWS_EXCEPTION(Error, access.DeleteTree(u"\\Software\\Vendor"_s));
    QCOMPARE(m_store.value(u"Software\\Vendor\\App"_s, u"Name"_s)->text(), u"Tool"_s);
    QVERIFY(m_store.keyExists(u"Software\\Vendor"_s));
    QCOMPARE(m_store.saveCount, 0);
}

void TestRegistryAccess::failedSave()
{
    RegistryAccess access(m_store);
    QVERIFY(access.OpenForRead(u"\\Software\\Vendor\\App"_s));
    m_store.failSave = true;
    try {
        access.WriteText(u"Name"_s, u"Changed"_s);
        QFAIL("no error");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(u"disk full"_s), qPrintable(error.message()));
        QVERIFY2(error.message().contains(u"Software\\Vendor\\App"_s), qPrintable(error.message()));
    }
    // The unsaved change is dropped, not left to be saved by a later write.
    QCOMPARE(m_store.value(u"Software\\Vendor\\App"_s, u"Name"_s)->text(), u"Tool"_s);
    m_store.failSave = false;
    access.WriteText(u"Other"_s, u"x"_s);
    m_store.reload();
    QCOMPARE(m_store.value(u"Software\\Vendor\\App"_s, u"Name"_s)->text(), u"Tool"_s);
}

void TestRegistryAccess::deleteTree()
{
    RegistryAccess access(m_store);
    QVERIFY(access.OpenForRead(u"\\Software\\Vendor\\App"_s));
    QVERIFY(access.DeleteTree(u"\\Software\\Vendor"_s));
    QVERIFY(!m_store.keyExists(u"Software\\Vendor\\App"_s));
    QVERIFY(m_store.keyExists(u"Software"_s));
    QCOMPARE(access.CurrentKeyPath(), QString()); // the current key went with the tree
    QVERIFY(!access.DeleteTree(u"\\Software\\Vendor"_s));
    QCOMPARE(m_store.saveCount, 1);
}

QTEST_GUILESS_MAIN(TestRegistryAccess)
#include "test_registry_access.moc"
