// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace kelvane {

// One running Kelvane per product name and user. The first start listens on
// a local socket in the user's runtime folder (user-only access); a second
// start connects, asks the first to come to the front (and to offer the
// registry it was named, if any), and leaves.
class TkvInstance : public QObject
{
    Q_OBJECT
public:
    explicit TkvInstance(const QString &productName, QObject *parent = nullptr);
    ~TkvInstance() override;

    // The socket path for a product: <runtime folder>/<product>-<uid>.
    static QString serverName(const QString &productName);

    // True when another instance took the request to show itself (with
    // `target`, the registry this start was named; empty: none): this one
    // must then end. Otherwise this instance now answers later starts.
    bool handOverToRunning(const QString &target = {});

signals:
    // A later start asked this instance to show itself; `target` is the
    // registry that start was named, or empty.
    void showRequested(const QString &target);

private:
    bool askRunningToShow(const QString &target) const;
    void acceptConnection();

    QString m_name;
    QLocalServer *m_server = nullptr;
};

} // namespace kelvane
