#pragma once

#include "integrity/firmwaresignature.h"
#include "server/versioninfo.h"

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

// What the window makes of a parsed information file: the box it shows
// instead of the information (none for a valid file), and whether it shows
// the model all the same.
struct InformationView
{
    std::optional<WindowBox> box;
    bool showsModel;
};
InformationView forInformation(const VersionInfo &info);

// For any GBK text when this Qt build cannot decode GBK.
WindowBox noGbkCodec();

// For a firmware reply that failed, with FirmwareServer::firmwareReplyFailure().
WindowBox firmwareDownloadFailed(const QString &failure);

// For a firmware whose signature a build with signing keys does not accept.
WindowBox firmwareSignatureFailed(FirmwareSignature::Verdict verdict);

} // namespace WindowBoxes
