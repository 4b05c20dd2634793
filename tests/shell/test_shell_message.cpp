// SPDX-License-Identifier: GPL-3.0-or-later
#include "language/kvLanguage.h"
#include "shell/kvUnitMessage.h"

#include <QApplication>
#include <QScreen>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

// What the dialog looked like while it was on screen.
struct Shown
{
    QSize client;
    QString title;
    QRect label;
    QString labelText;
    QRect valid;
    QRect cancel;
    QString validText;
    QString cancelText;
    bool cancelVisible = false;
    QString focus;
};

// Closes the dialog when a hook returns, also after a failed check, so a
// test never waits on a modal window.
struct CloseGuard
{
    QDialog &dialog;
    ~CloseGuard()
    {
        if (dialog.isVisible())
            dialog.done(-1);
    }
};

Shown capture(TkvFormMessage &form)
{
    Shown shown;
    shown.client = form.size();
    shown.title = form.windowTitle();
    shown.label = form.LabelMessage->geometry();
    shown.labelText = form.LabelMessage->text();
    shown.valid = form.ButtonMessageValid->geometry();
    shown.cancel = form.ButtonMessageCancel->geometry();
    shown.validText = form.ButtonMessageValid->text();
    shown.cancelText = form.ButtonMessageCancel->text();
    shown.cancelVisible = form.ButtonMessageCancel->isVisible();
    if (QWidget *focus = form.focusWidget())
        shown.focus = focus->objectName();
    return shown;
}

} // namespace

