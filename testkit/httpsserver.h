#pragma once

#include <QByteArray>
#include <QHash>
#include <QMetaType>
#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>
#include <QTcpServer>

class QSslSocket;

// How the server answers one path.
struct CannedResponse
{
    enum class Kind {
        File, // 200 with the body
        Status, // the given status with a small HTML page; the body is the reason phrase
        Redirect, // 302 to another path, with a small HTML page
        Stall, // reads the request and never answers
        DropMidBody, // announces the whole body, sends half, closes
        Malformed, // answers with something that is not HTTP
        Endless, // streams a chunked body until the client goes (at most 64 MiB)
        Announces100MiB, // announces a 100 MiB body, then sends nothing
    };
    CannedResponse(Kind answer = Kind::File, const QByteArray &bytes = {}, int code = 200)
        : kind(answer)
        , body(bytes)
        , status(code)
    { }

    Kind kind;
    QByteArray body;
    int status;
};
Q_DECLARE_METATYPE(CannedResponse)

// A small HTTPS file host on 127.0.0.1 for tests. Every file it serves sets
// a cookie, which a client must not send back. It is also an HTTP proxy
// that accepts CONNECT to any host, so a tool built for the real server's
// name reaches it unchanged once it is the application's proxy; the name is
// still checked against the certificate it presents.
class HttpsTestServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit HttpsTestServer(QObject *parent = nullptr);

    // Listens on a free loopback port and becomes the application's proxy.
    bool start();
    // Presents the test certificate `name` ("server", "untrusted", …) with
    // its key, from the directory scripts/make-certs.sh made.
    bool useCertificate(const QString &name);
    void setResponse(const QString &path, const CannedResponse &response);
    void clearResponses()
    {
        m_responses.clear();
        m_endlessBytesSent = 0;
    }

    // Body bytes sent by Endless answers so far.
    qint64 endlessBytesSent() const { return m_endlessBytesSent; }

    // The paths of the GET requests received so far, in order.
    QStringList requests() const { return m_requests; }
    // Their request lines and headers, as received.
    QList<QByteArray> requestHeads() const { return m_heads; }
    void clearRequests()
    {
        m_requests.clear();
        m_heads.clear();
    }

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void readHead(QSslSocket *socket);
    void answer(QSslSocket *socket, const QByteArray &request);
    void streamEndlessly(QSslSocket *socket);

    QSslCertificate m_certificate;
    QSslKey m_key;
    QHash<QString, CannedResponse> m_responses;
    QStringList m_requests;
    QList<QByteArray> m_heads;
    QHash<QSslSocket *, QByteArray> m_buffers;
    qint64 m_endlessBytesSent = 0;
};
