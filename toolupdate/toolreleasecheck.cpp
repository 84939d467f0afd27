#include "toolupdate/toolreleasecheck.h"

#include "integrity/buildkeys.h"
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
    const ServedFile statement = ServerRequests::servedFile(*m_statement);
    m_parsed = ToolReleaseFile::parseServed(statement);
    if (BuildKeys::toolReleaseKeys().isEmpty())
        return end(ToolReleaseFile::withoutKeys(m_parsed));
    if (!std::holds_alternative<ToolRelease>(m_parsed))
        return end(m_parsed);
    m_statementBody = std::get<QByteArray>(statement);
    QNetworkReply *signature =
        get(ToolReleaseFile::signatureFileName(), FirmwareSignature::maxSignatureBytes);
    connect(signature, &QNetworkReply::finished, this, [this, signature] {
        end(ToolReleaseFile::verified(m_parsed, m_statementBody,
                                      ServerRequests::servedFile(*signature),
                                      BuildKeys::toolReleaseKeys()));
    });
}

void ToolReleaseCheck::end(const ToolReleaseFile::Answer &answer)
{
    deleteLater();
    emit answered(answer);
}
