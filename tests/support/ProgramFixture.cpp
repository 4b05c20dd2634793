// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProgramFixture.h"

#include "registry/RegistryValue.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>
#include <QTreeWidgetItemIterator>

using namespace Qt::Literals::StringLiterals;

namespace kelvane::test {

void copyFolder(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QString target = to + u'/' + QDir(from).relativeFilePath(it.filePath());
        if (it.fileInfo().isDir())
            QDir().mkpath(target);
        else if (!QFile::copy(it.filePath(), target))
            qFatal("cannot copy %s", qPrintable(target));
    }
}

void addEntry(RegistryStore &store, const QString &keyName, const QString &displayName, const QString &uninstall)
{
    const QString path = UninstallKey + u'\\' + keyName;
    store.createKey(path);
    store.setValue(path, RegistryValue::fromText(u"DisplayName"_s, displayName));
    if (!uninstall.isEmpty())
        store.setValue(path, RegistryValue::fromText(u"UninstallString"_s, uninstall));
}

void replaceEntries(RegistryStore &store, const QList<QPair<QString, QString>> &entries)
{
    store.deleteTree(UninstallKey);
    store.deleteTree(u"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall"_s);
    store.createKey(UninstallKey);
    for (const auto &[key, name] : entries)
        addEntry(store, key, name);
}

QStringList treeTexts(const QTreeWidget *tree)
{
    QStringList texts;
    for (QTreeWidgetItemIterator it(const_cast<QTreeWidget *>(tree)); *it; ++it)
        texts.append(QString((*it)->parent() ? 1 : 0, u'\t') + (*it)->text(0));
    return texts;
}

QTreeWidgetItem *findNode(const QTreeWidget *tree, const QString &text)
{
    for (QTreeWidgetItemIterator it(const_cast<QTreeWidget *>(tree)); *it; ++it) {
        if ((*it)->text(0) == text)
            return *it;
    }
    return nullptr;
}

bool Fixture::select(const QString &text) const
{
    QTreeWidgetItem *found = node(text);
    if (found)
        tree()->setCurrentItem(found);
    return found != nullptr;
}

Fixture makeFixture(bool build, const std::function<void(const QString &)> &prepare)
{
    Fixture f;
    f.dir = std::make_unique<QTemporaryDir>();
    copyFolder(QStringLiteral(KELVANE_SOURCE_DIR) + u"/data/sample"_s, f.dir->path());
    if (prepare)
        prepare(f.dir->path());
    f.host = std::make_unique<FakeFrameHost>(f.dir->path());
    f.frame = std::make_unique<TkvFrameProgram>(*f.host);
    f.frame->resize(460, 368);
    if (build)
        f.frame->GenerateList(nullptr);
    return f;
}

Fixture makeShownFixture()
{
    Fixture f = makeFixture(false);
    f.frame->show();
    if (!QTest::qWaitForWindowActive(f.frame.get()))
        qFatal("the frame did not become active");
    f.tree()->setFocus();
    if (!QTest::qWaitFor([&f] { return f.tree()->hasFocus() && f.tree()->topLevelItemCount() > 0; }))
        qFatal("the tree did not fill");
    return f;
}

void typeKey(Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyPress(QApplication::focusWidget(), key, modifiers);
    QTest::keyRelease(QApplication::focusWidget(), key, modifiers);
}

void typeText(const char *text)
{
    for (const char *c = text; *c; ++c) {
        QTest::keyPress(QApplication::focusWidget(), *c);
        QTest::keyRelease(QApplication::focusWidget(), *c);
    }
}

} // namespace kelvane::test
