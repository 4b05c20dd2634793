// SPDX-License-Identifier: GPL-3.0-or-later
#include "config/kvConfig.h"
#include "host/IniFile.h"
#include "language/kvLanguage.h"

#include "HostilePaths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using kelvane::LangTable;
using kelvane::TIniFile;
using kelvane::TLang;

// Stand-ins for widgets: only the declared properties matter to the relabelling.
class TextObject : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString text MEMBER text)
public:
    using QObject::QObject;
    QString text;
};

// Records a flag at the moment its caption is written.
class ProbeObject : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
public:
    using QObject::QObject;
    QString text() const { return m_text; }
    void setText(const QString &text)
    {
        m_text = text;
        if (probe)
            seen = probe();
    }
    std::function<bool()> probe;
    bool seen = false;

private:
    QString m_text;
};

class TitleObject : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString title MEMBER title)
public:
    using QObject::QObject;
    QString title;
};

class EditorObject : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString text MEMBER text)
    Q_PROPERTY(bool readOnly MEMBER readOnly)
public:
    using QObject::QObject;
    QString text;
    bool readOnly = false;
};

class FormObject : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString windowTitle MEMBER windowTitle)
    Q_PROPERTY(Qt::LayoutDirection layoutDirection MEMBER layoutDirection)
public:
    using QObject::QObject;
    QString windowTitle;
    Qt::LayoutDirection layoutDirection = Qt::LeftToRight;
};

