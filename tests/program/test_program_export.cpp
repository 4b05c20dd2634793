// SPDX-License-Identifier: GPL-3.0-or-later
// The program list's export: the file's name, its bytes, and its failures.

#include "ProgramFixture.h"

#include "registry/RegistryValue.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using namespace kelvane::test;

class TestProgramExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }

    void exportPath_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("written");
        QTest::newRow("no dot") << u"report"_s << u"report.txt"_s;
        QTest::newRow("own extension") << u"report.old"_s << u"report.old"_s;
        QTest::newRow("dot in folder") << u"my.folder/report"_s << u"my.folder/report"_s;
        QTest::newRow("trailing dot") << u"report."_s << u"report."_s;
    }

    void exportPath()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, written);
        Fixture f = makeFixture();
        QTemporaryDir out;
        QDir(out.path()).mkpath(u"my.folder"_s);
        f.host->saveFileNames.append(out.filePath(chosen));
        f.frame->ExportApplicationList(nullptr);
        QCOMPARE(f.host->messages, QStringList());
        QVERIFY2(QFileInfo::exists(out.filePath(written)), qPrintable(out.filePath(written)));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files).size() + QDir(out.path() + u"/my.folder"_s).entryList(QDir::Files).size(), 1);
    }

    void exportDialog()
    {
        QCOMPARE(TkvFrameProgram::ExportFileName(QDateTime(QDate(2026, 12, 7), QTime(8, 45, 59))),
                 u"kv_20261207_0845.txt"_s);
        Fixture f = makeFixture();
        f.frame->ExportApplicationList(nullptr); // cancelled
        QCOMPARE(f.host->saveDialogDefaults.size(), 1);
        QVERIFY(QRegularExpression(u"^kv_\\d{8}_\\d{4}\\.txt$"_s).match(f.host->saveDialogDefaults.first()).hasMatch());
    }

    void exportBytes()
    {
        Fixture f = makeFixture(false);
        replaceEntries(f.store(), {{u"b"_s, u"Beta"_s}, {u"a"_s, u"Alpha ü"_s}});
        const QString beta = UninstallKey + u"\\b"_s;
        f.frame->GenerateList(nullptr);
        QCOMPARE(TkvFrameProgram::ExportBytes(*f.tree()),
                 QByteArray("\xFF\xFE"
                            "A\0l\0p\0h\0a\0 \0\xFC\0\r\0\n\0"
                            "B\0e\0t\0a\0\r\0\n\0",
                            2 + 2 * 15));

        // Updates under a collapsed application, one tab deep.
        Fixture sample = makeFixture();
        QTemporaryDir out;
        sample.host->saveFileNames.append(out.filePath(u"list"_s));
        sample.frame->ExportApplicationList(nullptr);
        QFile file(out.filePath(u"list.txt"_s));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xFF\xFE"));
        QVERIFY(bytes.endsWith(QByteArray("\r\0\n\0", 4)));
        const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData() + 2),
                                                (bytes.size() - 2) / 2);
        QStringList lines = text.split(u"\r\n"_s);
        QCOMPARE(lines.takeLast(), QString());
        QCOMPARE(lines, treeTexts(sample.tree()));
        QVERIFY(lines.contains(u"\tHarborline Accounting 2007 Service Pack 1 (SP1)"_s));

        // A filtered list exports what it shows.
        sample.child<QLineEdit>(u"EditProgramFilter"_s)->setText(u"larkspur"_s);
        sample.frame->GenerateList(nullptr);
        QCOMPARE(TkvFrameProgram::ExportBytes(*sample.tree()).size(), 2 + 2 * (18 + 2));
        // An empty tree: the byte-order mark alone.
        QTreeWidget empty;
        QCOMPARE(TkvFrameProgram::ExportBytes(empty), QByteArray("\xFF\xFE"));
    }

    void exportFailureIsReported()
    {
        Fixture f = makeFixture();
        QTemporaryDir out;
        const QString path = out.filePath(u"missing/list.txt"_s);
        f.host->saveFileNames.append(path);
        f.frame->ExportApplicationList(nullptr);
        QCOMPARE(f.host->messages.size(), 1);
        QVERIFY(f.host->messages.first().startsWith(path + u'|'));
        QVERIFY(f.host->messages.first().size() > path.size() + 1);
        QVERIFY(!QFileInfo::exists(path));
    }

    // Writes docs/screenshots/program-*.png when KELVANE_SCREENSHOT_DIR names a folder.

    void exportKeepsOneLinePerNode()
    {
        Fixture f = makeFixture(false);
        replaceEntries(f.store(), {{u"Forged"_s, u"Aa\r\n\tKB000001 forged\u001b[2J"_s}, {u"Plain"_s, u"Bb"_s}});
        f.frame->GenerateList(nullptr);
        const QByteArray bytes = TkvFrameProgram::ExportBytes(*f.tree());
        const QString text = QString::fromUtf16(reinterpret_cast<const char16_t *>(bytes.constData() + 2),
                                                (bytes.size() - 2) / 2);
        QCOMPARE(text, u"Aa   KB000001 forged [2J\r\nBb\r\n"_s);
    }
};

QTEST_MAIN(TestProgramExport)
#include "test_program_export.moc"
