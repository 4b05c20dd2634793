#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace kelvane {

// One running Kelvane per product name and user. The first start listens on
// a local socket in the user's runtime folder (user-only access); a second
// start connects, asks the first to come to the front, and leaves.
class TkvInstance : public QObject
{
    Q_OBJECT
public:
    explicit TkvInstance(const QString &productName, QObject *parent = nullptr);
    ~TkvInstance() override;

    // The socket path for a product: <runtime folder>/<product>-<uid>.
    static QString serverName(const QString &productName);

    // True when another instance took the request to show itself: this one
    // must then end. Otherwise this instance now answers later starts.
    bool handOverToRunning();

signals:
    // A later start asked this instance to show itself.
    void showRequested();

private:
    bool askRunningToShow() const;
    void acceptConnection();

    QString m_name;
    QLocalServer *m_server = nullptr;
};

} // namespace kelvane
