// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kvApplication.h"

#include <QList>
#include <QString>

#include <variant>

namespace kelvane {

class NameOrder;

// One node of the program list: an application, one of its updates, the
// "Microsoft Windows" group, or a hotfix under it. Children are sorted.
struct ProgramTreeNode
{
    QString text;
    TAppItemPtr entry;      // application and hotfix nodes
    TAppSubItemPtr update;  // update nodes
    QList<ProgramTreeNode> children;
};

struct ProgramTreeCounts
{
    int items = 0;   // application nodes, plus the group node when it has children
    int updates = 0; // update and hotfix nodes
};

// Builds the level-0 nodes of the program list from an inventory, sorted by
// the given order at every level. A non-empty filter text keeps the
// applications whose name, or one of whose updates' names, matches
// "*" + filter + "*"; hotfixes are always tested, the empty filter giving
// "**". Throws Error for a filter that is not a valid mask.
QList<ProgramTreeNode> BuildProgramTree(const TApplications &inventory, const QString &filterText,
                                        bool showUpdates, const NameOrder &order,
                                        ProgramTreeCounts *counts = nullptr);

// What BuildProgramTree gives for this filter and updates setting, taken
// from its result for no filter with the updates shown (filtering keeps the
// order, so nothing is sorted again). Throws Error for an invalid mask.
QList<ProgramTreeNode> FilterProgramTree(const QList<ProgramTreeNode> &full, const QString &filterText,
                                         bool showUpdates, ProgramTreeCounts *counts = nullptr);

// Which nodes of BuildProgramTree's result for no filter with the updates
// shown a filter and updates setting keep, as indices into it: the level-0
// nodes, and the hotfixes of the group node (an application keeps all its
// updates, or none when they are not shown).
struct ProgramTreeSelection
{
    QList<int> roots;
    QList<int> groupChildren;
    ProgramTreeCounts counts;
};

// Throws Error for an invalid mask.
ProgramTreeSelection SelectProgramTree(const QList<ProgramTreeNode> &full, const QString &filterText,
                                       bool showUpdates);

// The lines the list shows and exports: each node in pre-order, after one
// tab per level.
QStringList ProgramTreeLines(const QList<ProgramTreeNode> &nodes);

} // namespace kelvane
