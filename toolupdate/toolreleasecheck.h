#pragma once

#include "requests/serverrequests.h"
#include "server/toolrelease.h"

#include <QObject>
#include <optional>

class QNetworkReply;

// One request for the tool release statement, ToolRelease.txt beside
// Version.txt, under the same trust and redirect rules and a small size
// limit of its own; in builds with tool release keys, then its signature,
// which no firmware key can make. Emits
// answered() once, with the statement or why there is none, and deletes
// itself. The requests carry no query, cookie or anything else that tells
// who asks.
class ToolReleaseCheck : public QObject
{
    Q_OBJECT

public:
    // Asks `source`, whose manager's child it becomes; with `keysPem`, as
    // nv38k-publish check may, those are the tool release keys, not the build's.
    explicit ToolReleaseCheck(const ServerRequests::Source &source,
                              const std::optional<QByteArray> &keysPem = std::nullopt);

signals:
    void answered(const ToolReleaseFile::Answer &answer);

private:
    QNetworkReply *get(const QString &fileName, qint64 maxBytes);
    void statementFinished();
    void end(const ToolReleaseFile::Answer &answer);

    ServerRequests::Source m_source;
    QByteArray m_keysPem;
    QNetworkReply *m_statement;
    QByteArray m_statementBody;
    ToolReleaseFile::Answer m_parsed;
};
