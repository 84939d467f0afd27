#pragma once

#include "download/downloadoutcome.h"
#include "server/servedfile.h"

#include <QByteArray>
#include <QString>

// A firmware as it came, before anything is stored.
struct ReceivedFirmware
{
    QString deviceModel; // as Version.txt gave them
    QString version;
    qint64 size = 0;
    QByteArray sha256;
};

// What a build whose firmware keys are `keysPem` does with `firmware`, given
// its signature as it was served: Stored when one of the keys signed it,
// else SignatureRefused saying why. The window and nv38k-publish check judge
// alike.
DownloadOutcome verifiedFirmware(const ReceivedFirmware &firmware, const ServedFile &signature,
                                 const QByteArray &keysPem);
