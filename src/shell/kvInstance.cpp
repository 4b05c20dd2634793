// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvInstance.h"

#include "host/Error.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

namespace {

// "show\n", or "show <the target's path in base64>\n".
const QByteArray ShowRequest = QByteArrayLiteral("show");
// A path of up to 4096 bytes, in base64, and the request around it.
constexpr qint64 MaxRequest = 5500;
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

bool TkvInstance::askRunningToShow(const QString &target) const
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(ConnectTimeout))
        return false;
    const QByteArray path = target.toUtf8().toBase64();
    socket.write(ShowRequest + (target.isEmpty() ? QByteArray() : ' ' + path) + '\n');
    if (!socket.waitForBytesWritten(WriteTimeout))
        return false;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(WriteTimeout);
    return true;
}

bool TkvInstance::handOverToRunning(const QString &target)
{
    if (askRunningToShow(target))
        return true;
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &TkvInstance::acceptConnection);
    if (m_server->listen(m_name))
        return false;
    if (m_server->serverError() == QAbstractSocket::AddressInUseError) {
        // Another start may have won the race to listen: ask once more.
        if (askRunningToShow(target))
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
            // Only our one request; anything longer is not from Kelvane.
            if (client->bytesAvailable() > MaxRequest) {
                client->abort();
                return;
            }
            if (!client->canReadLine())
                return;
            const QByteArray line = client->readLine(MaxRequest + 1).chopped(1);
            client->disconnectFromServer();
            if (line == ShowRequest) {
                emit showRequested(QString());
            } else if (line.startsWith(QByteArray(ShowRequest + ' '))) {
                const auto path = QByteArray::fromBase64Encoding(line.mid(ShowRequest.size() + 1),
                                                                 QByteArray::AbortOnBase64DecodingErrors);
                if (path)
                    emit showRequested(QString::fromUtf8(*path));
            }
        });
    }
}

} // namespace kelvane
