// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "language/kvLanguage.h"

#include <QFrame>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace kelvane {

class TkvFrameHost;
class TkvValueLabel;

// The preferences page: language and the three options. Changes stay in the
// host's settings in memory; the main window writes them when it closes.
class TkvFrameSettings : public QFrame
{
    Q_OBJECT
public:
    explicit TkvFrameSettings(TkvFrameHost &host, QWidget *parent = nullptr);
    ~TkvFrameSettings() override;

    // Each handler takes the sender of its event (may be null when called directly).
    void EnterForm(QObject *sender);
    void SetItems(QObject *sender);
    void FindLanguages(QObject *sender);
    void ChangeLanguage(QObject *sender);
    void CheckChanges(QObject *sender);
    void ApplySettings(QObject *sender);
    void GotoWebsite(QObject *sender);
    void DisplayStatusHint(QObject *sender);
    void ResetStatusHint(QObject *sender);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void focusMoved(QWidget *old, QWidget *now);
    void alignLabels();
    void colourTitle();
    bool ownsWidget(const QWidget *widget) const;
    // The item of the selected list entry; null without a selection.
    const TLangItem *selectedItem() const;

    TkvFrameHost &m_host;

    QFrame *m_panelTitle = nullptr;
    QLabel *m_labelTitle = nullptr;
    QGroupBox *m_groupGeneral = nullptr;
    QCheckBox *m_checkSaveWindow = nullptr;
    QGroupBox *m_groupLanguage = nullptr;
    QComboBox *m_comboLanguage = nullptr;
    QLabel *m_labelAuthor = nullptr;
    TkvValueLabel *m_labelAuthorValue = nullptr;
    QLabel *m_labelVersion = nullptr;
    TkvValueLabel *m_labelVersionValue = nullptr;
    QGroupBox *m_groupProgram = nullptr;
    QCheckBox *m_checkShowUpdates = nullptr;
    QCheckBox *m_checkAllowEdition = nullptr;
    QFrame *m_panelButtons = nullptr;
    QPushButton *m_buttonApply = nullptr;
    QPushButton *m_buttonReset = nullptr;

    // The items behind the list entries, index for index; kept here so an
    // entry's item outlives a relisting of the catalogue.
    TLangSet m_entries;
    // Whether the author value currently carries the link handlers.
    bool m_authorIsLink = false;
    bool m_findingLanguages = false;
    QMetaObject::Connection m_focusWatch;
};

} // namespace kelvane