class TestLanguage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_program;
    QString languages() const { return m_program.filePath(u"languages"_s); }
    void writeLanguage(const QString &name, const QByteArray &bytes)
    {
        QDir().mkpath(languages());
        QFile file(languages() + u'/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    void copyFixture(const QString &fixture, const QString &name)
    {
        QFile file(QStringLiteral(KELVANE_TEST_DATA "/language/") + fixture);
        QVERIFY(file.open(QIODevice::ReadOnly));
        writeLanguage(name, file.readAll());
    }

private slots:
    void init()
    {
        QDir(languages()).removeRecursively();
    }

    void tableRules()
    {
        LangTable table;
        table.setValue(u"Alpha"_s, u"1"_s);
        table.setValue(u"Beta"_s, u"2"_s);
        table.setValue(u"ALPHA"_s, u"3"_s);
        QCOMPARE(table.count(), 2);
        QCOMPARE(table.keyAt(0), u"Alpha"_s);
        QCOMPARE(table.value(u"alpha"_s), u"3"_s);
        table.setValue(u"beta"_s, QString());
        QCOMPARE(table.count(), 1);
        QCOMPARE(table.value(u"Beta"_s), QString());
        table.setValue(u"Gamma"_s, u"a=b"_s);
        QCOMPARE(table.valueAt(1), u"a=b"_s);
    }

    void defaults()
    {
        TLang lang(m_program.path());
        lang.LoadDefaults();
        QCOMPARE(lang.Captions.count(), 53);
        QCOMPARE(lang.Strings.count(), 56); // with Kelvane's own settings, waiting, refusal, hive, runner and target texts
        QCOMPARE(lang.Main.count(), 0);
        QCOMPARE(lang.Name, u"default"_s);
        QCOMPARE(lang.Captions.keyAt(0), u"ButtonAboutOk"_s);
        QCOMPARE(lang.Captions.keyAt(48), u"PopupProgramUninstallQuiet"_s);
        QCOMPARE(lang.Strings.keyAt(0), u"ApplicationVersion"_s);
        QCOMPARE(lang.Strings.keyAt(48), u"Size3"_s);
        QCOMPARE(lang.Strings.value(u"hintbuttonmenuquit"_s), u"Quit program"_s);
        QCOMPARE(lang.Captions.value(u"CheckboxSettingsShowUpdates"_s), u"Show updates into apllication list."_s);
        QCOMPARE(lang.Strings.value(u"ErrorUnknown"_s), QString());
        // Keys are unique without regard to case, so no entry hides another.
        QStringList keys;
        for (qsizetype i = 0; i < lang.Captions.count(); ++i)
            keys << lang.Captions.keyAt(i).toLower();
        for (qsizetype i = 0; i < lang.Strings.count(); ++i)
            keys << lang.Strings.keyAt(i).toLower();
        keys.removeDuplicates();
        QCOMPARE(keys.size(), 109);
    }

    void defaultOverlayAndSwitchBack()
    {
        copyFixture(u"default.lng"_s, u"default.lng"_s);
        TLang lang(m_program.path());
        lang.LoadLanguage(u"default"_s, true);
        QCOMPARE(lang.Name, u"default"_s);
        QCOMPARE(lang.Captions.value(u"ButtonMenuQuit"_s), u"&Leave"_s);
        QCOMPARE(lang.Captions.keyAt(5), u"ButtonMenuQuit"_s); // replaced in place
        QCOMPARE(lang.Captions.value(u"LabelProgramTitle"_s), QString()); // empty value removes
        QCOMPARE(lang.Captions.count(), 53);
        QCOMPARE(lang.Strings.value(u"ErrorUnknown"_s), u"Unknown failure"_s);
        QCOMPARE(lang.RightToLeft, false); // "yes" is not a number
        QCOMPARE(lang.Main.value(u"author"_s), u"Tester"_s);
        // Back to the built-in texts: the file's own keys stay.
        lang.LoadLanguage(QString(), true);
        QCOMPARE(lang.Captions.value(u"FormMain"_s), u"Main caption"_s);
        QCOMPARE(lang.Captions.value(u"ButtonMenuQuit"_s), u"&Quit"_s);
        QCOMPARE(lang.FileName, languages() + u"/.lng"_s);
    }

    void missingFile()
    {
        TLang lang(m_program.path());
        lang.LoadLanguage(u"nowhere"_s, true);
        QCOMPARE(lang.Name, u"default"_s);
        QCOMPARE(lang.FileName, languages() + u"/nowhere.lng"_s);
        QCOMPARE(lang.Captions.count(), 53);
    }

    // A language file that cannot be read, and a name that is not the base
    // name of a file in the languages folder, are like a missing file: the
    // built-in texts, never the file's.
    void unusableLanguage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("file"); // where the file is put, from the program folder
        QTest::addColumn<int>("kind");     // a Hostile, or -1: a regular file, -2: one over the size cap
        using kelvane::test::Hostile;
        for (const Hostile kind : kelvane::test::hostileKinds()) {
            if (kind != Hostile::Missing)
                QTest::newRow(kelvane::test::hostileName(kind)) << u"evil"_s << u"languages/evil.lng"_s << int(kind);
        }
        QTest::newRow("too large") << u"evil"_s << u"languages/evil.lng"_s << -2;
        QTest::newRow("parent folder") << u"../evil"_s << u"evil.lng"_s << -1;
        QTest::newRow("deep parent") << u"../../../../../../../..%1/evil"_s << u"evil.lng"_s << -1;
        QTest::newRow("absolute") << u"%1/evil"_s << u"evil.lng"_s << -1;
        QTest::newRow("subfolder") << u"sub/evil"_s << u"languages/sub/evil.lng"_s << -1;
        QTest::newRow("backslash") << u"sub\\evil"_s << u"languages/sub\\evil.lng"_s << -1;
        QTest::newRow("dots") << u".."_s << u"languages/...lng"_s << -1;
    }

    void unusableLanguage()
    {
        QFETCH(QString, name);
        QFETCH(QString, file);
        QFETCH(int, kind);
        const kelvane::test::ScratchFolder program;
        name = name.replace(u"%1"_s, program.path());
        const QByteArray owned = "[captions]\nButtonMenuQuit=owned\n";
        const QString path = program.path() + u'/' + file;
        QVERIFY(QDir().mkpath(program.path() + u"/languages"_s)); // else languages/.. leads nowhere
        if (kind < 0) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(owned);
            out.close();
            if (kind == -2)
                QVERIFY(out.resize(kelvane::config::MaxLanguageFileSize + 1));
        } else {
            const QString made = kelvane::test::makeHostile(kelvane::test::Hostile(kind), program.path(), file, owned);
            QVERIFY(!made.isEmpty());
            name = QFileInfo(made).completeBaseName();
        }
        TLang lang(program.path());
        lang.LoadLanguage(name, true);
        QCOMPARE(lang.Name, u"default"_s);
        QCOMPARE(lang.Captions.value(u"ButtonMenuQuit"_s), u"&Quit"_s);
        QCOMPARE(lang.Captions.count(), 53);
    }

    void fileNameCaseIgnored()
    {
        writeLanguage(u"French.lng"_s, "[captions]\nButtonMenuQuit=&Quitter\n");
        writeLanguage(u"german.lng"_s, "[captions]\nButtonMenuQuit=&Beenden\n");
        writeLanguage(u"GERMAN.lng"_s, "[captions]\nButtonMenuQuit=wrong\n");
        TLang lang(m_program.path());
        lang.LoadLanguage(u"french"_s, true);
        // The name stays as asked for: the preferences compare it case-sensitively.
        QCOMPARE(lang.Name, u"french"_s);
        QCOMPARE(lang.FileName, languages() + u"/French.lng"_s);
        QCOMPARE(lang.Captions.value(u"ButtonMenuQuit"_s), u"&Quitter"_s);
        // An exact match wins over one that differs in case.
        lang.LoadLanguage(u"german"_s, true);
        QCOMPARE(lang.Captions.value(u"ButtonMenuQuit"_s), u"&Beenden"_s);
    }

    void encodings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("rightToLeft");
        QTest::newRow("cp1252") << QByteArray("[captions]\nButtonMenuQuit=\xc9t\xe9 \x80\n") << u"Été €"_s << false;
        QTest::newRow("utf8 read as cp1252")
            << QByteArray("[captions]\nButtonMenuQuit=l\xc3\xa0\n") << u"l\u00C3\u00A0"_s << false;
        QTest::newRow("utf8 flag") << QByteArray("[options]\nuseUTF8=1\n[captions]\nButtonMenuQuit=l\xc3\xa0\n")
                                   << u"là"_s << false;
        QTest::newRow("hex flags") << QByteArray("[options]\nuseUTF8=0x1\nrightToLeft=$10\n[captions]\nButtonMenuQuit=\xd7\xa9\n")
                                   << u"ש"_s << true;
        QTest::newRow("quoted, spaced, comment")
            << QByteArray("; comment\n[ Captions ]\r\n  ButtonMenuQuit =  \" x \"  \r\n") << u" x "_s << false;
        QTest::newRow("rtl decimal") << QByteArray("[OPTIONS]\nRIGHTTOLEFT=2\n") << u"&Quit"_s << true;
        QTest::newRow("rtl zero") << QByteArray("[options]\nrightToLeft=0\n") << u"&Quit"_s << false;
    }

    void encodings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, caption);
        QFETCH(bool, rightToLeft);
        writeLanguage(u"test.lng"_s, file);
        TLang lang(m_program.path());
        lang.LoadLanguage(u"test"_s, true);
        QCOMPARE(lang.Name, u"test"_s);
        QCOMPARE(lang.Captions.value(u"ButtonMenuQuit"_s), caption);
        QCOMPARE(lang.RightToLeft, rightToLeft);
    }

    void utf8FileWithoutFlag()
    {
        copyFixture(u"utf8_without_flag.lng"_s, u"mixed.lng"_s);
        TLang lang(m_program.path());
        lang.LoadLanguage(u"mixed"_s, false);
        QCOMPARE(lang.Main.value(u"language"_s), u"CafÃ©"_s);
        QCOMPARE(lang.Captions.count(), 1);
        QCOMPARE(lang.Strings.count(), 0);
    }

    void keysAreCp1252EvenWithUtf8()
    {
        writeLanguage(u"k.lng"_s, "[options]\nuseUTF8=1\n[captions]\nK\xe9y=v\xc3\xa9\n");
        TLang lang(m_program.path());
        lang.LoadLanguage(u"k"_s, false);
        QCOMPARE(lang.Captions.keyAt(0), u"Kéy"_s);
        QCOMPARE(lang.Captions.valueAt(0), u"vé"_s);
    }

    void limits()
    {
        QByteArray file = "[strings]\nLong=" + QByteArray(3000, 'a') + "\n[captions]\n";
        // 1000 keys of 19 bytes + NUL: only the first 819 fit in 16384 bytes with the final NUL.
        for (int i = 0; i < 1000; ++i)
            file += "Key" + QByteArray::number(i).rightJustified(16, '0') + "=x\n";
        writeLanguage(u"big.lng"_s, file);
        TLang lang(m_program.path());
        lang.LoadLanguage(u"big"_s, false);
        QCOMPARE(lang.Strings.value(u"Long"_s).size(), 2047);
        QCOMPARE(lang.Captions.count(), 819);
        QCOMPARE(TIniFile::fromBytes(file, TIniFile::LanguageFileRules).keys("captions").size(), 819);
    }

    void manyKeysReadInLinearTime()
    {
        QByteArray file = "[captions]\n";
        for (int i = 0; i < 100000; ++i)
            file += "K" + QByteArray::number(i) + "=v\n[s" + QByteArray::number(i) + "]\n[captions]\n";
        QElapsedTimer timer;
        timer.start();
        const TIniFile reader = TIniFile::fromBytes(file, TIniFile::LanguageFileRules);
        QCOMPARE(reader.value("CAPTIONS", "k0"), QByteArray("v"));
        QCOMPARE(reader.value("captions", "K1"), std::nullopt); // a repeated section is hidden by the first
        QCOMPARE(reader.value("S99999", "x"), std::nullopt);
        QVERIFY2(timer.elapsed() < 10000, "reading must not be quadratic in the number of names");
    }

    void listLanguages()
    {
        TLang lang(m_program.path(), {u"Maker"_s, u"https://example.org"_s, u"2.0 PR3"_s});
        lang.ListLanguages();
        QCOMPARE(lang.Languages.size(), 1);
        QCOMPARE(lang.Languages[0]->Language, u"English (default)"_s);
        QCOMPARE(lang.Languages[0]->Name, u"default"_s);
        QCOMPARE(lang.Languages[0]->Version, u"2.0 PR3"_s);
        QCOMPARE(lang.Languages[0]->FileName, QString());

        writeLanguage(u"zulu.lng"_s, "[main]\nlanguage=Zulu\nauthor=Z\nversion=1\nwebsite=w\n");
        writeLanguage(u"alpha.lng"_s, "[main]\nauthor=A\n");
        writeLanguage(u"notes.txt"_s, "[main]\nlanguage=No\n");
        copyFixture(u"default.lng"_s, u"default.lng"_s);
        QDir().mkpath(languages() + u"/folder.lng"_s);
        int hookCalls = 0;
        lang.setListHook([&hookCalls] { ++hookCalls; });
        lang.ListLanguages();
        QStringList names;
        for (const auto &item : std::as_const(lang.Languages))
            names << item->Name + u':' + item->Language + u':' + item->FileName;
        QCOMPARE(names, QStringList({u"default:English (default):"_s, u"alpha::alpha.lng"_s,
                                     u"default:Default override:default.lng"_s, u"folder::folder.lng"_s,
                                     u"zulu:Zulu:zulu.lng"_s}));
        QCOMPARE(hookCalls, 4);
        QCOMPARE(lang.Languages[4]->Author, u"Z"_s);
        QCOMPARE(lang.Languages[4]->Website, u"w"_s);
        QCOMPARE(lang.Languages[4]->Version, u"1"_s);
        QCOMPARE(lang.Name, QString()); // the temporary catalogues leave this one alone
    }

    void applyToForm()
    {
        writeLanguage(u"t.lng"_s, "[options]\nrightToLeft=1\n[captions]\nFormAbout=Dialog\nlabelabouttitle=Title\n"
                                  "ButtonAboutOk=Fine\nGroupboxAbout=Group\nEditAbout=Changed\nLabelInFrame=Frame\nLabelProbe=P\n");
        TLang lang(m_program.path());
        lang.LoadLanguage(u"t"_s, false);
        FormObject form;
        form.setObjectName(u"kvFormAbout"_s);
        TextObject label(&form);
        label.setObjectName(u"LabelAboutTitle"_s);
        TitleObject panel(&form);
        TextObject button(&panel); // nested inside a panel: still owned by the form
        button.setObjectName(u"ButtonAboutOk"_s);
        TitleObject group(&form);
        group.setObjectName(u"GroupboxAbout"_s);
        EditorObject edit(&form);
        edit.setObjectName(u"EditAbout"_s);
        FormObject frame(&form);
        frame.setObjectName(u"kvFrameInner"_s);
        TextObject inFrame(&frame);
        inFrame.setObjectName(u"LabelInFrame"_s);
        ProbeObject probe(&form);
        probe.setObjectName(u"LabelProbe"_s);
        probe.probe = [&lang] { return lang.Applying; };

        lang.ApplyToForm(&form);
        QCOMPARE(form.windowTitle, u"Dialog"_s);
        QCOMPARE(label.text, u"Title"_s);
        QCOMPARE(button.text, u"Fine"_s);
        QCOMPARE(group.title, u"Group"_s);
        QCOMPARE(edit.text, QString());
        QCOMPARE(inFrame.text, QString());
        QCOMPARE(form.layoutDirection, Qt::RightToLeft);
        QCOMPARE(frame.layoutDirection, Qt::LeftToRight);
        QCOMPARE(lang.Applying, false);
        QVERIFY(probe.seen);
        QCOMPARE(probe.text(), u"P"_s);

        lang.ApplyToFrame(&frame);
        QCOMPARE(inFrame.text, u"Frame"_s);
        QCOMPARE(frame.windowTitle, QString());

        // Form captions compare case-sensitively; back to English turns the form left-to-right.
        form.setObjectName(u"kvformabout"_s);
        form.windowTitle.clear();
        lang.LoadLanguage(QString(), true);
        lang.ApplyToForm(&form);
        QCOMPARE(form.windowTitle, QString());
        QCOMPARE(form.layoutDirection, Qt::LeftToRight);
        QCOMPARE(button.text, u"&OK"_s);
    }

    void shippedLanguages_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<bool>("rightToLeft");
        QTest::newRow("french") << u"french"_s << false << false;
        QTest::newRow("german") << u"german"_s << false << false;
        QTest::newRow("hebrew") << u"hebrew"_s << true << true;
    }

    void shippedLanguages()
    {
        QFETCH(QString, name);
        QFETCH(bool, utf8);
        QFETCH(bool, rightToLeft);
        const QString source = QStringLiteral(KELVANE_SOURCE_DIR);
        QFile file(source + u"/languages/"_s + name + u".lng"_s);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QByteArray bytes = file.readAll();

        TLang shipped(source);
        shipped.LoadLanguage(name, false);
        QCOMPARE(shipped.Name, name);
        QCOMPARE(shipped.UseUTF8, utf8);
        QCOMPARE(shipped.RightToLeft, rightToLeft);
        for (const char *key : {"author", "version", "language"})
            QVERIFY2(!shipped.Main.value(QLatin1StringView(key)).isEmpty(), key);

        TLang english(source);
        english.LoadDefaults();
        static const QRegularExpression placeholder(u"%[A-Z_]+%"_s);
        const auto check = [&](const LangTable &defaults, const LangTable &translated) {
            QCOMPARE(translated.count(), defaults.count());
            for (qsizetype i = 0; i < defaults.count(); ++i) {
                const QString key = defaults.keyAt(i);
                const QString text = translated.value(key);
                QVERIFY2(!text.isEmpty(), qPrintable(key));
                QVERIFY2(!text.contains(QChar::ReplacementCharacter), qPrintable(key));
                QStringList expected, found;
                for (const auto &m : placeholder.globalMatch(defaults.valueAt(i)))
                    expected << m.captured();
                for (const auto &m : placeholder.globalMatch(text))
                    found << m.captured();
                expected.sort();
                found.sort();
                QVERIFY2(expected == found, qPrintable(key));
                QVERIFY2(defaults.valueAt(i).count(u'|') == text.count(u'|'), qPrintable(key));
            }
        };
        check(english.Captions, shipped.Captions);
        check(english.Strings, shipped.Strings);
        // Killing the prefix's programs would lose their unsaved work: no text advises it.
        for (const TLang *lang : {&english, &shipped})
            QVERIFY2(!lang->Strings.value(u"ErrorRegistryInUse"_s).contains(u"wineserver -k"_s), qPrintable(name));
        if (!utf8) {
            // A Windows-1252 file: not valid UTF-8 once it holds any accented letter.
            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString asUtf8 = decoder(bytes);
            QVERIFY(decoder.hasError());
            Q_UNUSED(asUtf8);
        }
    }
};

QTEST_GUILESS_MAIN(TestLanguage)
#include "test_language.moc"
