// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvTargetChooser.h"

#include "config/kvConfig.h"
#include "language/kvLanguage.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

TkvFormTargets::TkvFormTargets(TLang &lang, const QList<FoundPrefix> &prefixes, const QString &current,
                               QWidget *parent)
    : QDialog(parent)
{
    setObjectName(config::FormPrefix + u"FormTargets"_s);
    TreeTargets = new QTreeWidget(this);
    TreeTargets->setObjectName(u"TreeTargets"_s);
    TreeTargets->setRootIsDecorated(false);
    TreeTargets->setColumnCount(3);
    TreeTargets->setHeaderLabels({lang.Strings.value(u"TargetColumnName"_s), lang.Strings.value(u"TargetColumnLauncher"_s),
                                  lang.Strings.value(u"TargetColumnFolder"_s)});
    TreeTargets->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    const QString currentFolder = QFileInfo(current).canonicalFilePath();
    for (const FoundPrefix &prefix : prefixes) {
        // Launcher files are data: shown as text, one line each.
        auto *item = new QTreeWidgetItem(TreeTargets, {prefix.name.simplified(), prefix.launcher, prefix.path});
        item->setData(0, Qt::UserRole, prefix.path);
        if (!prefix.hasRegistry) {
            item->setText(0, item->text(0) + u" \u2014 "_s + lang.Strings.value(u"TargetNoRegistry"_s));
            item->setFlags(item->flags() & ~(Qt::ItemIsSelectable | Qt::ItemIsEnabled));
        }
        if (prefix.path == currentFolder)
            TreeTargets->setCurrentItem(item);
    }
    if (!TreeTargets->currentItem() && TreeTargets->topLevelItemCount() > 0
        && (TreeTargets->topLevelItem(0)->flags() & Qt::ItemIsEnabled))
        TreeTargets->setCurrentItem(TreeTargets->topLevelItem(0));

    auto *buttons = new QDialogButtonBox(this);
    ButtonTargetsOpen = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    ButtonTargetsOpen->setObjectName(u"ButtonTargetsOpen"_s);
    ButtonTargetsOther = buttons->addButton(QString(), QDialogButtonBox::ActionRole);
    ButtonTargetsOther->setObjectName(u"ButtonTargetsOther"_s);
    ButtonTargetsCancel = buttons->addButton(QString(), QDialogButtonBox::RejectRole);
    ButtonTargetsCancel->setObjectName(u"ButtonTargetsCancel"_s);
    ButtonTargetsOpen->setDefault(true);
    ButtonTargetsOpen->setEnabled(TreeTargets->currentItem() != nullptr);
    connect(TreeTargets, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *item) { ButtonTargetsOpen->setEnabled(item != nullptr); });
    connect(TreeTargets, &QTreeWidget::itemActivated, this, &TkvFormTargets::choose);
    connect(ButtonTargetsOpen, &QPushButton::clicked, this, &TkvFormTargets::choose);
    connect(ButtonTargetsOther, &QPushButton::clicked, this, [this] {
        m_other = true;
        reject();
    });
    connect(ButtonTargetsCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(TreeTargets);
    layout->addWidget(buttons);
    resize(720, 360);
    lang.ApplyToForm(this);
    TreeTargets->setFocus();
}

void TkvFormTargets::choose()
{
    const QTreeWidgetItem *item = TreeTargets->currentItem();
    if (!item || !(item->flags() & Qt::ItemIsEnabled))
        return;
    m_chosen = item->data(0, Qt::UserRole).toString();
    accept();
}

} // namespace kelvane
