// SPDX-License-Identifier: GPL-3.0-or-later
#include "language/kvLanguage.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using namespace kelvane;

namespace {

template<typename T>
T *named(QWidget *parent, const QString &name)
{
    auto *widget = new T(parent);
    widget->setObjectName(name);
    return widget;
}

} // namespace

// Relabelling real widgets: each kind that carries a caption gets it, editors
// and lists keep their contents, and a frame is left to its own pass.
class TestLanguageWidgets : public QObject
{
    Q_OBJECT

private slots:
    void applyToFormAndFrame()
    {
        QTemporaryDir program;
        TLang lang(program.path());
        const QList<QPair<QString, QString>> captions = {
            {u"FormTest"_s, u"Test window"_s},           {u"labeltesttitle"_s, u"Title"_s},
            {u"ButtonTestOk"_s, u"&OK"_s},               {u"CheckboxTestShow"_s, u"Show"_s},
            {u"GroupboxTestOptions"_s, u"Options"_s},    {u"PopupTestRename"_s, u"Rename"_s},
            {u"PanelTestNoInfo"_s, u"Nothing here"_s},   {u"EditTestName"_s, u"must not land"_s},
            {u"ComboTestLanguage"_s, u"must not land"_s}, {u"LabelInner"_s, u"Inner"_s},
            {u"MenuTestMore"_s, u"More"_s},
        };
        for (const auto &[key, value] : captions)
            lang.Captions.setValue(key, value);
        lang.RightToLeft = true;

        QWidget form;
        form.setObjectName(u"kvFormTest"_s);
        auto *label = named<QLabel>(&form, u"LabelTestTitle"_s);
        auto *button = named<QPushButton>(&form, u"ButtonTestOk"_s);
        auto *check = named<QCheckBox>(&form, u"CheckboxTestShow"_s);
        auto *group = named<QGroupBox>(&form, u"GroupboxTestOptions"_s);
        auto *panel = named<QLabel>(group, u"PanelTestNoInfo"_s); // nested below a group box
        auto *edit = named<QLineEdit>(&form, u"EditTestName"_s);
        edit->setText(u"typed"_s);
        auto *combo = named<QComboBox>(&form, u"ComboTestLanguage"_s);
        combo->addItem(u"English"_s);
        auto *menu = named<QMenu>(&form, u"MenuTestMore"_s);
        auto *action = new QAction(menu);
        action->setObjectName(u"PopupTestRename"_s);
        menu->addAction(action);
        auto *frame = named<QFrame>(&form, u"kvFrameInner"_s);
        auto *inner = named<QLabel>(frame, u"LabelInner"_s);
        inner->setText(u"before"_s);

        bool applyingSeen = false;
        connect(action, &QAction::changed, this, [&] { applyingSeen = lang.Applying; });
        lang.ApplyToForm(&form);
        QVERIFY(!lang.Applying);
        QVERIFY(applyingSeen);
        QCOMPARE(form.windowTitle(), u"Test window"_s);
        QCOMPARE(label->text(), u"Title"_s);
        QCOMPARE(button->text(), u"&OK"_s);
        QCOMPARE(check->text(), u"Show"_s);
        QCOMPARE(group->title(), u"Options"_s);
        QCOMPARE(panel->text(), u"Nothing here"_s);
        QCOMPARE(action->text(), u"Rename"_s);
        QCOMPARE(menu->title(), u"More"_s);
        QCOMPARE(edit->text(), u"typed"_s);
        QCOMPARE(combo->currentText(), u"English"_s);
        QCOMPARE(combo->count(), 1);
        QCOMPARE(inner->text(), u"before"_s); // the frame's own pass relabels it
        QCOMPARE(form.layoutDirection(), Qt::RightToLeft);
        QCOMPARE(inner->layoutDirection(), Qt::RightToLeft); // follows the form

        lang.ApplyToFrame(frame);
        QCOMPARE(inner->text(), u"Inner"_s);

        // A form name matches its caption key exactly, case and all.
        lang.Captions.setValue(u"FormTest"_s, QString());
        lang.Captions.setValue(u"formtest"_s, u"lower"_s);
        lang.RightToLeft = false;
        lang.ApplyToForm(&form);
        QCOMPARE(form.windowTitle(), u"Test window"_s);
        QCOMPARE(form.layoutDirection(), Qt::LeftToRight);
    }
};

QTEST_MAIN(TestLanguageWidgets)
#include "test_language_widgets.moc"
