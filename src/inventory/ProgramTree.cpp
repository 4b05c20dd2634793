// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProgramTree.h"

#include "NameOrder.h"
#include "Wildcard.h"
#include "config/kvConfig.h"

#include <algorithm>
#include <optional>

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
    QList<ProgramTreeNode> roots;
    roots.reserve(inventory.Applications.size() + 1);
    for (const TAppItemPtr &entry : inventory.Applications) {
        ProgramTreeNode node{entry->DisplayName, entry, {}, {}};
        for (const TAppSubItemPtr &update : entry->SubItems)
            node.children.append(ProgramTreeNode{update->DisplayName, {}, update, {}});
        roots.append(std::move(node));
    }
    if (inventory.HasHotfixes()) {
        ProgramTreeNode group{config::WindowsName.toString(), {}, {}, {}};
        for (const TAppItemPtr &hotfix : inventory.Hotfixes)
            group.children.append(ProgramTreeNode{hotfix->DisplayName, hotfix, {}, {}});
        roots.append(std::move(group));
    }
    // Sorted before filtering: a stable sort keeps what filtering leaves in
    // the same order as sorting only the rest would.
    sortNodes(roots, order);
    return FilterProgramTree(roots, filterText, showUpdates, counts);
}

ProgramTreeSelection SelectProgramTree(const QList<ProgramTreeNode> &full, const QString &filterText,
                                       bool showUpdates)
{
    // Compiled once, on first use: an invalid mask throws only when a
    // record is tested.
    const QString mask = u'*' + filterText + u'*';
    std::optional<Wildcard> compiled;
    const auto matches = [&compiled, &mask](const TAppItem &entry) {
        if (!compiled)
            compiled.emplace(mask);
        return entry.MatchesFilter(*compiled);
    };

    ProgramTreeSelection selection;
    selection.roots.reserve(full.size());
    for (int i = 0; i < full.size(); ++i) {
        const ProgramTreeNode &node = full[i];
        if (node.entry) {
            if (!filterText.isEmpty() && !matches(*node.entry))
                continue;
            if (showUpdates)
                selection.counts.updates += int(node.children.size());
        } else {
            if (!showUpdates)
                continue;
            for (int j = 0; j < node.children.size(); ++j)
                if (matches(*node.children[j].entry))
                    selection.groupChildren.append(j);
            if (selection.groupChildren.isEmpty())
                continue;
            selection.counts.updates += int(selection.groupChildren.size());
        }
        selection.roots.append(i);
        ++selection.counts.items;
    }
    return selection;
}

QList<ProgramTreeNode> FilterProgramTree(const QList<ProgramTreeNode> &full, const QString &filterText,
                                         bool showUpdates, ProgramTreeCounts *counts)
{
    const ProgramTreeSelection selection = SelectProgramTree(full, filterText, showUpdates);
    QList<ProgramTreeNode> roots;
    roots.reserve(selection.roots.size());
    for (int index : selection.roots) {
        const ProgramTreeNode &node = full[index];
        if (node.entry) {
            roots.append(node);
            if (!showUpdates)
                roots.last().children.clear();
        } else {
            ProgramTreeNode group{node.text, {}, {}, {}};
            for (int child : selection.groupChildren)
                group.children.append(node.children[child]);
            roots.append(std::move(group));
        }
    }
    if (counts)
        *counts = selection.counts;
    return roots;
}

QStringList ProgramTreeLines(const QList<ProgramTreeNode> &nodes)
{
    QStringList lines;
    appendLines(nodes, 0, lines);
    return lines;
}

} // namespace kelvane
