// SPDX-License-Identifier: GPL-3.0-or-later
// End to end through the program list: a fresh Wine prefix with an NSIS
// program, a Windows Installer product and a patch of it, shown in the frame's
// tree and information panel and exported to a file.
#include "FakeFrameHost.h"
#include "RequiredTool.h"
#include "Utf16.h"
#include "WineTestEnvironment.h"
#include "WineTools.h"
#include "inventory/kvApplication.h"
#include "program/kvUnitProgram.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

const QString ProductGuid = u"{5A1C2E3F-4B5D-4E6F-8A9B-0C1D2E3F4A5B}"_s;
const QString PatchGuid = u"{9E8D7C6B-5A49-4382-9170-6F5E4D3C2B1A}"_s;

QTreeWidgetItem *topLevel(QTreeWidget *tree, const QString &text)
{
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        if (tree->topLevelItem(i)->text(0) == text)
            return tree->topLevelItem(i);
    return nullptr;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void treePanelAndExport();
    void listEveryPrefix();
#ifdef KELVANE_EXE
    void desktopProgramOpensTheDefaultPrefix();
#endif

private:
    bool run(const QString &program, const QStringList &arguments, const QString &folder = {});
    QString labelText(const QWidget &frame, const QString &name);

    QTemporaryDir m_dir;
    QString m_prefix;
    QProcessEnvironment m_env;
};

bool TestEndToEnd::run(const QString &program, const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    const QString what = program + u' ' + arguments.join(u' ');
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(5000);
        QTest::qFail(qPrintable(u"did not finish: "_s + what), __FILE__, __LINE__);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        QTest::qFail(qPrintable(u"failed (exit %1): %2\n%3"_s.arg(process.exitCode())
                                    .arg(what, QString::fromLocal8Bit(process.readAll()))),
                     __FILE__, __LINE__);
        return false;
    }
    return true;
}

QString TestEndToEnd::labelText(const QWidget &frame, const QString &name)
{
    const auto *label = frame.findChild<QLabel *>(name);
    return label ? label->text() : u"<no label %1>"_s.arg(name);
}

void TestEndToEnd::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    for (const QString &tool : {u"wine"_s, u"wineboot"_s, u"wineserver"_s, u"makensis"_s, u"wixl"_s})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            KELVANE_SKIP_WITHOUT_TOOL(qPrintable(tool + u" is not installed"_s));
    QVERIFY(m_dir.isValid());
    m_prefix = m_dir.filePath(u"prefix"_s);
    m_env = kelvane::test::wineTestEnvironment(m_prefix);
    QCOMPARE(kelvane::test::makeTestPrefix(m_env), QString());

    const QString build = m_dir.filePath(u"build"_s);
    QVERIFY(QDir().mkpath(build));
    const auto write = [&build](const QString &name, const QByteArray &bytes) {
        QFile file(build + u'/' + name);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    for (const QString &name : {u"probe.nsi"_s, u"ledger.wxs"_s})
        QVERIFY(QFile::copy(QStringLiteral(KELVANE_TEST_DATA "/endtoend/") + name, build + u'/' + name));
    QVERIFY(write(u"ledger.txt"_s, "ledger\n"));
    QVERIFY(run(u"makensis"_s, {u"-V2"_s, u"probe.nsi"_s}, build));
    QVERIFY(run(u"wixl"_s, {u"-a"_s, u"x64"_s, u"-o"_s, u"ledger.msi"_s, u"ledger.wxs"_s}, build));
    QVERIFY(run(u"wine"_s, {build + u"/setup.exe"_s, u"/S"_s}, build));
    QVERIFY(run(u"wine"_s, {u"msiexec"_s, u"/i"_s, build + u"/ledger.msi"_s, u"/qn"_s}, build));

    const QString patchKey =
        u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\"_s
        + ConvertGuid(ProductGuid, false) + u"\\Patches\\"_s + ConvertGuid(PatchGuid, false);
    const QList<QStringList> values = {
        {u"DisplayName"_s, u"REG_SZ"_s, u"Ledger Fix 1"_s},
        {u"Installed"_s, u"REG_SZ"_s, u"20260315"_s},
        {u"Uninstallable"_s, u"REG_DWORD"_s, u"1"_s},
    };
    for (const QStringList &value : values)
        QVERIFY(run(u"wine"_s, {u"reg"_s, u"add"_s, patchKey, u"/v"_s, value[0], u"/t"_s, value[1], u"/d"_s,
                                value[2], u"/f"_s}));
    QVERIFY(run(u"wineserver"_s, {u"-w"_s})); // the registry is on disk now
}

