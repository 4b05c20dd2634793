// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "inventory/PrefixDiscovery.h"

#include <QDialog>

class QPushButton;
class QTreeWidget;

namespace kelvane {

class TLang;

// The registries Kelvane can manage here: the Wine prefixes found on this
// machine, and "Other..." for one picked by hand. Prefixes without a
// registry file are shown but cannot be chosen.
class TkvFormTargets : public QDialog
{
    Q_OBJECT
public:
    TkvFormTargets(TLang &lang, const QList<FoundPrefix> &prefixes, const QString &current, QWidget *parent);

    // After exec(): Accepted with the chosen prefix folder; or `otherRequested`.
    QString chosenPath() const { return m_chosen; }
    bool otherRequested() const { return m_other; }

    QTreeWidget *TreeTargets;
    QPushButton *ButtonTargetsOpen;
    QPushButton *ButtonTargetsOther;
    QPushButton *ButtonTargetsCancel;

private:
    void choose();

    QString m_chosen;
    bool m_other = false;
};

} // namespace kelvane
