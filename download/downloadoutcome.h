#pragma once

#include "integrity/signatureverdict.h"

#include <QString>
#include <QtGlobal>
#include <optional>

// How one firmware download ended, as a plain value: what the window shows
// and logs for it is decided from this alone.
struct DownloadOutcome
{
    enum class Kind {
        Stored,
        DownloadFailed, // `failure` says why
        SignatureRefused, // `verdict` and `signatureReason` say why
        OpenFailed,
        WriteFailed,
    };

    Kind kind;
    qint64 size = 0; // of the firmware received
    QString failure = {};
    // Set when the build checked the firmware's signature; the reason then
    // says what was wrong with it, if anything.
    std::optional<FirmwareSignature::Verdict> verdict = {};
    QString signatureReason = {};
};
