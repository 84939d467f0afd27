#include "usertexts/usertexts.h"

#include "buildsettings/buildsettings.h"

#include <QCoreApplication>

namespace UserTexts {

namespace {

// Functions, not globals, so that a caller's own static texts can use them.
QString errorTitle()
{
    return QStringLiteral("错误");
}

QString noDeviceTitle()
{
    return QStringLiteral("未检测到设备");
}

using UnreachableKeyboard::BoundDriver;

QString driverSentence(const BoundDriver &driver)
{
    switch (driver.state) {
    case BoundDriver::State::Unknown:
        return {};
    case BoundDriver::State::NotInstalled:
        return QStringLiteral("Windows 尚未为它安装驱动。");
    case BoundDriver::State::Service:
        return QStringLiteral("Windows 为它安装的驱动是 %1。").arg(driver.service);
    }
    return {};
}

// The form's texts pass through translation in its context; so do these.
QString windowTr(const char *text)
{
    return QCoreApplication::translate("Widget", text);
}

} // namespace

QString windowTitle()
{
    return QStringLiteral("NV38K升级工具V") + QLatin1String(BuildSettings::toolVersion);
}

WindowBox informationFirst()
{
    return {WindowBox::Kind::Warning, QStringLiteral("警告"),
            QStringLiteral("请先获取固件信息后再试")};
}

WindowBox toolDamaged()
{
    return {WindowBox::Kind::Critical, errorTitle(), QStringLiteral("升级工具损坏，请重新安装")};
}

WindowBox noDevice()
{
    return {WindowBox::Kind::Warning, noDeviceTitle(),
            QStringLiteral("未检测到可升级的设备,请检查设备是否正确连接。")};
}

WindowBox foreignDevice()
{
    return {WindowBox::Kind::Warning, noDeviceTitle(),
            QStringLiteral("未查找到相应设备，请检查设备是否与升级工具软件匹配。")};
}

WindowBox unreachableKeyboard(UnreachableKeyboard::Platform platform, const QString &error,
                              const BoundDriver &driver)
{
    const bool windows = platform == UnreachableKeyboard::Platform::Windows;
    const bool access = error == QLatin1String("LIBUSB_ERROR_ACCESS");
    QString why;
    QString whatToDo;
    if (windows && error == QLatin1String("LIBUSB_ERROR_NOT_SUPPORTED")) {
        why = QStringLiteral("：它没有 dfu-util 能用的驱动。");
        whatToDo = QStringLiteral("请为 DFU 模式下的键盘安装一次 WinUSB 驱动：\n"
                                  "1. 保持键盘在 DFU 模式并连接电脑；\n"
                                  "2. 运行 Zadig，在 Options 菜单中勾选 List All Devices，"
                                  "选择 USB ID 为 0483 DF13 的设备；\n"
                                  "3. 驱动选择 WinUSB，点击 Replace Driver（或 Install Driver）；\n"
                                  "4. 完成后再点“下载固件”。");
    } else if (windows && access) {
        why = QStringLiteral("：它正被其他程序占用，例如仍在运行的刷写工具。");
        whatToDo = QStringLiteral("请关闭该程序后再点“下载固件”。");
    } else if (access) {
        why = QStringLiteral("：当前用户没有打开它的权限。");
        whatToDo = QStringLiteral(
            "请安装 udev 规则（本软件的安装包已自带，也可按 README 的步骤手动安装），"
            "然后拔下键盘，重新进入 DFU 模式后再试。");
    } else {
        why = QStringLiteral("（%1）。").arg(error);
        whatToDo = QStringLiteral("请拔下键盘，重新进入 DFU 模式后再试。");
    }
    QString text = QStringLiteral("键盘已进入 DFU 模式，但升级工具无法访问它") + why;
    if (windows)
        text += driverSentence(driver);
    return {WindowBox::Kind::Warning, QStringLiteral("无法访问设备"),
            text + QStringLiteral("\n\n") + whatToDo};
}

WindowBox informationReplyFailed()
{
    return {WindowBox::Kind::Information, QStringLiteral("error"), QStringLiteral("error")};
}

std::optional<WindowBox> informationRefused(VersionInfo::Status status)
{
    switch (status) {
    case VersionInfo::Status::Valid:
        return std::nullopt;
    case VersionInfo::Status::NoGbkCodec:
        return noGbkCodec();
    case VersionInfo::Status::BadDeviceLine:
        return WindowBox{WindowBox::Kind::Critical, errorTitle(),
                         QStringLiteral("获取固件信息错误。")};
    case VersionInfo::Status::BadVersionLine:
        return WindowBox{WindowBox::Kind::Critical, errorTitle(),
                         QStringLiteral("获取固件版本错误。")};
    }
    return std::nullopt;
}

WindowBox noGbkCodec()
{
    return {WindowBox::Kind::Critical, errorTitle(),
            QStringLiteral("缺少GBK文字编码支持，请重新安装。")};
}

WindowBox firmwareDownloadFailed(const QString &failure)
{
    return {WindowBox::Kind::Information, errorTitle(), QStringLiteral("下载固件失败") + failure};
}

WindowBox firmwareSignatureFailed(Failure::Kind why)
{
    using Kind = Failure::Kind;
    const QString reason = why == Kind::Absent || why == Kind::Failed
                               ? QStringLiteral("：无法获取固件签名")
                           : why == Kind::Refused ? QStringLiteral("：固件签名格式错误")
                                                  : QStringLiteral("：固件签名验证失败");
    return firmwareDownloadFailed(reason);
}

WindowBox fileOpenFailed()
{
    return {WindowBox::Kind::Information, windowTr("File"), windowTr("File Open Failed."), false};
}

WindowBox fileWriteFailed()
{
    return {WindowBox::Kind::Information, windowTr("File"), windowTr("File Write Failed."), false};
}

WindowBox firmwareStored()
{
    return {WindowBox::Kind::Information, QStringLiteral("成功"),
            QStringLiteral("下载固件成功,请使用升级工具进行升级。")};
}

UpdateBox toolUpdateAvailable(const ToolRelease &release, const QString &runningVersion,
                              bool installs)
{
    QString text = release.securityFix
                       ? QStringLiteral("升级工具有安全更新：版本 %1（当前版本 %2）。\n\n%3")
                       : QStringLiteral("升级工具有新版本：%1（当前版本 %2）。\n\n%3");
    text = text.arg(release.version, runningVersion, release.advisory);
    if (!release.advisoryUrl.isEmpty())
        text += QStringLiteral("\n详情：") + release.advisoryUrl;
#ifdef Q_OS_WIN
    const QString elsewhere = QStringLiteral("\n\n请从发布者的网站下载新版本。");
#else
    const QString elsewhere = QStringLiteral("\n\n请通过系统的软件包管理器更新。");
#endif
    text += installs ? QStringLiteral("\n\n点“立即更新”下载并安装新版本，安装前工具会自动关闭。")
                     : elsewhere;
    UpdateBox update;
    update.box = {release.securityFix ? WindowBox::Kind::Warning : WindowBox::Kind::Information,
                  release.securityFix ? QStringLiteral("安全更新") : QStringLiteral("工具更新"),
                  text};
    if (installs)
        update.installButton = QStringLiteral("立即更新");
    update.dismissButton =
        release.securityFix ? QStringLiteral("稍后提醒") : QStringLiteral("跳过此版本");
    if (!release.advisoryUrl.isEmpty())
        update.detailsButton = QStringLiteral("查看详情");
    update.stopCheckingText = QStringLiteral("不再检查工具更新");
    return update;
}

namespace {

WindowBox updateFailed(const QString &what)
{
    return {WindowBox::Kind::Critical, QStringLiteral("更新失败"),
            what + QStringLiteral("\n\n安装程序没有运行，已下载的文件已删除。请稍后再试。")};
}

} // namespace

WindowBox installerRefused(InstallerProblem problem, const QString &detail)
{
    QString what;
    switch (problem) {
    case InstallerProblem::DownloadFailed:
        what = QStringLiteral("下载安装程序失败（%1）。").arg(detail);
        break;
    case InstallerProblem::TooLarge:
        what = QStringLiteral("下载的安装程序比发布说明的大。");
        break;
    case InstallerProblem::WrongSize:
        what = QStringLiteral("下载的安装程序大小与发布说明不符。");
        break;
    case InstallerProblem::WrongSha256:
        what = QStringLiteral("下载的安装程序与发布说明不符（SHA-256 不同），可能已损坏或被篡改。");
        break;
    case InstallerProblem::NotSaved:
        what = QStringLiteral("无法保存安装程序（%1）。").arg(detail);
        break;
    case InstallerProblem::NotStarted:
        what = QStringLiteral("无法启动安装程序（%1）。").arg(detail);
        break;
    }
    return updateFailed(what);
}

QString installerDownloading(const QString &version)
{
    return QStringLiteral("正在下载升级工具 %1 的安装程序…").arg(version);
}

QString cancelButton()
{
    return QStringLiteral("取消");
}

QString modelCaption()
{
    return QStringLiteral("设备型号");
}

QString versionCaption()
{
    return QStringLiteral("固件版本");
}

QString notesCaption()
{
    return QStringLiteral("固件更新说明");
}

QString firmwareSizeLogLabel()
{
    return QStringLiteral("收到固件大小:");
}

} // namespace UserTexts
