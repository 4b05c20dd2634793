// SPDX-License-Identifier: GPL-3.0-or-later
#include "FakeFrameHost.h"
#include "UrlCatcher.h"
#include "gui/kvCommonGui.h"
#include "gui/kvUnitSettings.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QVBoxLayout>

#include <memory>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;
using kelvane::test::FakeFrameHost;

namespace {

const QString BuiltinAuthor = u"Kelvane Maker"_s;
const QString BuiltinWebsite = u"https://kelvane.example.org/"_s;
const QString BuiltinVersion = u"2.0.1"_s;

// A host, its main window holding a button outside the frame and the frame.
struct Page
{
    QTemporaryDir program;
    std::unique_ptr<FakeFrameHost> host;
    QPushButton *outside = nullptr;
    TkvFrameSettings *frame = nullptr;

    template<typename Widget>
    Widget *find(const QString &name) const
    {
        return frame->findChild<Widget *>(name);
    }
    QComboBox *combo() const { return find<QComboBox>(u"ComboboxSettingsLanguage"_s); }
    QLabel *author() const { return find<QLabel>(u"LabelSettingsLanguageAuthorValue"_s); }
    QLabel *version() const { return find<QLabel>(u"LabelSettingsLanguageVersionValue"_s); }
    QPushButton *apply() const { return find<QPushButton>(u"ButtonSettingsApply"_s); }
    QPushButton *reset() const { return find<QPushButton>(u"ButtonSettingsReset"_s); }
    QCheckBox *check(const QString &name) const { return find<QCheckBox>(name); }
    // Both buttons follow one rule; a difference between them is a fault of its own.
    bool pending() const
    {
        if (apply()->isEnabled() != reset()->isEnabled())
            qWarning("Apply and Reset disagree");
        return apply()->isEnabled() && reset()->isEnabled();
    }
    int indexOf(const QString &display) const { return combo()->findText(display); }
};

void hover(QWidget *widget)
{
    const QPointF inside(2, 2);
    QEnterEvent enter(inside, inside, widget->mapToGlobal(inside));
    QCoreApplication::sendEvent(widget, &enter);
}

// A click on the box itself: the check box stretches wider than its text,
// and a click beside the text does nothing.
void toggle(QCheckBox *box)
{
    const int x = box->isRightToLeft() ? box->width() - 7 : 7;
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(x, box->height() / 2));
}

// Whether everything drawn differs from the background only right of the centre.
bool inkStartsRightOfCentre(QWidget *widget)
{
    const QImage image = widget->grab().toImage();
    const QRgb background = image.pixel(0, 0);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width() / 2; ++x) {
            if (image.pixel(x, y) != background)
                return false;
        }
    }
    return true;
}

void unhover(QWidget *widget)
{
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &leave);
}

} // namespace

class TestSettingsFrame : public QObject
{
    Q_OBJECT

private:
    kelvane::test::UrlCatcher m_catcher;

    // `files`: fixture names (from tests/data/settingsframe, or "languages/x.lng"
    // for a shipped file), each optionally renamed with "source=target".
    std::unique_ptr<Page> makePage(const QStringList &files, bool withFolder = true)
    {
        auto page = std::make_unique<Page>();
        if (withFolder) {
            const QDir languages(page->program.filePath(u"languages"_s));
            QDir().mkpath(languages.path());
            for (const QString &entry : files) {
                const QStringList parts = entry.split(u'=');
                const QString source = parts.first().startsWith(u"languages/"_s)
                                           ? QStringLiteral(KELVANE_SOURCE_DIR "/") + parts.first()
                                           : QStringLiteral(KELVANE_TEST_DATA "/settingsframe/") + parts.first();
                const QString target = parts.size() > 1 ? parts.at(1) : QFileInfo(source).fileName();
                if (!QFile::copy(source, languages.filePath(target)))
                    qFatal("cannot copy %s", qPrintable(source));
            }
        }
        page->host = std::make_unique<FakeFrameHost>(QStringLiteral(KELVANE_TEST_DATA "/tools/system.reg"),
                                                     page->program.path(),
                                                     TLang::BuiltinInfo{BuiltinAuthor, BuiltinWebsite, BuiltinVersion});
        QWidget *window = page->host->mainWindow();
        window->setObjectName(u"kvFormMain"_s);
        auto *layout = new QVBoxLayout(window);
        page->outside = new QPushButton(u"Outside"_s, window);
        page->outside->setObjectName(u"ButtonMenuSettings"_s);
        layout->addWidget(page->outside);
        page->frame = new TkvFrameSettings(*page->host, window);
        layout->addWidget(page->frame);
        window->resize(480, 440);
        return page;
    }

