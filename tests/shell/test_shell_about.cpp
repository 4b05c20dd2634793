// SPDX-License-Identifier: GPL-3.0-or-later
#include "UrlCatcher.h"
#include "config/kvVersion.h"
#include "gui/kvCommonGui.h"
#include "language/kvLanguage.h"
#include "shell/kvUnitAbout.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {
QString versionLine()
{
    return u"Version "_s + QString::fromUtf8(KELVANE_PRODUCT_VERSION) + u" ("_s
           + QString::fromUtf8(KELVANE_FILE_VERSION) + u')';
}
} // namespace

// Closes the dialog when a hook returns, also after a failed check.
struct CloseGuard
{
    QDialog &dialog;
    ~CloseGuard()
    {
        if (dialog.isVisible())
            dialog.done(-1);
    }
};

class TestAbout : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }
    void init()
    {
        m_catcher.urls.clear();
        m_lang = std::make_unique<TLang>(QStringLiteral(KELVANE_SOURCE_DIR));
        m_lang->LoadDefaults();
    }

    void contentsAndLinks()
    {
        TkvFormAbout about(*m_lang, {u"Ann Author"_s, u"https://example.org/kelvane"_s, u"bugs@example.org"_s});
        QStringList seen;
        about.setTestHook([&](QDialog &dialog) {
            CloseGuard guard{dialog};
            seen << dialog.windowTitle() << about.LabelAboutContentName->text()
                 << about.LabelAboutContentVersion->text() << about.LabelAboutContentAuthor->text()
                 << about.LabelAboutContentAuthorValue->text() << about.LabelAboutContentWebsiteValue->text();
            QVERIFY(about.LabelAboutReportBug->isVisible());
            QVERIFY(HasLinkStyle(about.LabelAboutContentWebsiteValue));
            QVERIFY(HasLinkStyle(about.LabelAboutReportBug));
            QTest::mouseClick(about.LabelAboutContentWebsiteValue, Qt::LeftButton);
            QTest::mouseClick(about.LabelAboutReportBug, Qt::LeftButton);
            QTest::keyClick(about.ButtonAboutOk, Qt::Key_Escape);
        });
        QVERIFY(about.ShowModal() != 6);
        QCOMPARE(seen, (QStringList{u"About"_s, u"Kelvane"_s, versionLine(), u"Author:"_s,
                                    u"Ann Author"_s, u"https://example.org/kelvane"_s}));
        QCOMPARE(m_catcher.urls, (QList<QUrl>{QUrl(u"https://example.org/kelvane"_s),
                                              QUrl(u"mailto:bugs@example.org"_s)}));
        QCOMPARE(about.size(), QSize(360, 240));
        QCOMPARE(about.ButtonAboutOk->geometry(), QRect(272, 204, 80, 28));
        QCOMPARE(about.ImageAboutHeader->pixmap().size(), QSize(340, 90));
    }

    void withoutAddresses()
    {
        TkvFormAbout about(*m_lang, {u"Ann Author"_s, QString(), QString()});
        about.setTestHook([&](QDialog &dialog) {
            CloseGuard guard{dialog};
            QVERIFY(!about.LabelAboutReportBug->isVisible());
            QVERIFY(about.LabelAboutContentWebsiteValue->text().isEmpty());
            QVERIFY(!HasLinkStyle(about.LabelAboutContentWebsiteValue));
            QTest::mouseClick(about.LabelAboutContentWebsiteValue, Qt::LeftButton);
            dialog.reject();
        });
        about.ShowModal();
        QVERIFY(m_catcher.urls.isEmpty());
    }

    void enterPressesOk()
    {
        TkvFormAbout about(*m_lang, {});
        about.setTestHook([&](QDialog &dialog) {
            CloseGuard guard{dialog};
            QVERIFY(dialog.focusWidget());
            QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
        });
        QCOMPARE(about.ShowModal(), 6);
    }

    void relabelledOnEveryShow()
    {
        TkvFormAbout about(*m_lang, {u"Ann Author"_s, u"https://example.org"_s, u"bugs@example.org"_s});
        QStringList seen;
        QRect ok;
        about.setTestHook([&](QDialog &dialog) {
            seen << dialog.windowTitle() << about.LabelAboutContentAuthor->text()
                 << about.LabelAboutContentVersion->text();
            ok = about.ButtonAboutOk->geometry();
            dialog.reject();
        });
        // A language chosen after the box was created.
        m_lang->LoadLanguage(u"hebrew"_s, true);
        about.ShowModal();
        QCOMPARE(seen, (QStringList{u"אודות"_s, u"מחבר:"_s, versionLine()}));
        QCOMPARE(about.layoutDirection(), Qt::RightToLeft);
        QCOMPARE(ok, QRect(8, 204, 80, 28));

        seen.clear();
        m_lang->LoadLanguage(QString(), true);
        about.ShowModal();
        QCOMPARE(seen, (QStringList{u"About"_s, u"Author:"_s, versionLine()}));
        QCOMPARE(ok, QRect(272, 204, 80, 28));
    }

private:
    kelvane::test::UrlCatcher m_catcher;
    std::unique_ptr<TLang> m_lang;
};

QTEST_MAIN(TestAbout)
#include "test_shell_about.moc"
