// SPDX-License-Identifier: GPL-3.0-or-later
// End to end: a real Wine prefix, filled by a real installer and by Wine's
// own reg.exe, read back through the registry file store and kelvane-list.
#include "RequiredTool.h"
#include "WineTestEnvironment.h"
#include "WineTools.h"
#include "inventory/kvApplication.h"
#include "registry/WineRegistryFile.h"
#include "target/Target.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

const QString UninstallKey = u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"_s;
const QString ProductGuid = u"{12345678-ABCD-EF01-2345-6789ABCDEF01}"_s;
const QString PackedProduct = u"87654321DCBA10FE32547698BADCFE10"_s;
const QString PackedPatch = u"0123456789ABCDEF0123456789ABCDEF"_s;
const QString HotfixName = u"Security Update for Windows (KB123456)"_s;

const char NsisScript[] = R"(Unicode true
Target amd64-unicode
Name "Kelvane Probe"
OutFile "setup.exe"
SilentInstall silent
RequestExecutionLevel admin
InstallDir "$PROGRAMFILES64\KelvaneProbe"
!define UKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvaneProbe"

Section
  SetRegView 64
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninst.exe"
  WriteRegStr HKLM "${UKEY}" "DisplayName" "Kelvane Probe"
  WriteRegStr HKLM "${UKEY}" "DisplayVersion" "1.2.3"
  WriteRegStr HKLM "${UKEY}" "Publisher" "Kelvane Testers"
  WriteRegStr HKLM "${UKEY}" "UninstallString" '"$INSTDIR\uninst.exe"'
  WriteRegStr HKLM "${UKEY}" "QuietUninstallString" '"$INSTDIR\uninst.exe" /S'
  WriteRegDWORD HKLM "${UKEY}" "EstimatedSize" 1500
SectionEnd

Section "Uninstall"
  SetRegView 64
  DeleteRegKey HKLM "${UKEY}"
  Delete "$INSTDIR\uninst.exe"
  RMDir "$INSTDIR"
SectionEnd
)";

TAppItemPtr findByKey(const TAppItems &items, const QString &keyName)
{
    for (const TAppItemPtr &item : items)
        if (item->KeyName == keyName)
            return item;
    return {};
}

} // namespace

class TestWinePrefix : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_prefix;
    QProcessEnvironment m_env;

    // Runs a program without a shell; fails the test with its stderr.
    bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr,
             const QString &workingDirectory = {})
    {
        QProcess process;
        process.setProcessEnvironment(m_env);
        if (!workingDirectory.isEmpty())
            process.setWorkingDirectory(workingDirectory);
        process.start(program, arguments);
        const QString what = program + u' ' + arguments.join(u' ');
        if (!process.waitForStarted(30000)) {
            QTest::qFail(qPrintable(u"could not start "_s + what + u": "_s + process.errorString()),
                         __FILE__, __LINE__);
            return false;
        }
        if (!process.waitForFinished(180000)) {
            process.kill();
            process.waitForFinished(5000);
            QTest::qFail(qPrintable(u"timed out: "_s + what), __FILE__, __LINE__);
            return false;
        }
        const QByteArray out = process.readAllStandardOutput();
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            QTest::qFail(qPrintable(u"failed (exit %1): "_s.arg(process.exitCode()) + what + u"\n"_s
                                    + QString::fromLocal8Bit(process.readAllStandardError())
                                    + QString::fromLocal8Bit(out)),
                         __FILE__, __LINE__);
            return false;
        }
        if (output)
            *output = out;
        return true;
    }

    bool regAdd(const QString &key, const QString &name, const QString &type, const QString &data)
    {
        return run(u"wine"_s, {u"reg"_s, u"add"_s, key, u"/v"_s, name, u"/t"_s, type, u"/d"_s, data,
                               u"/f"_s});
    }

    std::unique_ptr<TApplications> scan()
    {
        auto target = Target::open(m_prefix);
        auto inventory = std::make_unique<TApplications>(target->registry());
        inventory->LoadFromRegistry();
        return inventory;
    }