    // Shows the window and moves the focus into the frame from outside it, as
    // the main window does when it shows the page.
    static bool enter(Page &page)
    {
        QWidget *window = page.host->mainWindow();
        if (!window->isVisible()) {
            window->show();
            window->activateWindow();
            if (!QTest::qWaitForWindowActive(window))
                return false;
        }
        page.outside->setFocus(Qt::OtherFocusReason);
        page.frame->setFocus(Qt::OtherFocusReason);
        return page.frame->hasFocus();
    }

    // Chooses an entry the way a user does: drop-down list, arrow keys, Return.
    static void choose(Page &page, const QString &display)
    {
        QComboBox *combo = page.combo();
        const int target = page.indexOf(display);
        QVERIFY2(target >= 0, qPrintable(display));
        combo->setFocus(Qt::MouseFocusReason);
        combo->showPopup();
        QAbstractItemView *view = combo->view();
        QTRY_VERIFY(view->isVisible());
        view->setCurrentIndex(view->model()->index(target, 0));
        QTest::keyClick(view, Qt::Key_Return);
        QTRY_VERIFY(!view->isVisible());
        QCOMPARE(combo->currentIndex(), target);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }
    void init() { m_catcher.urls.clear(); }

    void layoutAndNames()
    {
        auto page = makePage({});
        TkvFrameSettings &frame = *page->frame;
        QCOMPARE(frame.objectName(), u"kvFrameSettings"_s);
        QVERIFY(frame.focusPolicy() != Qt::NoFocus);
        QVERIFY(enter(*page));
        auto *title = page->find<QFrame>(u"PanelSettingsTitle"_s);
        QCOMPARE(title->height(), 28);
        QCOMPARE(title->frameShadow(), QFrame::Sunken);
        QCOMPARE(title->palette().color(QPalette::Window), frame.palette().color(QPalette::Highlight));
        auto *titleLabel = page->find<QLabel>(u"LabelSettingsTitle"_s);
        QCOMPARE(titleLabel->text(), u"Preferences"_s);
        QVERIFY(titleLabel->font().bold());
        QCOMPARE(titleLabel->font().pixelSize(), 15);
        QCOMPARE(titleLabel->palette().color(QPalette::WindowText),
                 frame.palette().color(QPalette::HighlightedText));
        // A new desktop palette recolours the title.
        QPalette changed = page->host->mainWindow()->palette();
        changed.setColor(QPalette::Highlight, Qt::darkGreen);
        changed.setColor(QPalette::HighlightedText, Qt::yellow);
        page->host->mainWindow()->setPalette(changed);
        QCOMPARE(title->palette().color(QPalette::Window), QColor(Qt::darkGreen));
        QCOMPARE(titleLabel->palette().color(QPalette::WindowText), QColor(Qt::yellow));
        QCOMPARE(page->find<QGroupBox>(u"GroupboxSettingsGeneral"_s)->height(), 50);
        QCOMPARE(page->find<QGroupBox>(u"GroupboxSettingsLanguage"_s)->height(), 94);
        QCOMPARE(page->find<QGroupBox>(u"GroupboxSettingsProgram"_s)->title(), u"Applications settings"_s);
        QCOMPARE(page->find<QGroupBox>(u"GroupboxSettingsProgram"_s)->height(), 72);
        QCOMPARE(page->combo()->width(), 200);
        QVERIFY(!page->combo()->isEditable());
        QCOMPARE(page->find<QLabel>(u"LabelSettingsLanguageAuthor"_s)->width(), 60);
        QCOMPARE(page->check(u"CheckboxSettingsShowUpdates"_s)->text(), u"Show updates into apllication list."_s);
        // Top to bottom, each below the one before it.
        int bottom = 0;
        for (const QString &name : {u"PanelSettingsTitle"_s, u"GroupboxSettingsGeneral"_s,
                                    u"GroupboxSettingsLanguage"_s, u"GroupboxSettingsProgram"_s,
                                    u"PanelSettingsButtons"_s}) {
            const QWidget *block = page->find<QWidget>(name);
            QVERIFY2(block->y() >= bottom + 8, qPrintable(name));
            bottom = block->geometry().bottom();
        }
        // Reset rightmost at the frame's right margin, Apply left of it.
        QCOMPARE(page->reset()->size(), QSize(100, 28));
        QCOMPARE(page->apply()->size(), QSize(100, 28));
        const QRect reset(page->reset()->mapTo(&frame, QPoint()), page->reset()->size());
        const QRect apply(page->apply()->mapTo(&frame, QPoint()), page->apply()->size());
        QCOMPARE(reset.right(), frame.width() - 1 - 8);
        QVERIFY(apply.right() < reset.left());
        QCOMPARE(reset.bottom(), frame.height() - 1 - 8);
    }

