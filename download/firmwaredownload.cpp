#include "download/firmwaredownload.h"

#include "download/firmwareverification.h"
#include "integrity/buildkeys.h"
#include "integrity/firmwaresignature.h"
#include "requests/serverrequests.h"
#include "server/firmwareserver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

FirmwareDownload::FirmwareDownload(QNetworkAccessManager *manager, const QString &firmwareUrl,
                                   const QString &deviceModel, const QString &version)
    : QObject(manager)
    , m_manager(manager)
    , m_deviceModel(deviceModel)
    , m_version(version)
    , m_writer(FirmwareStore::directory(), FirmwareStore::filePath())
{
    if (BuildKeys::firmwareSignatureRequired())
        m_hash.emplace();
    m_firmware = get(ServerRequests::request(firmwareUrl), FirmwareServer::maxFirmwareBytes);
    connect(m_firmware, &QNetworkReply::readyRead, this, &FirmwareDownload::take);
}

FirmwareDownload *FirmwareDownload::of(const QNetworkReply &reply)
{
    return qobject_cast<FirmwareDownload *>(reply.parent());
}

QNetworkReply *FirmwareDownload::get(const QNetworkRequest &request, qint64 maxBytes)
{
    QNetworkReply *reply = m_manager->get(request);
    reply->setParent(this);
    ServerRequests::limitBodySize(reply, maxBytes);
    return reply;
}

std::optional<DownloadOutcome> FirmwareDownload::finished(QNetworkReply *reply)
{
    if (reply == m_firmware)
        return firmwareFinished();
    if (reply == m_signature)
        return signatureFinished();
    return std::nullopt;
}

std::optional<DownloadOutcome> FirmwareDownload::firmwareFinished()
{
    take();
    const ServedFile firmware = ServerRequests::servedFile(*m_firmware);
    if (!std::holds_alternative<QByteArray>(firmware))
        return end({DownloadOutcome::Kind::DownloadFailed, m_size, whyNoFile(firmware)});
    if (!m_hash)
        return end(commit());
    // Asked for once the firmware is in, so it goes over the same
    // connection: no second TLS handshake.
    m_signature = get(ServerRequests::request(FirmwareSignature::signatureUrl(m_firmware->url())),
                      FirmwareSignature::maxSignatureBytes);
    return std::nullopt;
}

std::optional<DownloadOutcome> FirmwareDownload::signatureFinished()
{
    DownloadOutcome outcome =
        verifiedFirmware({m_deviceModel, m_version, m_size, m_hash->result()},
                         ServerRequests::servedFile(*m_signature), BuildKeys::firmwareKeys());
    if (outcome.kind == DownloadOutcome::Kind::Stored)
        outcome.kind = commit().kind;
    return end(outcome);
}

DownloadOutcome FirmwareDownload::commit()
{
    switch (m_writer.commit()) {
    case FirmwareStore::Result::OpenFailed:
        return {DownloadOutcome::Kind::OpenFailed, m_size};
    case FirmwareStore::Result::WriteFailed:
        return {DownloadOutcome::Kind::WriteFailed, m_size};
    case FirmwareStore::Result::Saved:
        break;
    }
    return {DownloadOutcome::Kind::Stored, m_size};
}

DownloadOutcome FirmwareDownload::end(const DownloadOutcome &outcome)
{
    // Uncommitted, the earlier firmware stays as it was; no temporary file
    // is left behind while the window reports.
    m_writer.discard();
    deleteLater();
    return outcome;
}

void FirmwareDownload::take()
{
    const int status = m_firmware->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299 || m_firmware->error() != QNetworkReply::NoError)
        return;
    // The body passes through, so the reply's buffer never shows its size;
    // what was taken counts. Nothing past the limit is taken.
    constexpr qint64 maxBytes = FirmwareServer::maxFirmwareBytes;
    char chunk[64 * 1024];
    qint64 room;
    qint64 read;
    while ((room = maxBytes + 1 - m_size) > 0
           && (read = m_firmware->read(chunk, qMin<qint64>(sizeof chunk, room))) > 0) {
        m_writer.write(chunk, read);
        if (m_hash)
            m_hash->addData(chunk, read);
        m_size += read;
    }
    if (m_size > maxBytes)
        ServerRequests::cutOff(m_firmware, maxBytes);
}
