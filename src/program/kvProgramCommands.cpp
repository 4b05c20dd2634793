// SPDX-License-Identifier: GPL-3.0-or-later
// The program list's commands editor: an entry's two uninstall commands,
// edited in the place of the information panel while the list stands still.

#include "kvUnitProgram.h"

#include "kvProgramLayout.h"
#include "common/kvCommon.h"
#include "gui/kvFrameHost.h"
#include "host/Error.h"
#include "host/kvDisplayText.h"
#include "language/kvLanguage.h"
#include "settings/kvSettings.h"

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

using namespace programlayout;

namespace {

constexpr int CommandEditHeight = 21;

// Escape in a command edit is the editor's: it restores that edit.
class TkvEscapeWatch : public QObject
{
public:
    TkvEscapeWatch(QObject *parent, std::function<bool(QObject *, int)> keyPressed)
        : QObject(parent)
        , m_keyPressed(std::move(keyPressed))
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        return m_keyPressed(watched, static_cast<QKeyEvent *>(event)->key());
    }

private:
    std::function<bool(QObject *, int)> m_keyPressed;
};

} // namespace

QWidget *TkvFrameProgram::createCommandsPanel()
{
    const ButtonPanel editor = newButtonPanel(u"PanelProgramCommands"_s, u"PanelProgramCommandsButtons"_s, this);
    m_panelCommands = editor.panel;
    QWidget *buttons = editor.buttons;
    QVBoxLayout *buttonLayout = editor.buttonLayout;
    m_buttonCommandsOk = newButton(u"ButtonProgramCommandsOk"_s, buttons);
    m_buttonCommandsCancel = newButton(u"ButtonProgramCommandsCancel"_s, buttons);
    for (QPushButton *button : {m_buttonCommandsOk, m_buttonCommandsCancel}) {
        button->installEventFilter(this);
        buttonLayout->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, button] { EditCommands(button); });
    }
    buttonLayout->addStretch(1);

    m_groupCommands = new QGroupBox(m_panelCommands);
    m_groupCommands->setObjectName(u"GroupboxProgramCommands"_s);
    auto *groupLayout = new QVBoxLayout(m_groupCommands);
    groupLayout->setSpacing(0);
    auto *escapeWatch = new TkvEscapeWatch(this, [this](QObject *edit, int key) { return ResetCommands(edit, key); });
    for (QLineEdit **edit : {&m_editCommandsUninstall, &m_editCommandsUninstallQuiet}) {
        const QString name = edit == &m_editCommandsUninstall ? u"ProgramCommandsUninstall"_s
                                                               : u"ProgramCommandsUninstallQuiet"_s;
        if (edit != &m_editCommandsUninstall)
            groupLayout->addSpacing(Margin);
        groupLayout->addWidget(newLabel(u"Label"_s + name, m_groupCommands));
        groupLayout->addSpacing(2);
        *edit = new QLineEdit(m_groupCommands);
        (*edit)->setObjectName(u"Edit"_s + name);
        (*edit)->setFixedHeight(CommandEditHeight);
        (*edit)->installEventFilter(escapeWatch);
        QLineEdit *control = *edit;
        connect(control, &QLineEdit::textChanged, this, [this, control] { CheckCommands(control); });
        groupLayout->addWidget(control);
    }
    groupLayout->addStretch(1);
    editor.layout->addWidget(m_groupCommands, 1);
    return m_panelCommands;
}

void TkvFrameProgram::EditCommands(QObject *sender)
{
    const QString senderName = sender ? sender->objectName() : QString();
    const bool closing = senderName == u"ButtonProgramCommandsOk"_s || senderName == u"ButtonProgramCommandsCancel"_s;
    if (!closing) {
        // The setting gates opening only: an editor open when it is turned
        // off can still be closed.
        if (!m_host.settings().AllowEdition || CommandsEditing || !selectedNode() || !selectedNode()->entry())
            return;
        // The list stands still while the editor is open: an open filter box
        // closes, or its keys would change a text no rebuild follows.
        EndFiltering(sender);
        m_commandsEntry = selectedNode()->entry();
        CommandsEditing = true;
        m_panelMain->hide();
        m_panelCommands->show();
        // No menu and none of its keys: the list stands still meanwhile.
        m_tree->setContextMenuPolicy(Qt::NoContextMenu);
        updateShortcuts();
        captionCommands();
        GetCommands(sender);
        return;
    }
    if (!CommandsEditing)
        return;
    if (senderName == u"ButtonProgramCommandsOk"_s) {
        try {
            m_commandsEntry->SetCommands(m_editCommandsUninstall->text(), m_editCommandsUninstallQuiet->text());
        } catch (const Error &error) {
            // Nothing stored. The editor stays open with what was typed, and
            // OK can be tried again on the registry as it is now; the list
            // behind it is read again when it closes. An entry another
            // program removed meanwhile closes it: nothing is made anew.
            if (!reportRefusedEdit(error, *m_commandsEntry)) {
                m_rescanPending = true;
                return;
            }
            m_rescanPending = true;
        }
    }
    CommandsEditing = false;
    m_commandsEntry.reset();
    m_panelMain->show();
    m_panelCommands->hide();
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    updateShortcuts();
    if (std::exchange(m_rescanPending, false))
        RescanList(sender);
    if (selectedNode())
        m_tree->setFocus(Qt::OtherFocusReason);
}

void TkvFrameProgram::GetCommands(QObject *sender)
{
    const TAppItem *entry = m_commandsEntry.get();
    if (!entry)
        return;
    const bool fromEdit = sender == m_editCommandsUninstall || sender == m_editCommandsUninstallQuiet;
    if (!fromEdit || sender == m_editCommandsUninstall)
        m_editCommandsUninstall->setText(entry->UninstallString);
    if (!fromEdit || sender == m_editCommandsUninstallQuiet)
        m_editCommandsUninstallQuiet->setText(entry->QuietUninstallString);
}

void TkvFrameProgram::CheckCommands(QObject *)
{
    m_buttonCommandsOk->setEnabled(!m_editCommandsUninstall->text().isEmpty()
                                   || !m_editCommandsUninstallQuiet->text().isEmpty());
}

bool TkvFrameProgram::ResetCommands(QObject *sender, int key)
{
    if (key != Qt::Key_Escape)
        return false;
    GetCommands(sender);
    return true;
}

void TkvFrameProgram::captionCommands()
{
    if (!m_commandsEntry)
        return;
    // A name on one line, whose '&' is no keyboard mnemonic.
    m_groupCommands->setTitle(ReplaceText(u"%APPLICATION_NAME%"_s,
                                          SingleLine(m_commandsEntry->DisplayName).replace(u'&', u"&&"_s),
                                          m_host.lang().Captions.value(u"GroupboxProgramCommands"_s)));
}

} // namespace kelvane
