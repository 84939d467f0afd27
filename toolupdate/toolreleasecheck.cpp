#include "toolupdate/toolreleasecheck.h"

#include "integrity/buildkeys.h"
#include "integrity/firmwaresignature.h"
#include "requests/serverrequests.h"

#include <QNetworkReply>

ToolReleaseCheck::ToolReleaseCheck(const ServerRequests::Source &source,
                                   const std::optional<QByteArray> &keysPem)
    : QObject(source.manager)
    , m_source(source)
    , m_keysPem(keysPem.value_or(BuildKeys::toolReleaseKeys()))
{
    m_statement = get(ToolReleaseFile::fileName(), ToolReleaseFile::maxBytes);
    connect(m_statement, &QNetworkReply::finished, this, &ToolReleaseCheck::statementFinished);
}

QNetworkReply *ToolReleaseCheck::get(const QString &fileName, qint64 maxBytes)
{
    return ServerRequests::get(m_source, m_source.url(fileName), maxBytes, this);
}

void ToolReleaseCheck::statementFinished()
{
    const ServedFile statement = ServerRequests::servedFile(*m_statement);
    m_parsed = ToolReleaseFile::parseServed(statement);
    if (m_keysPem.isEmpty())
        return end(ToolReleaseFile::withoutKeys(m_parsed));
    if (!m_parsed)
        return end(m_parsed);
    m_statementBody = *statement;
    QNetworkReply *signature =
        get(ToolReleaseFile::signatureFileName(), FirmwareSignature::maxSignatureBytes);
    connect(signature, &QNetworkReply::finished, this, [this, signature] {
        end(ToolReleaseFile::verified(m_parsed, m_statementBody,
                                      ServerRequests::servedFile(*signature), m_keysPem));
    });
}

void ToolReleaseCheck::end(const ToolReleaseFile::Answer &answer)
{
    deleteLater();
    emit answered(answer);
}