void TestEndToEnd::cleanupTestCase()
{
    if (m_prefix.isEmpty())
        return;
    test::stopWineServer(m_env);
}

void TestEndToEnd::treePanelAndExport()
{
    test::FakeFrameHost host(m_prefix);
    host.settings().ShowUpdates = true;
    TkvFrameProgram frame(host);
    frame.resize(460, 368);
    frame.show();
    frame.EnterForm(nullptr);
    QTreeWidget *tree = frame.tree();
    QVERIFY(tree);

    QTreeWidgetItem *probe = topLevel(tree, u"Kelvane Probe"_s);
    QTreeWidgetItem *ledger = topLevel(tree, u"Kelvane Ledger"_s);
    QVERIFY2(probe && ledger, "an installed program is missing from the tree");
    QCOMPARE(probe->childCount(), 0);
    QCOMPARE(ledger->childCount(), 1);
    QCOMPARE(ledger->child(0)->text(0), u"Ledger Fix 1"_s);
    QVERIFY(tree->indexOfTopLevelItem(ledger) < tree->indexOfTopLevelItem(probe)); // sorted by name

    tree->setCurrentItem(ledger);
    QCOMPARE(labelText(frame, u"LabelProgramInfoName"_s), u"Kelvane Ledger"_s);
    QVERIFY2(labelText(frame, u"LabelProgramInfoVersion"_s).contains(u"2.5.0"_s),
             qPrintable(labelText(frame, u"LabelProgramInfoVersion"_s)));
    QCOMPARE(labelText(frame, u"LabelProgramInfoPublisherValue"_s), u"Ledger Makers"_s);
    QCOMPARE(labelText(frame, u"LabelProgramInfoKeyValue"_s),
             u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"_s + ProductGuid); // as Wine spells it

    tree->setCurrentItem(ledger->child(0));
    QCOMPARE(labelText(frame, u"LabelProgramInfoName"_s), u"Kelvane Ledger"_s); // the product's name
    QCOMPARE(labelText(frame, u"LabelUpdateInfoNameValue"_s), u"Ledger Fix 1"_s);
    QVERIFY2(labelText(frame, u"LabelUpdateInfoInstallValue"_s).contains(u"2026"_s),
             qPrintable(labelText(frame, u"LabelUpdateInfoInstallValue"_s)));
    QVERIFY(!frame.findChild<QLabel *>(u"LabelUpdateUninstallable"_s)->isVisibleTo(&frame));

    const QString exported = m_dir.filePath(u"list.txt"_s);
    host.saveFileNames.append(exported);
    frame.ExportApplicationList(nullptr);
    QFile file(exported);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(exported + u": "_s + file.errorString()));
    const QByteArray bytes = file.readAll();
    QVERIFY(bytes.startsWith("\xFF\xFE"));
    QVERIFY2(bytes.contains(test::utf16Bytes(u"Kelvane Ledger\r\n\tLedger Fix 1\r\n"_s)), bytes.toHex().constData());
    QVERIFY(bytes.contains(test::utf16Bytes(u"Kelvane Probe\r\n"_s)));
    QVERIFY(bytes.endsWith(test::utf16Bytes(u"\r\n"_s)));
}

