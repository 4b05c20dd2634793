// SPDX-License-Identifier: GPL-3.0-or-later
// The program list's export: the tree as shown, into a text file the user names.

#include "kvUnitProgram.h"

#include "config/kvConfig.h"
#include "gui/kvFrameHost.h"
#include "host/kvDisplayText.h"

#include <QDateTime>
#include <QSaveFile>
#include <QTreeWidget>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

void appendExportLines(const QTreeWidgetItem *node, int level, QString &out)
{
    // A tab or line break inside a name would break the file's structure.
    out += QString(level, u'\t') + SingleLine(node->text(0)) + u"\r\n"_s;
    for (int i = 0; i < node->childCount(); ++i)
        appendExportLines(node->child(i), level + 1, out);
}

} // namespace

QString TkvFrameProgram::ExportFileName(const QDateTime &when)
{
    return config::FormPrefix.toString() + u'_' + when.toString(config::ExportDateFormat)
         + config::ExportExtension.toString();
}

QString TkvFrameProgram::ExportPathFor(const QString &chosen)
{
    return chosen.contains(u'.') ? chosen : chosen + config::ExportExtension.toString();
}

QByteArray TkvFrameProgram::ExportBytes(const QTreeWidget &tree)
{
    QString lines;
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        appendExportLines(tree.topLevelItem(i), 0, lines);
    QByteArray bytes;
    bytes.reserve(2 + 2 * lines.size());
    bytes.append(char(0xFF)).append(char(0xFE));
    for (const QChar unit : std::as_const(lines)) {
        bytes.append(char(unit.unicode() & 0xFF));
        bytes.append(char(unit.unicode() >> 8));
    }
    return bytes;
}

void TkvFrameProgram::ExportApplicationList(QObject *)
{
    const QString chosen = m_host.GetSaveFileName(ExportFileName(QDateTime::currentDateTime()),
                                                  u'*' + config::ExportExtension.toString());
    if (chosen.isEmpty())
        return;
    const QString path = ExportPathFor(chosen);
    const QByteArray bytes = ExportBytes(*m_tree);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        m_host.DisplayMessage(path + u'|' + file.errorString());
}

} // namespace kelvane
