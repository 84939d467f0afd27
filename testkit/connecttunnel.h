#pragma once

#include <QTcpServer>

// An HTTP proxy on 127.0.0.1 that answers every CONNECT by tunnelling to one
// local port, whatever host was asked for. As the application's proxy it lets
// a tool built for the real firmware server talk TLS to a local server; the
// server's certificate is still checked against the real name.
class ConnectTunnel : public QTcpServer
{
    Q_OBJECT

public:
    explicit ConnectTunnel(QObject *parent = nullptr);

    // Listens on a free loopback port and becomes the application's proxy.
    bool start(quint16 targetPort);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    quint16 m_targetPort = 0;
};
