// SPDX-License-Identifier: GPL-3.0-or-later
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
        QTest::addColumn<QString>("opened"); // empty: never handed to the desktop
        QTest::newRow("web") << u"https://example.org/app"_s << u"https://example.org/app"_s;
        QTest::newRow("plain web") << u"HTTP://example.org"_s << u"http://example.org"_s;
        QTest::newRow("ftp") << u"ftp://ftp.example.org/pub"_s << u"ftp://ftp.example.org/pub"_s;
        QTest::newRow("bare host") << u"www.example.org"_s << u"http://www.example.org"_s;
        QTest::newRow("bare host and port") << u"www.example.org:8080/a"_s << u"http://www.example.org:8080/a"_s;
        QTest::newRow("mail") << u"mailto:bugs@example.org"_s << u"mailto:bugs@example.org"_s;
        // Only the address: "attach" has made mail programs send a file of this machine.
        QTest::newRow("mail with fields") << u"mailto:bugs@example.org?attach=/root/.ssh/id_rsa&subject=x#y"_s
                                          << u"mailto:bugs@example.org"_s;
        QTest::newRow("mail without address") << u"mailto:?attach=/etc/passwd"_s << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("host file") << u"file:///etc/passwd"_s << QString();
        QTest::newRow("script") << u"javascript:alert(1)"_s << QString();
        QTest::newRow("host folder") << u"/tmp"_s << QString();
        QTest::newRow("relative path") << u"./run.sh"_s << QString();
        QTest::newRow("windows path") << u"C:\\windows\\notepad.exe"_s << QString();
        QTest::newRow("unc path") << u"\\\\server\\share"_s << QString();
        QTest::newRow("other scheme") << u"smb://server/share"_s << QString();
        QTest::newRow("no host") << u"http:///etc/passwd"_s << QString();
    }
    void openDocument()
    {
        QFETCH(QString, target);
        QFETCH(QString, opened);
        OpenDocument(target);
        QCOMPARE(m_catcher.urls, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
    }

private:
    kelvane::test::UrlCatcher m_catcher;
};

QTEST_MAIN(TestCommonGui)
#include "test_common_gui.moc"