    void firstShowWithBuiltinLanguage()
    {
        auto page = makePage({u"plain.lng"_s, u"linked.lng"_s});
        QVERIFY(enter(*page));
        QComboBox *combo = page->combo();
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->itemText(0), u"English (default)"_s);
        QCOMPARE(combo->itemText(1), u"Linked English"_s);
        QCOMPARE(combo->currentIndex(), 0);
        QCOMPARE(page->author()->text(), BuiltinAuthor);
        QVERIFY(HasLinkStyle(page->author()));
        QCOMPARE(page->author()->cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(page->version()->text(), BuiltinVersion);
        QVERIFY(!page->apply()->isEnabled());
        QVERIFY(!page->reset()->isEnabled());

        // The link's hint, its click, and the idle text back on leaving.
        hover(page->author());
        QCOMPARE(page->host->statusText(), u"Open this link into your Web browser"_s);
        QTest::mouseClick(page->author(), Qt::LeftButton);
        QCOMPARE(m_catcher.urls, QList<QUrl>{QUrl(BuiltinWebsite)});
        unhover(page->author());
        QCOMPARE(page->host->statusText(), QString());
        hover(page->apply());
        QCOMPARE(page->host->statusText(), u"Apply changes to preferences"_s);
        QCOMPARE(page->host->lastHintSender, page->apply());
        unhover(page->apply());
        hover(page->reset());
        QCOMPARE(page->host->statusText(), u"Reset preferences to previous state"_s);
    }

