#pragma once

#include "firmware_info/firmwaresignature.h"
#include "firmware_info/versioninfo.h"

#include <QString>
#include <optional>

// The message boxes the window shows about the server's two files. They live
// here, not in the window, so that nv38k-publish reports the very same ones.
struct WindowBox
{
    enum class Kind { Information, Warning, Critical };

    Kind kind;
    QString title;
    QString text;
};

namespace WindowBoxes {

// For an information reply that failed (FirmwareServer::informationReplyFailed).
WindowBox informationReplyFailed();

// Instead of the information, for a file the parser did not accept; nothing
// for a valid one.
std::optional<WindowBox> forInformation(VersionInfo::Status status);

// For any GBK text when this Qt build cannot decode GBK.
WindowBox noGbkCodec();

// For a firmware reply that failed, with FirmwareServer::firmwareReplyFailure().
WindowBox firmwareDownloadFailed(const QString &failure);

// For a firmware whose signature a build with signing keys does not accept.
WindowBox firmwareSignatureFailed(FirmwareSignature::Verdict verdict);

} // namespace WindowBoxes