private slots:
    void initTestCase()
    {
        for (const QString &tool : {u"wine"_s, u"wineboot"_s, u"wineserver"_s, u"makensis"_s})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                KELVANE_SKIP_WITHOUT_TOOL(qPrintable(tool + u" is not on PATH"_s));

        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY2(m_dir->isValid(), qPrintable(m_dir->errorString()));
        m_prefix = m_dir->filePath(u"prefix"_s);
        m_env = kelvane::test::wineTestEnvironment(m_prefix);

        QCOMPARE(kelvane::test::makeTestPrefix(m_env), QString());

        const QString build = m_dir->filePath(u"nsis"_s);
        QVERIFY(QDir().mkpath(build));
        QFile script(build + u"/probe.nsi"_s);
        QVERIFY(script.open(QIODevice::WriteOnly));
        QVERIFY(script.write(NsisScript) == qint64(sizeof NsisScript - 1));
        script.close();
        QVERIFY(run(u"makensis"_s, {u"-V2"_s, u"probe.nsi"_s}, nullptr, build));
        QVERIFY(run(u"wine"_s, {build + u"/setup.exe"_s, u"/S"_s}, nullptr, build));
        QVERIFY(run(u"wineserver"_s, {u"-w"_s}));

        QVERIFY(regAdd(UninstallKey + u"QuietOnly"_s, u"QuietUninstallString"_s, u"REG_SZ"_s,
                       u"C:\\quiet\\remove.exe /S"_s));
        QVERIFY(regAdd(UninstallKey + ProductGuid, u"UninstallString"_s, u"REG_SZ"_s,
                       u"MsiExec.exe /X"_s + ProductGuid));
        QVERIFY(regAdd(u"HKLM\\Software\\Classes\\Installer\\Products\\"_s + PackedProduct,
                       u"ProductName"_s, u"REG_SZ"_s, u"Probe Product"_s));
        const QString patchKey =
            u"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\"_s
            + PackedProduct + u"\\Patches\\"_s + PackedPatch;
        QVERIFY(regAdd(patchKey, u"DisplayName"_s, u"REG_SZ"_s, u"Probe Patch"_s));
        QVERIFY(regAdd(patchKey, u"Installed"_s, u"REG_SZ"_s, u"20260101"_s));
        QVERIFY(regAdd(patchKey, u"Uninstallable"_s, u"REG_DWORD"_s, u"1"_s));
        QVERIFY(regAdd(UninstallKey + u"KB123456"_s, u"DisplayName"_s, u"REG_SZ"_s, HotfixName));
        QVERIFY(regAdd(UninstallKey + u"KB123456"_s, u"UninstallString"_s, u"REG_SZ"_s,
                       u"C:\\Windows\\$NtUninstallKB123456$\\spuninst\\spuninst.exe"_s));
        QVERIFY(run(u"wineserver"_s, {u"-w"_s}));
    }

    void cleanupTestCase()
    {
        // The server has usually gone already (exit 1 then): only make sure.
        if (m_prefix.isEmpty())
            return;
        test::stopWineServer(m_env);
    }

    void installerEntry()
    {
        const auto inventory = scan();
        const TAppItemPtr entry = findByKey(inventory->Applications, u"KelvaneProbe"_s);
        QVERIFY2(entry, "the installer's entry is not listed");
        QCOMPARE(entry->DisplayName, u"Kelvane Probe"_s);
        QCOMPARE(entry->DisplayVersion, u"1.2.3"_s);
        QCOMPARE(entry->Publisher, u"Kelvane Testers"_s);
        QCOMPARE(entry->EstimatedSize, 1500 * 1024);
        // The install folder is as Wine expanded it; the quoting is the installer's.
        QVERIFY2(entry->UninstallString.startsWith(u'"'), qPrintable(entry->UninstallString));
        QVERIFY2(entry->UninstallString.endsWith(u"uninst.exe\""_s), qPrintable(entry->UninstallString));
        QVERIFY2(entry->UninstallString.contains(u"KelvaneProbe"_s), qPrintable(entry->UninstallString));
        QCOMPARE(entry->QuietUninstallString, entry->UninstallString + u" /S"_s);
        QVERIFY(!entry->IsHotfix);
    }

    void regAddedEntries()
    {
        const auto inventory = scan();
        const TAppItemPtr quiet = findByKey(inventory->Applications, u"QuietOnly"_s);
        QVERIFY2(quiet, "an entry with only a quiet command is not listed");
        QCOMPARE(quiet->QuietUninstallString, u"C:\\quiet\\remove.exe /S"_s);
        QVERIFY(quiet->UninstallString.isEmpty());

        const TAppItemPtr product = findByKey(inventory->Applications, ProductGuid);
        QVERIFY2(product, "the Windows Installer entry is not listed");
        QCOMPARE(product->DisplayName, u"Probe Product"_s);
        QCOMPARE(product->SubItemCount(), 1);
        const TAppSubItemPtr patch = product->GetSubItem(0);
        QCOMPARE(patch->DisplayName, u"Probe Patch"_s);
        QCOMPARE(patch->Installed, u"20260101"_s);
        QVERIFY(patch->Uninstallable);
        QCOMPARE(patch->UninstallCommand,
                 u"MsiExec /uninstall {76543210-BA98-FEDC-1032-547698BADCFE} /package "
                 "{12345678-ABCD-EF01-2345-6789ABCDEF01} /qb"_s);

        const TAppItemPtr hotfix = findByKey(inventory->Hotfixes, u"KB123456"_s);
        QVERIFY2(hotfix, "the hotfix is not among the hotfixes");
        QVERIFY(hotfix->IsHotfix);
        QCOMPARE(hotfix->DisplayName, HotfixName);
        QVERIFY(!findByKey(inventory->Applications, u"KB123456"_s));
    }

    void listTool()
    {
        const auto inventory = scan();
        QByteArray json;
        QVERIFY(run(QStringLiteral(KELVANE_LIST_EXE), {u"--registry"_s, m_prefix, u"--json"_s}, &json));
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(json, &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
        const QJsonObject root = document.object();
        QCOMPARE(root.value(u"Applications"_s).toArray().size(), qsizetype(inventory->ApplicationCount()));
        QCOMPARE(root.value(u"Hotfixes"_s).toArray().size(), qsizetype(inventory->HotfixCount()));
        QCOMPARE(root.value(u"KeyCount"_s).toInt(), inventory->KeyCount);

        QByteArray tree;
        QVERIFY(run(QStringLiteral(KELVANE_LIST_EXE), {u"--registry"_s, m_prefix, u"--tree"_s}, &tree));
        const QString text = QString::fromUtf8(tree);
        QVERIFY2(text.contains(u"Microsoft Windows\n\t"_s + HotfixName), qPrintable(text));
        QVERIFY2(text.contains(u"Kelvane Probe"_s), qPrintable(text));
    }

    void systemRegistryLossless()
    {
        const QString path = m_prefix + u"/system.reg"_s;
        QFile file(path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.size() > 0);
        const auto registry = WineRegistryFile::open(path);
        QVERIFY(registry->toBytes() == bytes);
    }
};

QTEST_GUILESS_MAIN(TestWinePrefix)
#include "test_wine_prefix.moc"
