#pragma once

#include "download/downloadoutcome.h"
#include "integrity/sha256.h"
#include "requests/serverrequests.h"
#include "storage/firmwarestore.h"

#include <QObject>
#include <optional>

class QNetworkReply;

// One firmware download, from the request to the stored file: the firmware,
// then its signature when the build requires one, then the commit into
// FirmwareStore's file. The body goes to disk as it arrives and is never held
// whole; the earlier firmware stays in place until the commit. Its replies
// are its children, so either one leads back to it.
class FirmwareDownload : public QObject
{
    Q_OBJECT

public:
    // Requests from `source`, whose manager's child it becomes, the firmware
    // for `deviceModel` and `version` as Version.txt gave them. With
    // `checkKeysPem`, as nv38k-publish check does: nothing is stored, the
    // firmware is hashed and verified with those keys instead of the build's
    // (none: no signature is asked for).
    FirmwareDownload(const ServerRequests::Source &source, const QString &deviceModel,
                     const QString &version,
                     const std::optional<QByteArray> &checkKeysPem = std::nullopt);

    // The download that `reply` belongs to, or none.
    static FirmwareDownload *of(const QNetworkReply &reply);

    // Takes one of its replies once the manager reports it finished (Qt tells
    // the manager before anyone else, so the window hands it on). Nothing
    // while the download goes on; its outcome once it is over, after which
    // it deletes itself and its replies.
    std::optional<DownloadOutcome> finished(QNetworkReply *reply);

    // The firmware's SHA-256 once it came, where it was hashed.
    QByteArray sha256() const { return m_sha256; }

private:
    QNetworkReply *get(const QUrl &url, qint64 maxBytes);
    void take();
    std::optional<DownloadOutcome> firmwareFinished();
    std::optional<DownloadOutcome> signatureFinished();
    DownloadOutcome commit();
    DownloadOutcome end(const DownloadOutcome &outcome);

    ServerRequests::Source m_source;
    QNetworkReply *m_firmware;
    QNetworkReply *m_signature = nullptr;
    QString m_deviceModel;
    QString m_version;
    QByteArray m_keysPem;
    std::optional<FirmwareStore::Writer> m_writer; // none when only checking
    // Only a build that checks signatures, or a check, needs the firmware's hash.
    std::optional<Sha256> m_hash;
    QByteArray m_sha256;
    qint64 m_size = 0;
};
