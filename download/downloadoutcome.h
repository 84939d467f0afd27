#pragma once

#include "result/result.h"

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
        SignatureRefused, // `signature` says why
        OpenFailed,
        WriteFailed,
    };

    Kind kind;
    qint64 size = 0; // of the firmware received
    QString failure = {};
    // Set when the build checked the firmware's signature: whether one of
    // its keys signed it, or why not.
    std::optional<Result<>> signature = {};
};
