#include "UrlCatcher.h"
#include "gui/kvCommonGui.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWidget>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

class TestCommonGui : public QObject
{
    Q_OBJECT
private slots:
    void init() { m_catcher.urls.clear(); }

    void linkStyleToggles()
    {
        QWidget parent;
        auto *label = new QLabel(u"x"_s, &parent);
        const QColor plain = label->palette().color(QPalette::WindowText);
        SetLinkStyle(label, true);
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0, 0, 153));
        QVERIFY(label->font().underline());
        QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
        QVERIFY(HasLinkStyle(label));
        SetLinkStyle(label, false);
        QCOMPARE(label->palette().color(QPalette::WindowText), plain);
        QVERIFY(!label->font().underline());
        QCOMPARE(label->cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!HasLinkStyle(label));
    }

    void openDocument_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("scheme");
        QTest::newRow("web") << u"https://example.org/app"_s << u"https"_s;
        QTest::newRow("bare host") << u"www.example.org"_s << u"http"_s;
        QTest::newRow("mail") << u"mailto:bugs@example.org"_s << u"mailto"_s;
    }
    void openDocument()
    {
        QFETCH(QString, target);
        QFETCH(QString, scheme);
        OpenDocument(target);
        QCOMPARE(m_catcher.urls.size(), 1);
        QCOMPARE(m_catcher.urls.first().scheme(), scheme);
    }

    void openDocumentFolderAndEmpty()
    {
        OpenDocument(QString());
        QVERIFY(m_catcher.urls.isEmpty());
        QTemporaryDir folder;
        OpenDocument(folder.path());
        QCOMPARE(m_catcher.urls.size(), 1);
        QCOMPARE(m_catcher.urls.first(), QUrl::fromLocalFile(folder.path()));
    }

private:
    kelvane::test::UrlCatcher m_catcher;
};

QTEST_MAIN(TestCommonGui)
#include "test_commongui.moc"
