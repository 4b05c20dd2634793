#include "ProgramTree.h"

#include "NameOrder.h"
#include "kvInventoryPaths.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

void sortNodes(QList<ProgramTreeNode> &nodes, const NameOrder &order)
{
    std::stable_sort(nodes.begin(), nodes.end(), [&order](const ProgramTreeNode &a, const ProgramTreeNode &b) {
        return order.compare(a.text, b.text) < 0;
    });
    for (ProgramTreeNode &node : nodes)
        sortNodes(node.children, order);
}

void appendLines(const QList<ProgramTreeNode> &nodes, int level, QStringList &lines)
{
    for (const ProgramTreeNode &node : nodes) {
        lines.append(QString(level, u'\t') + node.text);
        appendLines(node.children, level + 1, lines);
    }
}

} // namespace

QList<ProgramTreeNode> BuildProgramTree(const TApplications &inventory, const QString &filterText,
                                        bool showUpdates, const NameOrder &order, ProgramTreeCounts *counts)
{
    ProgramTreeCounts tally;
    QList<ProgramTreeNode> roots;
    const QString mask = u'*' + filterText + u'*';

    for (const TAppItemPtr &entry : inventory.Applications) {
        if (!filterText.isEmpty() && !entry->MatchesFilter(mask))
            continue;
        ProgramTreeNode node{entry->DisplayName, entry, {}, {}};
        if (showUpdates) {
            for (const TAppSubItemPtr &update : entry->SubItems) {
                node.children.append(ProgramTreeNode{update->DisplayName, {}, update, {}});
                ++tally.updates;
            }
        }
        roots.append(std::move(node));
        ++tally.items;
    }

    if (showUpdates && inventory.HasHotfixes()) {
        ProgramTreeNode group{WindowsName, {}, {}, {}};
        for (const TAppItemPtr &hotfix : inventory.Hotfixes) {
            if (!hotfix->MatchesFilter(mask))
                continue;
            group.children.append(ProgramTreeNode{hotfix->DisplayName, hotfix, {}, {}});
            ++tally.updates;
        }
        if (!group.children.isEmpty()) {
            roots.append(std::move(group));
            ++tally.items;
        }
    }

    sortNodes(roots, order);
    if (counts)
        *counts = tally;
    return roots;
}

QStringList ProgramTreeLines(const QList<ProgramTreeNode> &nodes)
{
    QStringList lines;
    appendLines(nodes, 0, lines);
    return lines;
}

} // namespace kelvane
