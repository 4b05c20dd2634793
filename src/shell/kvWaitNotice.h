// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace kelvane {

class TLang;

// Said while an uninstaller has ended but other Windows programs of its
// prefix keep the wait going (Wine saves the registry only when they have
// all ended): a small window of its own, usable while the main window is
// disabled, whose button (or Escape, once it is clicked) stops the wait.
class TkvWaitNotice : public QDialog
{
    Q_OBJECT
public:
    TkvWaitNotice(TLang &lang, QWidget *parent);

    // Shows `text` (plain text) once; later calls of one wait change nothing.
    void showWaiting(const QString &text);
    // True once the user chose to stop waiting.
    bool stopRequested() const { return m_stopRequested; }
    // Hides the notice, ready for the next wait.
    void finish();

    QLabel *LabelWait = nullptr;
    QPushButton *ButtonWaitStop = nullptr;

protected:
    void reject() override;

private:
    TLang &m_lang;
    bool m_stopRequested = false;
};

} // namespace kelvane
