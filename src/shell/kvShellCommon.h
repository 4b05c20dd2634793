// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QString>

#include <functional>

class QDialog;
class QFont;
class QWidget;

namespace kelvane {

// One entry of Kelvane's own version information ("ProductName", ...),
// empty when it has none.
QString OwnVersionValue(const QString &key);

// The shell's font: the desktop's default sans face at 8 pt, our stand-in
// for the classic dialog font the layouts were measured with.
QFont ShellFont();

// Places a child at a rectangle given in left-to-right coordinates of its
// parent, mirrored when the parent reads right to left.
void PlaceLogical(QWidget *child, const QRect &logical);

// The alignment that starts text at the reading edge of `widget`, whatever
// the script of the text itself (a Latin address in a Hebrew form still
// starts on the right).
Qt::Alignment ReadingEdge(const QWidget *widget, Qt::Alignment vertical = Qt::AlignVCenter);

// Receives a dialog once it is shown modally, in place of a user; tests set
// one so that no modal window ever waits for a person.
using DialogHook = std::function<void(QDialog &dialog)>;

// Every modal dialog of the shell runs through here: exec(), with the hook
// (when set) called from the dialog's own event loop. The keyboard focus
// goes back where it was once the dialog has closed.
int ExecDialog(QDialog &dialog, const DialogHook &hook);

} // namespace kelvane
