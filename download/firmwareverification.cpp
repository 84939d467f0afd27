#include "download/firmwareverification.h"

#include "integrity/firmwaresignature.h"

DownloadOutcome verifiedFirmware(const ReceivedFirmware &firmware, const ServedFile &signature,
                                 const QByteArray &keysPem)
{
    const Result<> signed_ =
        checkServedSignature(FirmwareSignature::statement(firmware.deviceModel, firmware.version,
                                                          firmware.size, firmware.sha256),
                             signature, keysPem);
    DownloadOutcome outcome{signed_ ? DownloadOutcome::Kind::Stored
                                    : DownloadOutcome::Kind::SignatureRefused,
                            firmware.size};
    outcome.signature = signed_;
    return outcome;
}
