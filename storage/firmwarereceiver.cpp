#include "storage/firmwarereceiver.h"

#include "firmware_info/firmwareserver.h"
#include "firmware_info/firmwaresignature.h"

#include <QNetworkReply>

FirmwareReceiver::FirmwareReceiver(QNetworkReply *reply, const QString &deviceModel,
                                   const QString &version)
    : QObject(reply)
    , m_reply(reply)
    , m_deviceModel(deviceModel)
    , m_version(version)
    , m_writer(FirmwareStore::directory(), FirmwareStore::filePath())
{
    connect(reply, &QNetworkReply::readyRead, this, &FirmwareReceiver::take);
}

FirmwareReceiver *FirmwareReceiver::of(const QNetworkReply &reply)
{
    return reply.findChild<FirmwareReceiver *>(QString(), Qt::FindDirectChildrenOnly);
}

void FirmwareReceiver::finish()
{
    take();
    m_sha256 = m_hash.result();
}

QByteArray FirmwareReceiver::statement() const
{
    return FirmwareSignature::statement(m_deviceModel, m_version, m_size, m_sha256);
}

void FirmwareReceiver::take()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299 || m_reply->error() != QNetworkReply::NoError)
        return;
    // The body passes through, so the reply's buffer never shows its size;
    // what was taken counts. Nothing past the limit is taken.
    constexpr qint64 maxBytes = FirmwareServer::maxFirmwareBytes;
    char chunk[64 * 1024];
    qint64 room;
    qint64 read;
    while ((room = maxBytes + 1 - m_size) > 0
           && (read = m_reply->read(chunk, qMin<qint64>(sizeof chunk, room))) > 0) {
        m_writer.write(chunk, read);
        m_hash.addData(chunk, read);
        m_size += read;
    }
    if (m_size > maxBytes)
        FirmwareServer::cutOff(m_reply, maxBytes);
}
