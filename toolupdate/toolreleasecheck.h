#pragma once

#include "server/toolrelease.h"

#include <QObject>

class QNetworkAccessManager;
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
    // Asks through `manager`, whose child it becomes.
    explicit ToolReleaseCheck(QNetworkAccessManager *manager);

signals:
    void answered(const ToolReleaseFile::Answer &answer);

private:
    QNetworkReply *get(const QString &fileName, qint64 maxBytes);
    void statementFinished();
    void end(const ToolReleaseFile::Answer &answer);

    QNetworkAccessManager *m_manager;
    QNetworkReply *m_statement;
    QByteArray m_statementBody;
    ToolReleaseFile::Answer m_parsed;
};
