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
    if (const std::optional<QString> failure = ServerRequests::firmwareReplyFailure(*m_statement)) {
        const int status = m_statement->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        return end({std::nullopt, ToolReleaseFile::fileName() + QStringLiteral(": ") + *failure,
                    status == 404});
    }
    m_statementBody = m_statement->readAll();
    m_parsed = ToolReleaseFile::parse(m_statementBody);
    if (!m_parsed.release || FirmwareSignature::toolReleaseKeys().isEmpty())
        return end(m_parsed);
    QNetworkReply *signature =
        get(ToolReleaseFile::signatureFileName(), FirmwareSignature::maxSignatureBytes);
    connect(signature, &QNetworkReply::finished, this, &ToolReleaseCheck::signatureFinished);
}

void ToolReleaseCheck::signatureFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    const std::optional<QString> failure = ServerRequests::firmwareReplyFailure(*reply);
    const FirmwareSignature::Check check = FirmwareSignature::check(
        FirmwareSignature::toolReleaseStatement(m_statementBody),
        failure ? QByteArray() : reply->readAll(), failure, FirmwareSignature::toolReleaseKeys());
    if (check.verdict != FirmwareSignature::Verdict::Valid)
        return end({std::nullopt,
                    ToolReleaseFile::signatureFileName() + QStringLiteral(": ") + check.reason});
    end(m_parsed);
}

void ToolReleaseCheck::end(const ToolReleaseFile::Parsed &answer)
{
    deleteLater();
    emit answered(answer);
}
