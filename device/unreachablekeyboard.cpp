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

} // namespace UnreachableKeyboard
