// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kvShellCommon.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace kelvane {

class TLang;

// The program's one message box: information with one button, or a yes/no
// question. Created once and reused; it sizes itself to the text on every show.
class TkvFormMessage : public QDialog
{
    Q_OBJECT
public:
    // Modal results of the two buttons.
    static constexpr int ResultYes = 6;
    static constexpr int ResultNo = 7;

    explicit TkvFormMessage(TLang &lang, QWidget *parent = nullptr);

    void DisplayMessage(const QString &text);
    bool DisplayConfirmation(const QString &text);
    // "|" becomes a line break.
    void SetMessageText(const QString &text);
    void SetFormCaption(const QString &text);

    void setTestHook(DialogHook hook) { m_hook = std::move(hook); }

    QLabel *LabelMessage;
    QPushButton *ButtonMessageValid;
    QPushButton *ButtonMessageCancel;

private:
    void CreateForm();
    void ShowForm();
    // A label wider than the screen wraps, and stays within its height.
    void fitToScreen(const QRect &available);
    int showModal();
    void applyButtonCaption(QPushButton *button, const QString &key);

    TLang &m_lang;
    DialogHook m_hook;
};

} // namespace kelvane