    void checkBoxBackToStoredState_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("stored");
        for (const bool stored : {false, true}) {
            for (const char *name : {"CheckboxSettingsSaveWindow", "CheckboxSettingsShowUpdates",
                                     "CheckboxSettingsAllowEdition"}) {
                QTest::addRow("%s %s", name, stored ? "on" : "off") << QString::fromLatin1(name) << stored;
            }
        }
    }
    void checkBoxBackToStoredState()
    {
        QFETCH(QString, name);
        QFETCH(bool, stored);
        auto page = makePage({});
        TSettings &settings = page->host->settings();
        settings.SaveWindow = settings.ShowUpdates = settings.AllowEdition = !stored;
        bool &field = name.endsWith(u"SaveWindow"_s)    ? settings.SaveWindow
                      : name.endsWith(u"ShowUpdates"_s) ? settings.ShowUpdates
                                                        : settings.AllowEdition;
        field = stored;
        QVERIFY(enter(*page));
        QCheckBox *box = page->check(name);
        QCOMPARE(box->isChecked(), stored);
        QVERIFY(!page->pending());
        toggle(box);
        QCOMPARE(box->isChecked(), !stored);
        QVERIFY(page->pending());
        toggle(box);
        QVERIFY(!page->pending());

        // Applied, the new state is the stored one and nothing is pending.
        toggle(box);
        QTest::mouseClick(page->apply(), Qt::LeftButton);
        QCOMPARE(field, !stored);
        QVERIFY(!page->pending());
        // The disabled button hands the focus to the page, not to the main window.
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus == page->frame || page->frame->isAncestorOf(focus));
    }

    void choosingShowsButLoadsOnlyOnApply()
    {
        auto page = makePage({u"plain.lng"_s, u"linked.lng"_s});
        TLang &lang = page->host->lang();
        QVERIFY(enter(*page));
        choose(*page, u"Linked English"_s);
        QVERIFY(page->pending());
        QCOMPARE(page->author()->text(), u"Linked Translator"_s);
        QCOMPARE(page->version()->text(), u"1.4"_s);
        QVERIFY(HasLinkStyle(page->author()));
        // Nothing loaded, and the choice survives the drop-down closing.
        QCOMPARE(lang.Name, u"default"_s);
        QCOMPARE(page->apply()->text(), u"&Apply"_s);
        choose(*page, u"English (default)"_s);
        QVERIFY(!page->pending());
        QCOMPARE(page->author()->text(), BuiltinAuthor);

        choose(*page, u"Linked English"_s);
        QTest::mouseClick(page->apply(), Qt::LeftButton);
        QCOMPARE(page->host->settings().Language, u"linked"_s);
        QCOMPARE(lang.Name, u"linked"_s);
        QCOMPARE(page->apply()->text(), u"Use"_s);
        QCOMPARE(page->find<QLabel>(u"LabelSettingsTitle"_s)->text(), u"Linked preferences"_s);
        QVERIFY(!page->pending());
        // The link of the chosen entry opens its own site.
        QTest::mouseClick(page->author(), Qt::LeftButton);
        QCOMPARE(m_catcher.urls, QList<QUrl>{QUrl(u"https://translators.example.org/linked"_s)});
    }

    void storedLanguageCases_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("pending");
        // A file gone since the settings were written: the built-in language is loaded and selected.
        QTest::newRow("missing file") << QStringList{u"plain.lng"_s} << u"gone"_s << 0 << true;
        // The file loads, but the list names it differently: no selection.
        QTest::newRow("name differs in case") << QStringList{u"languages/french.lng=French.lng"_s}
                                              << u"french"_s << -1 << false;
        QTest::newRow("exact name") << QStringList{u"languages/french.lng"_s} << u"french"_s << 1 << false;
    }
    void storedLanguageCases()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, stored);
        QFETCH(int, selected);
        QFETCH(bool, pending);
        auto page = makePage(files);
        page->host->settings().Language = stored;
        page->host->lang().LoadLanguage(stored, true);
        QVERIFY(enter(*page));
        QCOMPARE(page->combo()->currentIndex(), selected);
        QCOMPARE(page->pending(), pending);
        if (selected < 0) {
            QCOMPARE(page->author()->text(), u"..."_s);
            QCOMPARE(page->version()->text(), u"..."_s);
        }
        QTest::mouseClick(page->apply(), Qt::LeftButton);
        const QString expected = selected == 0 ? u"default"_s : stored;
        QCOMPARE(page->host->settings().Language, expected);
        QVERIFY(!page->pending());
    }

    void entryWithoutWebsite()
    {
        auto page = makePage({u"plain.lng"_s, u"linked.lng"_s});
        QVERIFY(enter(*page));
        choose(*page, u"Plain English"_s);
        QCOMPARE(page->author()->text(), u"Plain Translator"_s);
        QVERIFY(!HasLinkStyle(page->author()));
        QVERIFY(!page->author()->font().underline());
        QCOMPARE(page->author()->cursor().shape(), Qt::ArrowCursor);
        page->host->setStatusText(u"idle"_s);
        hover(page->author());
        QTest::mouseClick(page->author(), Qt::LeftButton);
        unhover(page->author());
        QVERIFY(m_catcher.urls.isEmpty());
        QCOMPARE(page->host->statusText(), u"idle"_s);
        QCOMPARE(page->host->lastHintSender, nullptr);
        // Back to a linked entry: the link works again.
        choose(*page, u"Linked English"_s);
        QTest::mouseClick(page->author(), Qt::LeftButton);
        QCOMPARE(m_catcher.urls.size(), 1);
    }

    void hostileLanguageFileShownAsText()
    {
        auto page = makePage({u"hostile.lng"_s});
        QVERIFY(enter(*page));
        choose(*page, u"Hostile <i>English</i>"_s);
        QCOMPARE(page->author()->text(), u"<img src=\"/dev/zero\"> Mallory"_s);
        QCOMPARE(page->author()->textFormat(), Qt::PlainText);
        // Not a web or mail address: no link, nothing opened.
        QVERIFY(!HasLinkStyle(page->author()));
        QTest::mouseClick(page->author(), Qt::LeftButton);
        QVERIFY(m_catcher.urls.isEmpty());
        auto *version = page->frame->findChild<QLabel *>(u"LabelSettingsLanguageVersionValue"_s);
        QCOMPARE(version->text(), u"<b>9</b>"_s);
        QCOMPARE(version->textFormat(), Qt::PlainText);
        page->host->settings().Language = u"hostile"_s;
        page->host->lang().LoadLanguage(u"hostile"_s, true);
        page->outside->setFocus(Qt::OtherFocusReason);
        page->frame->setFocus(Qt::OtherFocusReason);
        auto *title = page->frame->findChild<QLabel *>(u"LabelSettingsTitle"_s);
        QCOMPARE(title->text(), u"<h1>Big</h1> preferences"_s);
        QCOMPARE(title->textFormat(), Qt::PlainText);
    }

    void rightToLeftLanguage()
    {
        auto page = makePage({u"languages/hebrew.lng"_s});
        QWidget *window = page->host->mainWindow();
        QVERIFY(enter(*page));
        choose(*page, u"עברית"_s);
        QCOMPARE(window->layoutDirection(), Qt::LeftToRight);
        QTest::mouseClick(page->apply(), Qt::LeftButton);
        QCOMPARE(window->layoutDirection(), Qt::RightToLeft);
        QCOMPARE(page->frame->layoutDirection(), Qt::RightToLeft);
        QCOMPARE(page->apply()->text(), u"&החלה"_s);
        // Reset, Apply's neighbour, now sits at the left edge.
        QTRY_VERIFY(page->reset()->mapTo(page->frame, QPoint()).x() < page->apply()->mapTo(page->frame, QPoint()).x());
        // Texts without a direction of their own ("2.0") follow the page too.
        QCOMPARE(page->version()->text(), u"2.0"_s);
        QVERIFY(inkStartsRightOfCentre(page->version()));

        choose(*page, u"English (default)"_s);
        QTest::mouseClick(page->apply(), Qt::LeftButton);
        QCOMPARE(window->layoutDirection(), Qt::LeftToRight);
        QCOMPARE(page->apply()->text(), u"&Apply"_s);
    }

    void resetAndEnterRestoreTheSettings_data()
    {
        QTest::addColumn<bool>("byReset");
        QTest::newRow("Reset button") << true;
        QTest::newRow("focus from outside") << false;
    }
    void resetAndEnterRestoreTheSettings()
    {
        QFETCH(bool, byReset);
        auto page = makePage({u"plain.lng"_s});
        QVERIFY(enter(*page));
        QCheckBox *box = page->check(u"CheckboxSettingsAllowEdition"_s);
        const bool stored = box->isChecked();
        toggle(box);
        choose(*page, u"Plain English"_s);
        // Moving between the frame's own controls keeps the unapplied choices.
        page->check(u"CheckboxSettingsSaveWindow"_s)->setFocus(Qt::TabFocusReason);
        QCOMPARE(page->combo()->currentIndex(), 1);
        QVERIFY(page->pending());
        if (byReset)
            QTest::mouseClick(page->reset(), Qt::LeftButton);
        else
            QVERIFY(enter(*page));
        QCOMPARE(box->isChecked(), stored);
        QCOMPARE(page->combo()->currentIndex(), 0);
        QCOMPARE(page->author()->text(), BuiltinAuthor);
        QVERIFY(!page->pending());
        QCOMPARE(page->host->settings().Language, u"default"_s);
    }

    void noLanguagesFolder()
    {
        auto page = makePage({}, false);
        auto *group = page->find<QGroupBox>(u"GroupboxSettingsLanguage"_s);
        QVERIFY(enter(*page));
        QVERIFY(group->isHidden());
        QCOMPARE(page->combo()->count(), 1);
        QVERIFY(!page->pending());
        // The options still work.
        toggle(page->check(u"CheckboxSettingsShowUpdates"_s));
        QVERIFY(page->pending());
        QTest::mouseClick(page->apply(), Qt::LeftButton);
        QCOMPARE(page->host->settings().ShowUpdates, page->check(u"CheckboxSettingsShowUpdates"_s)->isChecked());
        // A folder appearing later does not bring the group back.
        QDir().mkpath(page->program.filePath(u"languages"_s));
        QVERIFY(enter(*page));
        QVERIFY(group->isHidden());
    }

    void listingEventsDoNotListAgain()
    {
        auto page = makePage({u"plain.lng"_s, u"linked.lng"_s});
        TLang &lang = page->host->lang();
        int calls = 0;
        // Events run while listing; one of them asks for a Reset.
        lang.setListHook([&] {
            if (calls++ == 0)
                page->frame->SetItems(nullptr);
        });
        QVERIFY(enter(*page));
        QCOMPARE(lang.Languages.size(), 3);
        QCOMPARE(page->combo()->count(), 3);
        QCOMPARE(page->combo()->currentIndex(), 0);
    }

    void screenshots_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("file");
        QTest::newRow("English") << u"English (default)"_s << u"prefs-english.png"_s;
        QTest::newRow("Hebrew") << u"עברית"_s << u"prefs-hebrew.png"_s;
    }
    void screenshots()
    {
        QFETCH(QString, language);
        QFETCH(QString, file);
        auto page = makePage({u"languages/french.lng"_s, u"languages/german.lng"_s, u"languages/hebrew.lng"_s});
        QVERIFY(enter(*page));
        choose(*page, language);
        if (page->pending())
            QTest::mouseClick(page->apply(), Qt::LeftButton);
        page->frame->resize(460, 372);
        const QImage image = page->frame->grab().toImage();
        QVERIFY(!image.isNull());
        // Written only on request, so a test run leaves the tree as it was.
        const QByteArray folder = qgetenv("KELVANE_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            QVERIFY(image.save(QDir(QString::fromLocal8Bit(folder)).filePath(file)));
    }
};

QTEST_MAIN(TestSettingsFrame)
#include "test_settings_frame.moc"
