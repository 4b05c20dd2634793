#include "kvInstance.h"

#include "platform/Error.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

const QByteArray ShowRequest = QByteArrayLiteral("show\n");
// Long enough for a busy first instance (it may be scanning a registry and
// answer between two keys), short enough never to leave a start hanging.
constexpr int ConnectTimeout = 3000;
constexpr int WriteTimeout = 3000;

} // namespace

TkvInstance::TkvInstance(const QString &productName, QObject *parent)
    : QObject(parent)
    , m_name(serverName(productName))
{
}

TkvInstance::~TkvInstance() = default;

QString TkvInstance::serverName(const QString &productName)
{
    const QString socket = productName + u'-' + QString::number(getuid());
    // The runtime folder is private to the user; without one the name falls
    // back to Qt's temporary folder, still with user-only access.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? socket : runtime + u'/' + socket;
}

bool TkvInstance::askRunningToShow() const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(ConnectTimeout))
        return false;
    socket.write(ShowRequest);
    if (!socket.waitForBytesWritten(WriteTimeout))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(WriteTimeout);
    return true;
}

bool TkvInstance::handOverToRunning()
{
    if (askRunningToShow())
        return true;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &TkvInstance::acceptConnection);
    if (m_server->listen(m_name))
        return false;
    if (m_server->serverError() == QAbstractSocket::AddressInUseError) {
        // Another start may have won the race to listen: ask once more.
        if (askRunningToShow())
            return true;
        // Nobody answers: the socket was left by an instance that ended
        // without cleaning up. Take its place.
        QLocalServer::removeServer(m_name);
        if (m_server->listen(m_name))
            return false;
    }
    throw Error(u"Cannot listen on the instance socket %1: %2"_s.arg(m_name, m_server->errorString()));
}

void TkvInstance::acceptConnection()
{
    while (QLocalSocket *client = m_server->nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        connect(client, &QLocalSocket::readyRead, this, [this, client] {
            // Only our one short request; anything longer is not from Kelvane.
            if (client->bytesAvailable() > 64) {
                client->abort();
                return;
            }
            if (!client->canReadLine())
                return;
            if (client->readLine(64) == ShowRequest)
                emit showRequested();
            client->disconnectFromServer();
        });
    }
}

} // namespace kelvane
