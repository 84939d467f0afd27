#include "toolupdate/toolreleasecheck.h"

#include "integrity/firmwaresignature.h"
#include "requests/serverrequests.h"
#include "server/firmwareserver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

ToolReleaseCheck::ToolReleaseCheck(QNetworkAccessManager *manager)
    : QObject(manager)
    , m_manager(manager)
{
    m_statement = get(ToolReleaseFile::fileName(), ToolReleaseFile::maxBytes);
    connect(m_statement, &QNetworkReply::finished, this, &ToolReleaseCheck::statementFinished);
}

QNetworkReply *ToolReleaseCheck::get(const QString &fileName, qint64 maxBytes)
{
    QNetworkReply *reply =
        m_manager->get(ServerRequests::request(FirmwareServer::baseUrl() + fileName));
    reply->setParent(this);
    ServerRequests::limitBodySize(reply, maxBytes);
    return reply;
}

void ToolReleaseCheck::statementFinished()
{
    if (const std::optional<QString> failure = ServerRequests::fileReplyFailure(*m_statement)) {
        const int status = m_statement->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (status == 404)
            return end(ToolReleaseFile::Absent{});
        return end(ToolReleaseFile::Refused{ToolReleaseFile::fileName() + QStringLiteral(": ")
                                            + *failure});
    }
    m_statementBody = m_statement->readAll();
    m_parsed = ToolReleaseFile::parse(m_statementBody);
    if (!std::holds_alternative<ToolRelease>(m_parsed)
        || FirmwareSignature::toolReleaseKeys().isEmpty())
        return end(m_parsed);
    QNetworkReply *signature =
        get(ToolReleaseFile::signatureFileName(), FirmwareSignature::maxSignatureBytes);
    connect(signature, &QNetworkReply::finished, this, &ToolReleaseCheck::signatureFinished);
}

void ToolReleaseCheck::signatureFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    const std::optional<QString> failure = ServerRequests::fileReplyFailure(*reply);
    end(ToolReleaseFile::verified(m_parsed, m_statementBody,
                                  failure ? QByteArray() : reply->readAll(), failure,
                                  FirmwareSignature::toolReleaseKeys()));
}

void ToolReleaseCheck::end(const ToolReleaseFile::Answer &answer)
{
    deleteLater();
    emit answered(answer);
}