class TestMessage : public QObject
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
        m_lang = std::make_unique<TLang>(QStringLiteral(KELVANE_SOURCE_DIR));
        m_lang->LoadDefaults();
        m_form = std::make_unique<TkvFormMessage>(*m_lang);
    }
    void cleanup() { m_form.reset(); }

    void layout_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<bool>("narrowest");
        const QString wide = u"The uninstall program of this application could not be found on the disk"_s;
        QTest::newRow("short message") << u"Done."_s << false << true;
        QTest::newRow("short question") << u"Sure?"_s << true << true;
        QTest::newRow("wide message") << wide << false << false;
        QTest::newRow("wide question") << wide << true << false;
        QTest::newRow("question on two lines") << u"Rename the entry?|It keeps its key."_s << true << true;
    }
    void layout()
    {
        QFETCH(QString, text);
        QFETCH(bool, confirm);
        QFETCH(bool, narrowest);
        Shown shown;
        m_form->setTestHook([&](QDialog &dialog) {
            shown = capture(*m_form);
            dialog.reject();
        });
        if (confirm)
            m_form->DisplayConfirmation(text);
        else
            m_form->DisplayMessage(text);

        const int labelWidth = shown.label.width();
        const int labelHeight = shown.label.height();
        QCOMPARE(shown.label.topLeft(), QPoint(8, 8));
        const int width = std::max(168, labelWidth) + 16;
        QCOMPARE(shown.client, QSize(width, 32 + labelHeight + 28));
        QCOMPARE(width == 184, narrowest);
        QCOMPARE(shown.valid.size(), QSize(80, 28));
        QCOMPARE(shown.valid.top(), 24 + labelHeight);
        QCOMPARE(shown.cancelVisible, confirm);
        if (confirm) {
            QCOMPARE(shown.valid.left(), (width - 168) / 2);
            QCOMPARE(shown.cancel.topLeft(), QPoint(shown.valid.left() + 88, shown.valid.top()));
            QCOMPARE(shown.focus, u"ButtonMessageCancel"_s);
        } else {
            // One button, centred under the text.
            QCOMPARE(shown.valid.left(), (width - 168) / 2 + 44);
            QCOMPARE(shown.focus, u"ButtonMessageValid"_s);
        }
        if (narrowest && !confirm)
            QCOMPARE(shown.valid.left(), 52);
    }

    // A reason wider than the screen (a long backup path) wraps, at the
    // path's separators too, and the dialog stays on the screen whole.
    void widerThanTheScreenWraps()
    {
        const QString path = u"/home/user/.local/share/Kelvane/backups/"_s + QString(12, u'x').repeated(30)
                             + u"/2026-12-09 Software-Microsoft-Windows-CurrentVersion-Uninstall.reg"_s;
        const QString text = u"Kelvane could not write the backup into "_s + path + u", so nothing was changed.|No "
                                                                                     "room left: the end."_s;
        Shown shown;
        QRect frame;
        m_form->setTestHook([&](QDialog &dialog) {
            shown = capture(*m_form);
            frame = dialog.frameGeometry();
            dialog.reject();
        });
        m_form->DisplayMessage(text);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.contains(frame), qPrintable(u"%1,%2 %3x%4"_s.arg(frame.x()).arg(frame.y())
                                                        .arg(frame.width()).arg(frame.height())));
        QVERIFY(shown.label.height() > 3 * m_form->fontMetrics().height());
        QCOMPARE(shown.labelText.remove(QChar(0x200B)), QString(text).replace(u'|', u'\n'));
        QCOMPARE(shown.client.height(), 32 + shown.label.height() + 28);

        // The next short message is laid out on one line again.
        m_form->DisplayMessage(u"Done."_s);
        QCOMPARE(shown.client.width(), 184);
    }

    void rightToLeftMirrors()
    {
        m_lang->RightToLeft = true;
        Shown shown;
        m_form->setTestHook([&](QDialog &dialog) {
            shown = capture(*m_form);
            dialog.reject();
        });
        m_form->DisplayConfirmation(u"Sure?"_s);
        QCOMPARE(shown.client.width(), 184);
        // Yes reads first, so it sits on the right.
        QCOMPARE(shown.valid.left(), 184 - 8 - 80);
        QCOMPARE(shown.cancel.left(), 8);
        QCOMPARE(shown.label.right(), 184 - 8 - 1);
    }

    void answers_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("answer");
        QTest::newRow("Enter on the focused no") << u"enter"_s << false;
        QTest::newRow("Space on the focused no") << u"space"_s << false;
        QTest::newRow("Escape") << u"escape"_s << false;
        QTest::newRow("close box") << u"close"_s << false;
        QTest::newRow("click no") << u"clickNo"_s << false;
        QTest::newRow("click yes") << u"clickYes"_s << true;
        QTest::newRow("access key of yes") << u"altY"_s << true;
        QTest::newRow("Tab back to yes, Enter") << u"backtabEnter"_s << true;
    }
    void answers()
    {
        QFETCH(QString, action);
        QFETCH(bool, answer);
        m_form->setTestHook([&](QDialog &dialog) {
            CloseGuard guard{dialog};
            QVERIFY(QTest::qWaitForWindowActive(&dialog));
            QWidget *focus = QApplication::focusWidget();
            QVERIFY(focus);
            if (action == u"enter")
                QTest::keyClick(focus, Qt::Key_Return);
            else if (action == u"space")
                QTest::keyClick(focus, Qt::Key_Space);
            else if (action == u"escape")
                QTest::keyClick(focus, Qt::Key_Escape);
            else if (action == u"close")
                dialog.close();
            else if (action == u"clickNo")
                QTest::mouseClick(m_form->ButtonMessageCancel, Qt::LeftButton);
            else if (action == u"clickYes")
                QTest::mouseClick(m_form->ButtonMessageValid, Qt::LeftButton);
            else if (action == u"altY")
                QTest::keyClick(dialog.windowHandle(), Qt::Key_Y, Qt::AltModifier);
            else if (action == u"backtabEnter") {
                QTest::keyClick(focus, Qt::Key_Backtab, Qt::ShiftModifier);
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            }
            // An access key clicks its button after a short animation.
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 2000);
        });
        QCOMPARE(m_form->DisplayConfirmation(u"Remove the entry?"_s), answer);

        QVERIFY(!m_form->isVisible());
    }

    void captionsFollowTheUse()
    {
        Shown shown;
        m_form->setTestHook([&](QDialog &dialog) {
            shown = capture(*m_form);
            dialog.reject();
        });
        m_form->DisplayConfirmation(u"Sure?"_s);
        QCOMPARE(shown.title, u"Confirmation"_s);
        QCOMPARE(shown.validText, u"&Yes"_s);
        QCOMPARE(shown.cancelText, u"&No"_s);
        m_form->DisplayMessage(u"Done."_s);
        QCOMPARE(shown.title, u"Message"_s);
        QCOMPARE(shown.validText, u"&OK"_s);
        QVERIFY(!shown.cancelVisible);

        // Texts the catalogue lacks leave the last use's captions.
        m_form->DisplayConfirmation(u"Sure?"_s);
        m_lang->Strings.setValue(u"FormCaptionMessage"_s, QString());
        m_lang->Strings.setValue(u"ButtonCaptionOk"_s, QString());
        m_form->DisplayMessage(u"Done."_s);
        QCOMPARE(shown.title, u"Confirmation"_s);
        QCOMPARE(shown.validText, u"&Yes"_s);
        QVERIFY(!shown.cancelVisible);
    }

    void lineBreaks_data()
    {
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("lines");
        QTest::newRow("one line") << false << u"alpha"_s << u"alpha"_s << 1;
        QTest::newRow("one break") << false << u"alpha|beta"_s << u"alpha\nbeta"_s << 2;
        QTest::newRow("empty line") << false << u"alpha||beta"_s << u"alpha\n\nbeta"_s << 3;
        QTest::newRow("UTF-8 catalogue") << true << u"שלום|עולם"_s << u"שלום\nעולם"_s << 2;
    }
    void lineBreaks()
    {
        QFETCH(bool, utf8);
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(int, lines);
        m_lang->UseUTF8 = utf8;
        m_form->SetMessageText(text);
        QCOMPARE(m_form->LabelMessage->text(), shown);
        const int lineHeight = m_form->LabelMessage->fontMetrics().lineSpacing();
        QVERIFY2(std::abs(m_form->LabelMessage->height() - lines * lineHeight) <= 2,
                 qPrintable(u"label height %1 for %2 lines of %3"_s.arg(m_form->LabelMessage->height())
                                .arg(lines)
                                .arg(lineHeight)));
    }

    void markupShownAsText()
    {
        // Application names come from the registry and may look like markup.
        m_form->SetMessageText(u"<b>Tool</b>"_s);
        QCOMPARE(m_form->LabelMessage->textFormat(), Qt::PlainText);
        QVERIFY(m_form->LabelMessage->width() >= m_form->LabelMessage->fontMetrics().horizontalAdvance(u"<b>Tool</b>"_s));
    }

private:
    std::unique_ptr<TLang> m_lang;
    std::unique_ptr<TkvFormMessage> m_form;
};

QTEST_MAIN(TestMessage)
#include "test_shell_message.moc"