// kelvane-list --all over a home with this prefix (WINEPREFIX), a fresh
// one (~/.wine) and a broken one: the two listed, the third said and skipped.
void TestEndToEnd::listEveryPrefix()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QCOMPARE(kelvane::test::makeTestPrefix(kelvane::test::wineTestEnvironment(home.filePath(u".wine"_s))), QString());
    QVERIFY(QDir().mkpath(home.filePath(u".PlayOnLinux/wineprefix/broken"_s)));
    QFile broken(home.filePath(u".PlayOnLinux/wineprefix/broken/system.reg"_s));
    QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("not a registry\n") > 0);
    broken.close();
    QProcessEnvironment env = m_env;
    env.insert(u"HOME"_s, home.path());
    QProcess list;
    list.setProcessEnvironment(env);
    list.start(QStringLiteral(KELVANE_LIST_EXE), {u"--all"_s, u"--json"_s});
    QVERIFY(list.waitForFinished(60000));
    QCOMPARE(list.exitCode(), 0);
    const QJsonArray prefixes = QJsonDocument::fromJson(list.readAllStandardOutput()).array();
    QCOMPARE(prefixes.size(), 3);
    const auto names = [](const QJsonObject &prefix) {
        QStringList found;
        for (const QJsonValue &entry : prefix.value(u"Inventory"_s).toObject().value(u"Applications"_s).toArray())
            found.append(entry.toObject().value(u"DisplayName"_s).toString());
        return found;
    };
    QCOMPARE(prefixes[0].toObject().value(u"Path"_s).toString(), QFileInfo(m_prefix).canonicalFilePath());
    QVERIFY(names(prefixes[0].toObject()).contains(u"Kelvane Probe"_s));
    QVERIFY(names(prefixes[0].toObject()).contains(u"Kelvane Ledger"_s));
    QCOMPARE(prefixes[1].toObject().value(u"Name"_s).toString(), u"~/.wine"_s);
    QVERIFY(prefixes[1].toObject().contains(u"Inventory"_s));
    QVERIFY(!names(prefixes[1].toObject()).contains(u"Kelvane Probe"_s));
    QVERIFY2(prefixes[2].toObject().value(u"Error"_s).toString().contains(u"is not a Wine registry file"_s),
             qPrintable(prefixes[2].toObject().value(u"Error"_s).toString()));
    QVERIFY(list.readAllStandardError().contains("is not a Wine registry file"));
}

#ifdef KELVANE_EXE
// The prefix keeps the Windows version wineboot gave it (Windows 7 on Wine 8,
// 10 on others): the desktop program lists it instead of refusing it.
void TestEndToEnd::desktopProgramOpensTheDefaultPrefix()
{
    QTemporaryDir home;
    QVERIFY(home.isValid() && QDir(home.path()).mkpath(u"run"_s));
    QVERIFY(QFile::setPermissions(home.filePath(u"run"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QProcessEnvironment env = m_env;
    env.remove(u"KELVANE_REGISTRY"_s);
    env.remove(u"appdata"_s);
    env.insert(u"HOME"_s, home.path());
    env.insert(u"XDG_RUNTIME_DIR"_s, home.filePath(u"run"_s));
    env.insert(u"XDG_CONFIG_HOME"_s, home.filePath(u"config"_s));
    env.insert(u"XDG_DATA_HOME"_s, home.filePath(u"data"_s));
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    env.insert(u"KELVANE_EXIT_AT_FIRST_LIST"_s, u"1"_s);
    QProcess kelvane;
    kelvane.setProcessEnvironment(env);
    kelvane.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    kelvane.start(QStringLiteral(KELVANE_EXE), {});
    // A refusal would wait for its OK for ever.
    const bool finished = kelvane.waitForFinished(30000);
    if (!finished) {
        kelvane.kill();
        kelvane.waitForFinished(5000);
    }
    QVERIFY2(finished, "kelvane showed no list of the default prefix");
    QCOMPARE(kelvane.exitCode(), 0);
    const QString out = QString::fromUtf8(kelvane.readAllStandardOutput());
    QVERIFY2(out.contains(u"first_list_caption=Installed applications\n"_s), qPrintable(out));
}
#endif

QTEST_MAIN(TestEndToEnd)
#include "test_endtoend.moc"
