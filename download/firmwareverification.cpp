#include "download/firmwareverification.h"

#include "integrity/firmwaresignature.h"

DownloadOutcome verifiedFirmware(const ReceivedFirmware &firmware, const ServedFile &signature,
                                 const QByteArray &keysPem)
{
    const FirmwareSignature::Check check =
        checkServedSignature(FirmwareSignature::statement(firmware.deviceModel, firmware.version,
                                                          firmware.size, firmware.sha256),
                             signature, keysPem);
    DownloadOutcome outcome{check.verdict == FirmwareSignature::Verdict::Valid
                                ? DownloadOutcome::Kind::Stored
                                : DownloadOutcome::Kind::SignatureRefused,
                            firmware.size};
    outcome.verdict = check.verdict;
    outcome.signatureReason = check.reason;
    return outcome;
}
