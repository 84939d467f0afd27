#include "device/unreachablekeyboard.h"

#ifdef Q_OS_WIN
// clang-format off
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
// clang-format on
#include <QStringList>
#include <vector>
#endif

namespace UnreachableKeyboard {

Platform currentPlatform()
{
#ifdef Q_OS_WIN
    return Platform::Windows;
#else
    return Platform::Linux;
#endif
}

#ifdef Q_OS_WIN
namespace {

// A device registry property as text; REG_MULTI_SZ keeps its NULs.
QString deviceProperty(HDEVINFO devices, SP_DEVINFO_DATA &device, DWORD property)
{
    DWORD bytes = 0;
    SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr, nullptr, 0, &bytes);
    if (bytes == 0)
        return {};
    std::vector<wchar_t> value(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &device, property, nullptr,
                                           reinterpret_cast<BYTE *>(value.data()), bytes, nullptr))
        return {};
    QString text = QString::fromWCharArray(value.data(), int(bytes / sizeof(wchar_t)));
    while (text.endsWith(QChar(0)))
        text.chop(1);
    return text;
}

bool isKeyboard(const QString &hardwareIds)
{
    // Windows lists the ID with the revision first, then without it.
    const QString keyboard = QStringLiteral("USB\\VID_0483&PID_DF13");
    const QStringList ids = hardwareIds.split(QChar(0));
    for (const QString &id : ids) {
        if (id.compare(keyboard, Qt::CaseInsensitive) == 0
            || id.startsWith(keyboard + QLatin1Char('&'), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

} // namespace
#endif

BoundDriver boundDriver()
{
    BoundDriver driver;
#ifdef Q_OS_WIN
    const HDEVINFO devices =
        SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return driver;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        if (!isKeyboard(deviceProperty(devices, device, SPDRP_HARDWAREID)))
            continue;
        ULONG status = 0;
        ULONG problem = 0;
        if (CM_Get_DevNode_Status(&status, &problem, device.DevInst, 0) == CR_SUCCESS
            && (status & DN_HAS_PROBLEM) && problem == CM_PROB_FAILED_INSTALL) {
            driver.state = BoundDriver::State::NotInstalled;
        } else if (const QString service = deviceProperty(devices, device, SPDRP_SERVICE);
                   !service.isEmpty()) {
            driver = {BoundDriver::State::Service, service};
        }
        break;
    }
    SetupDiDestroyDeviceInfoList(devices);
#endif
    return driver;
}

namespace {

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

} // namespace

WindowBox box(Platform platform, const QString &error, const BoundDriver &driver)
{
    const bool windows = platform == Platform::Windows;
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

} // namespace UnreachableKeyboard
