#include "testkit/httpsserver.h"

#include <QFile>
#include <QNetworkProxy>
#include <QSslSocket>

namespace {

const QByteArray endOfHeaders("\r\n\r\n");

QByteArray page(int status, const QByteArray &reason, const QByteArray &extraHeaders = {})
{
    const QByteArray body =
        "<html><body><h1>" + QByteArray::number(status) + ' ' + reason + "</h1></body></html>\n";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n" + extraHeaders
           + "Content-Type: text/html\r\nContent-Length: " + QByteArray::number(body.size())
           + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

HttpsTestServer::HttpsTestServer(QObject *parent)
    : QTcpServer(parent)
{ }

bool HttpsTestServer::start()
{
    if (!listen(QHostAddress::LocalHost, 0))
        return false;
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), serverPort()));
    return true;
}

bool HttpsTestServer::useCertificate(const QString &name)
{
    const QString stem = QStringLiteral(NV38K_TEST_CERT_DIR "/") + name;
    const QList<QSslCertificate> certificate =
        QSslCertificate::fromPath(stem + QStringLiteral(".pem"), QSsl::Pem);
    QFile key(stem + QStringLiteral(".key"));
    if (certificate.isEmpty() || !key.open(QIODevice::ReadOnly))
        return false;
    m_certificate = certificate.first();
    m_key = QSslKey(&key, QSsl::Rsa);
    return !m_key.isNull();
}

void HttpsTestServer::setResponse(const QString &path, const CannedResponse &response)
{
    m_responses.insert(path, response);
}

void HttpsTestServer::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    // A failed handshake (the client distrusts us) just ends the connection.
    connect(socket, qOverload<const QList<QSslError> &>(&QSslSocket::sslErrors), socket,
            &QSslSocket::abort);

    connect(socket, &QSslSocket::readyRead, this, [this, socket] { readHead(socket); });
    connect(socket, &QObject::destroyed, this, [this, socket] { m_buffers.remove(socket); });
}

// A connection carries a plain proxy CONNECT, then TLS, then one GET inside it.
void HttpsTestServer::readHead(QSslSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    const int end = buffer.indexOf(endOfHeaders);
    if (end < 0)
        return;
    const QByteArray head = buffer.left(end);
    buffer.remove(0, end + endOfHeaders.size());

    if (socket->isEncrypted()) {
        answer(socket, head);
    } else if (head.startsWith("CONNECT ")) {
        socket->write("HTTP/1.1 200 Connection established\r\n\r\n");
        socket->startServerEncryption();
    } else {
        socket->abort();
    }
}

void HttpsTestServer::answer(QSslSocket *socket, const QByteArray &request)
{
    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    if (requestLine.size() != 3 || requestLine.at(0) != "GET") {
        socket->write(page(400, "Bad Request"));
        socket->disconnectFromHost();
        return;
    }
    const QString path = QString::fromLatin1(requestLine.at(1));
    m_requests.append(path);
    m_heads.append(request);

    const auto found = m_responses.constFind(path);
    if (found == m_responses.constEnd()) {
        socket->write(page(404, "Not Found"));
        socket->disconnectFromHost();
        return;
    }
    const CannedResponse &response = *found;
    const QByteArray okHeaders = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                                 "Content-Length: "
                                 + QByteArray::number(response.body.size())
                                 + "\r\nSet-Cookie: visitor=nv38k-test\r\n"
                                   "Connection: close\r\n\r\n";
    switch (response.kind) {
    case CannedResponse::Kind::File:
        socket->write(okHeaders + response.body);
        break;
    case CannedResponse::Kind::Status:
        socket->write(page(response.status,
                           response.body.isEmpty() ? QByteArray("Canned Status") : response.body));
        break;
    case CannedResponse::Kind::Redirect:
        socket->write(page(302, "Found", "Location: /elsewhere\r\n"));
        break;
    case CannedResponse::Kind::Stall:
        return;
    case CannedResponse::Kind::Announces100MiB:
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\n");
        return;
    case CannedResponse::Kind::Malformed:
        socket->write("SMTP? 220 hello\r\n\r\n\x01\x02\x03");
        break;
    case CannedResponse::Kind::Endless:
        socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
        connect(socket, &QSslSocket::encryptedBytesWritten, socket,
                [this, socket] { streamEndlessly(socket); });
        streamEndlessly(socket);
        return;
    case CannedResponse::Kind::DropMidBody:
        socket->write(okHeaders + response.body.left(response.body.size() / 2));
        socket->flush();
        break;
    }
    socket->disconnectFromHost();
}

void HttpsTestServer::streamEndlessly(QSslSocket *socket)
{
    constexpr qint64 chunkSize = 64 * 1024;
    constexpr qint64 giveUpAfter = 64 * 1024 * 1024;
    if (socket->encryptedBytesToWrite() + socket->bytesToWrite() > 2 * chunkSize)
        return;
    if (m_endlessBytesSent >= giveUpAfter) {
        socket->disconnectFromHost();
        return;
    }
    static const QByteArray chunk =
        QByteArray::number(chunkSize, 16) + "\r\n" + QByteArray(chunkSize, 'x') + "\r\n";
    socket->write(chunk);
    m_endlessBytesSent += chunkSize;
}
