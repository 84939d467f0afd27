#pragma once

#include "download/downloadoutcome.h"
#include "integrity/sha256.h"
#include "storage/firmwarestore.h"

#include <QObject>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// One firmware download, from the request to the stored file: the firmware,
// then its signature when the build requires one, then the commit into
// FirmwareStore's file. The body goes to disk as it arrives and is never held
// whole; the earlier firmware stays in place until the commit. Its replies
// are its children, so either one leads back to it.
class FirmwareDownload : public QObject
{
    Q_OBJECT

public:
    // Requests `firmwareUrl` through `manager`, whose child it becomes: the
    // firmware for `deviceModel` and `version` as Version.txt gave them.
    FirmwareDownload(QNetworkAccessManager *manager, const QString &firmwareUrl,
                     const QString &deviceModel, const QString &version);

    // The download that `reply` belongs to, or none.
    static FirmwareDownload *of(const QNetworkReply &reply);

    // Takes one of its replies once the manager reports it finished (Qt tells
    // the manager before anyone else, so the window hands it on). Nothing
    // while the download goes on; its outcome once it is over, after which
    // it deletes itself and its replies.
    std::optional<DownloadOutcome> finished(QNetworkReply *reply);

private:
    QNetworkReply *get(const QNetworkRequest &request, qint64 maxBytes);
    void take();
    std::optional<DownloadOutcome> firmwareFinished();
    std::optional<DownloadOutcome> signatureFinished();
    DownloadOutcome commit();
    DownloadOutcome end(const DownloadOutcome &outcome);

    QNetworkAccessManager *m_manager;
    QNetworkReply *m_firmware;
    QNetworkReply *m_signature = nullptr;
    QString m_deviceModel;
    QString m_version;
    FirmwareStore::Writer m_writer;
    // Only a build that checks signatures needs the firmware's hash.
    std::optional<Sha256> m_hash;
    qint64 m_size = 0;
};
