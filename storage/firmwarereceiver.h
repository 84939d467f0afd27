#pragma once

#include "firmware_info/sha256.h"
#include "storage/firmwarestore.h"

#include <QObject>

class QNetworkReply;

// Takes a firmware reply's body as it arrives: into the firmware file and
// into a SHA-256, so that the disk and the hash keep pace with the network
// and the body is never held whole. The earlier firmware stays in place
// until commit().
class FirmwareReceiver : public QObject
{
    Q_OBJECT

public:
    // Becomes a child of `reply`, the firmware for `deviceModel` and `version`
    // as Version.txt gave them, and takes its body into FirmwareStore's file.
    // Only the body of a 2xx answer is taken; any other stays in the reply,
    // where the failure report finds it.
    FirmwareReceiver(QNetworkReply *reply, const QString &deviceModel, const QString &version);

    // The receiver of a reply made with the constructor above.
    static FirmwareReceiver *of(const QNetworkReply &reply);

    // Takes what is left of the body once the reply has finished. Qt tells
    // the reply's manager before anyone else, so the window calls this.
    void finish();
    // After finish(): the body's size and its SHA-256.
    qint64 size() const { return m_size; }
    QByteArray sha256() const { return m_sha256; }
    // What the vendor's signature must cover for this firmware.
    QByteArray statement() const;

    FirmwareStore::Result commit() { return m_writer.commit(); }
    void discard() { m_writer.discard(); }

private:
    void take();

    QNetworkReply *m_reply;
    QString m_deviceModel;
    QString m_version;
    FirmwareStore::Writer m_writer;
    Sha256 m_hash;
    QByteArray m_sha256;
    qint64 m_size = 0;
};
