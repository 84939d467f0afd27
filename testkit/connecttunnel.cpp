#include "testkit/connecttunnel.h"

#include <QNetworkProxy>
#include <QTcpSocket>
#include <memory>

ConnectTunnel::ConnectTunnel(QObject *parent)
    : QTcpServer(parent)
{ }

bool ConnectTunnel::start(quint16 targetPort)
{
    m_targetPort = targetPort;
    if (!isListening() && !listen(QHostAddress::LocalHost, 0))
        return false;
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), serverPort()));
    return true;
}

void ConnectTunnel::incomingConnection(qintptr socketDescriptor)
{
    auto *client = new QTcpSocket(this);
    auto *target = new QTcpSocket(client);
    client->setSocketDescriptor(socketDescriptor);
    connect(client, &QTcpSocket::disconnected, client, &QObject::deleteLater);

    // Until the CONNECT head is complete the client's bytes are the proxy
    // request; afterwards everything is passed through unchanged.
    auto head = std::make_shared<QByteArray>();
    connect(client, &QTcpSocket::readyRead, this, [this, client, target, head] {
        if (target->state() == QAbstractSocket::ConnectedState && head->isEmpty()) {
            target->write(client->readAll());
            return;
        }
        head->append(client->readAll());
        if (!head->contains("\r\n\r\n"))
            return;
        if (!head->startsWith("CONNECT ")) {
            client->abort();
            return;
        }
        head->clear();
        target->connectToHost(QHostAddress::LocalHost, m_targetPort);
    });
    connect(target, &QTcpSocket::connected, client,
            [client] { client->write("HTTP/1.1 200 Connection established\r\n\r\n"); });
    connect(target, &QTcpSocket::readyRead, client,
            [client, target] { client->write(target->readAll()); });
    connect(target, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
    connect(target, &QTcpSocket::errorOccurred, client, &QTcpSocket::disconnectFromHost);
}
