#include "download/firmwaredownload.h"

#include "download/firmwareverification.h"
#include "integrity/buildkeys.h"
#include "integrity/firmwaresignature.h"
#include "requests/serverrequests.h"
#include "server/firmwareserver.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>

FirmwareDownload::FirmwareDownload(const ServerRequests::Source &source, const QString &deviceModel,
                                   const QString &version,
                                   const std::optional<QByteArray> &checkKeysPem)
    : QObject(source.manager)
    , m_source(source)
    , m_deviceModel(deviceModel)
    , m_version(version)
    , m_keysPem(checkKeysPem.value_or(BuildKeys::firmwareKeys()))
{
    if (!checkKeysPem)
        m_writer.emplace(FirmwareStore::directory(), FirmwareStore::filePath());
    if (!m_keysPem.isEmpty() || checkKeysPem)
        m_hash.emplace();
    m_firmware = get(source.url(FirmwareServer::firmwareFileName(deviceModel, version)),
                     FirmwareServer::maxFirmwareBytes);
    connect(m_firmware, &QNetworkReply::readyRead, this, &FirmwareDownload::take);
}

FirmwareDownload *FirmwareDownload::of(const QNetworkReply &reply)
{
    return qobject_cast<FirmwareDownload *>(reply.parent());
}

QNetworkReply *FirmwareDownload::get(const QUrl &url, qint64 maxBytes)
{
    return ServerRequests::get(m_source, url, maxBytes, this);
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
    if (!firmware)
        return end({DownloadOutcome::Kind::DownloadFailed, m_size, firmware.failure().reason});
    if (m_hash) {
        const Result<QByteArray> sha256 = m_hash->result();
        if (!sha256)
            return end({DownloadOutcome::Kind::DownloadFailed, m_size, sha256.failure().reason});
        m_sha256 = *sha256;
    }
    if (m_keysPem.isEmpty())
        return end(commit());
    // Asked for once the firmware is in, so it goes over the same
    // connection: no second TLS handshake.
    m_signature = get(FirmwareSignature::signatureUrl(m_firmware->url()),
                      FirmwareSignature::maxSignatureBytes);
    return std::nullopt;
}

std::optional<DownloadOutcome> FirmwareDownload::signatureFinished()
{
    DownloadOutcome outcome = verifiedFirmware({m_deviceModel, m_version, m_size, m_sha256},
                                               ServerRequests::servedFile(*m_signature), m_keysPem);
    if (outcome.kind == DownloadOutcome::Kind::Stored)
        outcome.kind = commit().kind;
    return end(outcome);
}

DownloadOutcome FirmwareDownload::commit()
{
    if (!m_writer)
        return {DownloadOutcome::Kind::Stored, m_size};
    const Result<> stored = m_writer->commit();
    if (stored.failed(Failure::Kind::NotOpened))
        return {DownloadOutcome::Kind::OpenFailed, m_size};
    if (!stored)
        return {DownloadOutcome::Kind::WriteFailed, m_size};
    return {DownloadOutcome::Kind::Stored, m_size};
}

DownloadOutcome FirmwareDownload::end(const DownloadOutcome &outcome)
{
    // Uncommitted, the earlier firmware stays as it was; no temporary file
    // is left behind while the window reports.
    if (m_writer)
        m_writer->discard();
    deleteLater();
    return outcome;
}

void FirmwareDownload::take()
{
    if (!ServerRequests::bringsFile(*m_firmware))
        return;
    // The body passes through, so the reply's buffer never shows its size;
    // what was taken counts. Nothing past the limit is taken.
    constexpr qint64 maxBytes = FirmwareServer::maxFirmwareBytes;
    char chunk[64 * 1024];
    qint64 room;
    qint64 read;
    while ((room = maxBytes + 1 - m_size) > 0
           && (read = m_firmware->read(chunk, qMin<qint64>(sizeof chunk, room))) > 0) {
        if (m_writer)
            m_writer->write(chunk, read);
        if (m_hash)
            m_hash->addData(chunk, read);
        m_size += read;
    }
    if (m_size > maxBytes)
        ServerRequests::cutOff(m_firmware, maxBytes);
}
