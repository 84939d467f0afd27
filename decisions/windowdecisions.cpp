#include "decisions/windowdecisions.h"

#include "device/dfulisting.h"
#include "encoding/gbk.h"

#include <QDebug>

namespace Decisions {

QString loggedString(const QString &text)
{
    QString line;
    QDebug(&line).nospace() << text;
    return line;
}

DeviceCheck deviceCheck(int exitCode, const QByteArray &listing, const QByteArray &standardError,
                        UnreachableKeyboard::Platform platform,
                        const std::function<UnreachableKeyboard::BoundDriver()> &boundDriver)
{
    // dfu-util explains its own failures; a failed listing is not worth a box.
    if (exitCode != 0)
        return {};

    const std::optional<QString> text = decodeGbk(listing);
    const std::optional<QString> errors = decodeGbk(standardError);
    if (!text || !errors)
        return {{}, UserTexts::noGbkCodec()};
    DeviceCheck check;
    check.log << loggedString(*text);
    if (!errors->isEmpty())
        check.log << loggedString(*errors);

    switch (DfuListing::judge(*text)) {
    case DfuListing::Verdict::NoDevice:
        // Attached, but dfu-util could not open it: a missing driver or
        // permission, not the cable.
        if (const std::optional<QString> error = DfuListing::keyboardOpenError(*errors)) {
            check.box = UserTexts::unreachableKeyboard(platform, *error, boundDriver());
            check.logAfterBox << QStringLiteral("Device Not Accessible ") + *error;
            return check;
        }
        check.box = UserTexts::noDevice();
        check.logAfterBox << QStringLiteral("None Device Found");
        return check;
    case DfuListing::Verdict::ForeignDevice:
        check.box = UserTexts::foreignDevice();
        return check;
    case DfuListing::Verdict::DevicePresent:
        break;
    }
    check.download = true;
    return check;
}

Information information(const std::optional<VersionInfo> &info)
{
    if (!info)
        return {UserTexts::informationReplyFailed()};
    const std::optional<WindowBox> refused = UserTexts::informationRefused(info->status);
    return {refused, info->hasModel(), !refused};
}

Firmware firmware(const FirmwareDownload::Outcome &outcome)
{
    using Kind = FirmwareDownload::Outcome::Kind;
    switch (outcome.kind) {
    case Kind::DownloadFailed:
        return {UserTexts::firmwareDownloadFailed(outcome.failure)};
    case Kind::SignatureRefused:
        return {UserTexts::firmwareSignatureFailed(outcome.verdict)};
    case Kind::OpenFailed:
        return {UserTexts::fileOpenFailed(), {}, true};
    case Kind::WriteFailed:
        return {UserTexts::fileWriteFailed(), {}, true};
    case Kind::Stored:
        break;
    }
    return {UserTexts::firmwareStored(),
            {QStringLiteral("SaveFileSuccess ") + QString::number(outcome.size)},
            true,
            true};
}

} // namespace Decisions
