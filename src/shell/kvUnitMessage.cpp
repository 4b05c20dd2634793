// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvUnitMessage.h"

#include "common/kvCommon.h"
#include "config/kvConfig.h"
#include "language/kvLanguage.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

constexpr int ButtonWidth = 80;
constexpr int ButtonHeight = 28;

} // namespace

TkvFormMessage::TkvFormMessage(TLang &lang, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint)
    , LabelMessage(new QLabel(this))
    , ButtonMessageValid(new QPushButton(this))
    , ButtonMessageCancel(new QPushButton(this))
    , m_lang(lang)
{
    setObjectName(u"kvFormMessage"_s);
    setFont(ShellFont());
    setModal(true);
    LabelMessage->setObjectName(u"LabelMessage"_s);
    // Messages carry application names from the registry: never rich text.
    LabelMessage->setTextFormat(Qt::PlainText);
    LabelMessage->setAttribute(Qt::WA_TranslucentBackground);
    ButtonMessageValid->setObjectName(u"ButtonMessageValid"_s);
    ButtonMessageCancel->setObjectName(u"ButtonMessageCancel"_s);
    ButtonMessageValid->resize(ButtonWidth, ButtonHeight);
    ButtonMessageCancel->resize(ButtonWidth, ButtonHeight);
    // Enter presses the no button unless another button has the focus.
    ButtonMessageCancel->setDefault(true);
    setTabOrder(ButtonMessageValid, ButtonMessageCancel);
    connect(ButtonMessageValid, &QPushButton::clicked, this, [this] { done(ResultYes); });
    connect(ButtonMessageCancel, &QPushButton::clicked, this, [this] { done(ResultNo); });
    resize(200, 84);
    CreateForm();
}

void TkvFormMessage::CreateForm()
{
    m_lang.ApplyToForm(this);
}

void TkvFormMessage::applyButtonCaption(QPushButton *button, const QString &key)
{
    const QString caption = m_lang.Strings.value(key);
    if (!caption.isEmpty())
        TLang::ApplyToComponent(button, caption);
}

void TkvFormMessage::DisplayMessage(const QString &text)
{
    if (const QString caption = m_lang.Strings.value(u"FormCaptionMessage"_s); !caption.isEmpty())
        SetFormCaption(caption);
    SetMessageText(text);
    applyButtonCaption(ButtonMessageValid, u"ButtonCaptionOk"_s);
    ButtonMessageCancel->hide();
    showModal();
}

bool TkvFormMessage::DisplayConfirmation(const QString &text)
{
    if (const QString caption = m_lang.Strings.value(u"FormCaptionConfirm"_s); !caption.isEmpty())
        SetFormCaption(caption);
    SetMessageText(text);
    applyButtonCaption(ButtonMessageValid, u"ButtonCaptionYes"_s);
    applyButtonCaption(ButtonMessageCancel, u"ButtonCaptionNo"_s);
    ButtonMessageValid->show();
    ButtonMessageCancel->show();
    return showModal() == ResultYes;
}

void TkvFormMessage::SetMessageText(const QString &text)
{
    // In UTF-8 mode the catalogue's texts are already decoded; "|" is a single
    // byte that never occurs inside a UTF-8 sequence, so replacing it in the
    // decoded text is the same as replacing it in the bytes.
    LabelMessage->setWordWrap(false);
    TLang::ApplyToComponent(LabelMessage, ReplaceText(u"|"_s, u"\n"_s, text));
    LabelMessage->adjustSize();
}

void TkvFormMessage::fitToScreen(const QRect &available)
{
    constexpr int M = config::DialogMargin;
    const int widest = available.width() - 2 * M - config::DialogScreenAllowance;
    if (widest <= 0 || LabelMessage->width() <= widest)
        return;
    // Too wide for the screen: the text wraps, paths after their separators
    // too (a long backup path has no blank to break at).
    QString text = LabelMessage->text();
    text.replace(u'/', u"/\u200B"_s).replace(u'\\', u"\\\u200B"_s);
    LabelMessage->setText(text);
    LabelMessage->setWordWrap(true);
    const int buttons = std::max(ButtonMessageValid->height(), ButtonMessageCancel->height());
    const int tallest = available.height() - 4 * M - buttons - config::DialogScreenAllowance;
    LabelMessage->resize(widest, std::max(1, std::min(LabelMessage->heightForWidth(widest), tallest)));
}

void TkvFormMessage::SetFormCaption(const QString &text)
{
    setWindowTitle(text);
}

void TkvFormMessage::ShowForm()
{
    constexpr int M = config::DialogMargin;
    // The reading order follows the catalogue in use now, not the one of
    // start-up: a language chosen since then must not read backwards.
    setLayoutDirection(m_lang.RightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    LabelMessage->setAlignment(ReadingEdge(LabelMessage, Qt::AlignTop));
    LabelMessage->adjustSize();
    const QScreen *screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
    if (screen)
        fitToScreen(screen->availableGeometry());
    const QSize label = LabelMessage->size();
    const QSize valid = ButtonMessageValid->size();
    const QSize cancel = ButtonMessageCancel->size();

    const int buttonsWidth = M + valid.width() + cancel.width();
    const int w = std::max(buttonsWidth, label.width());
    const int clientWidth = w + 2 * M;
    const int h = std::max(valid.height(), cancel.height());
    setFixedSize(clientWidth, 4 * M + label.height() + h);

    const int top = 3 * M + label.height();
    int validLeft = (clientWidth - buttonsWidth) / 2;
    const int cancelLeft = M + validLeft + valid.width();
    if (ButtonMessageCancel->isHidden())
        validLeft += (cancel.width() + M) / 2;
    PlaceLogical(LabelMessage, QRect(QPoint(M, M), label));
    PlaceLogical(ButtonMessageValid, QRect(QPoint(validLeft, top), valid));
    PlaceLogical(ButtonMessageCancel, QRect(QPoint(cancelLeft, top), cancel));

    if (!ButtonMessageCancel->isHidden() && ButtonMessageCancel->isEnabled())
        ButtonMessageCancel->setFocus(Qt::OtherFocusReason);
    else if (!ButtonMessageValid->isHidden() && ButtonMessageValid->isEnabled())
        ButtonMessageValid->setFocus(Qt::OtherFocusReason);

    if (screen) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

int TkvFormMessage::showModal()
{
    ShowForm();
    return ExecDialog(*this, m_hook);
}

} // namespace kelvane
