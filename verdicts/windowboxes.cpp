#include "verdicts/windowboxes.h"

namespace WindowBoxes {

WindowBox informationReplyFailed()
{
    return {WindowBox::Kind::Information, QStringLiteral("error"), QStringLiteral("error")};
}

InformationView forInformation(const VersionInfo &info)
{
    switch (info.status) {
    case VersionInfo::Status::Valid:
        return {std::nullopt, true};
    case VersionInfo::Status::NoGbkCodec:
        return {noGbkCodec(), false};
    case VersionInfo::Status::BadDeviceLine:
        return {WindowBox{WindowBox::Kind::Critical, QStringLiteral("错误"),
                          QStringLiteral("获取固件信息错误。")},
                false};
    case VersionInfo::Status::BadVersionLine:
        // The model line was read before the version line failed.
        return {WindowBox{WindowBox::Kind::Critical, QStringLiteral("错误"),
                          QStringLiteral("获取固件版本错误。")},
                true};
    }
    return {std::nullopt, false};
}

WindowBox noGbkCodec()
{
    return {WindowBox::Kind::Critical, QStringLiteral("错误"),
            QStringLiteral("缺少GBK文字编码支持，请重新安装。")};
}

WindowBox firmwareDownloadFailed(const QString &failure)
{
    return {WindowBox::Kind::Information, QStringLiteral("错误"),
            QStringLiteral("下载固件失败") + failure};
}

WindowBox firmwareSignatureFailed(FirmwareSignature::Verdict verdict)
{
    using Verdict = FirmwareSignature::Verdict;
    const QString reason = verdict == Verdict::Unavailable ? QStringLiteral("：无法获取固件签名")
                           : verdict == Verdict::Malformed ? QStringLiteral("：固件签名格式错误")
                                                           : QStringLiteral("：固件签名验证失败");
    return firmwareDownloadFailed(reason);
}

} // namespace WindowBoxes
