// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FakeFrameHost.h"
#include "program/kvUnitProgram.h"

#include <QAction>
#include <QLabel>
#include <QList>
#include <QPair>
#include <QStringList>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <functional>
#include <memory>

namespace kelvane::test {

inline const QString UninstallKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");

// Copies a folder tree (a prefix) into another folder.
void copyFolder(const QString &from, const QString &to);

// Adds an application entry to the registry in memory.
void addEntry(RegistryStore &store, const QString &keyName, const QString &displayName,
              const QString &uninstall = QStringLiteral("C:\\x\\uninst.exe"));

// Keeps only the given applications (key name, display name).
void replaceEntries(RegistryStore &store, const QList<QPair<QString, QString>> &entries);

// Every node's text in pre-order, a tab before each child's.
QStringList treeTexts(const QTreeWidget *tree);
QTreeWidgetItem *findNode(const QTreeWidget *tree, const QString &text);

// A fresh copy of the sample prefix and a program list frame built on it.
struct Fixture
{
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FakeFrameHost> host;
    std::unique_ptr<TkvFrameProgram> frame;

    QTreeWidget *tree() const { return frame->tree(); }
    RegistryStore &store() const { return *host->target().registry(); }
    template <typename T> T *child(const QString &name) const
    {
        T *found = frame->findChild<T *>(name);
        if (!found)
            qFatal("no child %s", qPrintable(name));
        return found;
    }
    QAction *action(const QString &name) const { return child<QAction>(name); }
    QLabel *label(const QString &name) const { return child<QLabel>(name); }
    QTreeWidgetItem *node(const QString &text) const { return findNode(tree(), text); }
    [[nodiscard]] bool select(const QString &text) const;
    QString current() const { return tree()->currentItem() ? tree()->currentItem()->text(0) : QString(); }
};

// `prepare` may change the prefix folder before the frame reads it.
Fixture makeFixture(bool build = true, const std::function<void(const QString &)> &prepare = {});
// The frame shown and active, built, the tree holding the focus.
Fixture makeShownFixture();

// Press and release, each to the widget that has the focus then, as the
// window system delivers them; shortcuts act as they do for a user.
void typeKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
void typeText(const char *text);

} // namespace kelvane::test
