// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvWaitNotice.h"

#include "kvShellCommon.h"
#include "config/kvConfig.h"
#include "language/kvLanguage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

TkvWaitNotice::TkvWaitNotice(TLang &lang, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint)
    , LabelWait(new QLabel(this))
    , ButtonWaitStop(new QPushButton(this))
    , m_lang(lang)
{
    setObjectName(u"kvFormWait"_s);
    setFont(ShellFont());
    // Not modal: the main window is disabled meanwhile, and this one must
    // still take a click or Escape.
    setModal(false);
    LabelWait->setObjectName(u"LabelWait"_s);
    LabelWait->setTextFormat(Qt::PlainText);
    LabelWait->setWordWrap(true);
    LabelWait->setFixedWidth(config::WaitNoticeWidth);
    ButtonWaitStop->setObjectName(u"ButtonWaitStop"_s);
    connect(ButtonWaitStop, &QPushButton::clicked, this, &TkvWaitNotice::reject);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(config::DialogMargin, config::DialogMargin, config::DialogMargin,
                               config::DialogMargin);
    layout->addWidget(LabelWait);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ButtonWaitStop);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TkvWaitNotice::showWaiting(const QString &text)
{
    if (isVisible() || m_stopRequested)
        return;
    setWindowTitle(parentWidget() ? parentWidget()->windowTitle() : QString());
    m_lang.ApplyToForm(this); // the button's caption and the reading order
    LabelWait->setText(text);
    // Shown beside an uninstaller that may still be asking the user
    // something: it takes no keys until clicked.
    setAttribute(Qt::WA_ShowWithoutActivating);
    show();
    raise();
}

void TkvWaitNotice::finish()
{
    hide();
    m_stopRequested = false;
}

void TkvWaitNotice::reject()
{
    // Escape, the button, or the window closed: the wait stops, the notice
    // stays until the wait has ended.
    m_stopRequested = true;
    hide();
}

} // namespace kelvane
