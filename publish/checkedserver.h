#pragma once

#include "decisions/windowdecisions.h"
#include "download/downloadoutcome.h"
#include "requests/serverrequests.h"
#include "server/servedfile.h"
#include "server/toolrelease.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSslError>
#include <QUrl>
#include <optional>

class QNetworkReply;

// One of the server's files as the window gets it.
struct Answer
{
    QString address; // a URL, or the path of a file in a local folder
    int httpStatus = 0; // none for a local file
    ServedFile file;
    QList<QSslError> sslErrors; // what the handshake found wrong, if it failed
};

// The server's files as the window's own objects fetch them, each waited
// for, and each reply those objects get noted as it came, before they read it.
class CheckedServer : public QObject
{
public:
    // `baseUrl` is "https://…/", or "file:///…/" for `folder`, where a file
    // is then shown by its path. Each file may fall silent for
    // `silenceLimitMs`, where the window would wait for ever.
    CheckedServer(const QString &baseUrl, int silenceLimitMs, const QString &folder = {});

    // Looks the name in `address` up on a thread of Qt's while this one sets
    // up TLS, which takes longer; Qt's host cache then answers the
    // connection's own look-up at once.
    static void lookUpAhead(const QString &address);

    QUrl url(const QString &fileName) const { return m_source.url(fileName); }

    // One file that no object of the window's asks for.
    Answer fetch(const QUrl &url, qint64 maxBytes, bool information = false);

    // The firmware downloaded as the window downloads it, stored nowhere,
    // verified with `keysPem`; noted() then holds the firmware's answer and
    // its signature's.
    DownloadOutcome downloadFirmware(const Decisions::Release &release, const QByteArray &keysPem);
    QByteArray firmwareSha256() const { return m_firmwareSha256; }

    // ToolRelease.txt read as the window reads it; noted() then holds its
    // answer, and its signature's where it was asked for.
    ToolReleaseFile::Answer checkToolRelease(const QByteArray &keysPem);

    const QList<Answer> &noted() const { return m_noted; }

private:
    void note(QNetworkReply *reply);
    Answer answer(QNetworkReply &reply, const ServedFile &file);
    template<typename Done> void waitUntil(const Done &done);

    ServerRequests::Source m_source;
    QString m_folder;
    QHash<QNetworkReply *, QList<QSslError>> m_sslErrors;
    QList<Answer> m_noted;
    std::optional<DownloadOutcome> m_outcome;
    QByteArray m_firmwareSha256;
};
