// Judging dfu-util's listing: the keyboard's identifiers, name and serial;
// when it cannot open the keyboard, what its warning makes the window say.
#include "device/dfulisting.h"
#include "device/unreachablekeyboard.h"
#include "usertexts/usertexts.h"

#include <QSettings>
#include <QtTest>

using Verdict = DfuListing::Verdict;
using UnreachableKeyboard::BoundDriver;
using UnreachableKeyboard::Platform;
Q_DECLARE_METATYPE(DfuListing::Verdict)
Q_DECLARE_METATYPE(UnreachableKeyboard::Platform)
Q_DECLARE_METATYPE(UnreachableKeyboard::BoundDriver)

namespace {

const QString banner =
    QStringLiteral("dfu-util 0.11\n\n"
                   "Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\n"
                   "Copyright 2010-2021 Tormod Volden and Stefan Schmidt\n"
                   "This program is Free Software and has ABSOLUTELY NO WARRANTY\n"
                   "Please report bugs to http://sourceforge.net/p/dfu-util/tickets/\n\n");
const QString keyboard = QStringLiteral(
    "Found DFU: [0483:df13] ver=0200, devnum=7, cfg=1, intf=0, path=\"1-2\", alt=0, "
    "name=\"@NV38K Flash   /0x00000000/15*001Ka,155*001Kg\", serial=\"NV38K CUSTOMED KEYBOARD\"");
const QString otherDevice =
    QStringLiteral("Found DFU: [0483:df11] ver=2200, devnum=9, cfg=1, intf=0, path=\"1-4\", alt=1, "
                   "name=\"@Option Bytes  /0x1FFFF800/01*016 e\", serial=\"FFFFFFFEFFFF\"");
const QString sameIdsOtherName =
    QStringLiteral("Found DFU: [0483:df13] ver=0200, devnum=8, cfg=1, intf=0, path=\"1-3\", alt=0, "
                   "name=\"@Internal Flash  /0x08000000/064*0002Kg\", serial=\"205E32A35430\"");
const QString nameOnly = QStringLiteral(
    "Found DFU: [1234:5678] ver=0100, devnum=3, cfg=1, intf=0, path=\"1-5\", alt=0, "
    "name=\"@NV38K Flash   /0x00000000/15*001Ka,155*001Kg\", serial=\"NV38K CUSTOMED KEYBOARD\"");

} // namespace

class TestDfuListing : public QObject
{
    Q_OBJECT

private slots:
    void judge_data();
    void judge();
    void keyboardOpenError_data();
    void keyboardOpenError();
    void unreachableBox_data();
    void unreachableBox();
    void boundDriver_data();
    void boundDriver();
};

void TestDfuListing::judge_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<Verdict>("verdict");

    const auto add = [](const char *name, const QString &listing, Verdict verdict) {
        QTest::newRow(name) << listing << verdict;
    };
    const QString lf = QStringLiteral("\n");
    add("keyboard, LF", banner + keyboard + lf, Verdict::DevicePresent);
    add("keyboard, CR LF", banner + keyboard + QStringLiteral("\r\n"), Verdict::DevicePresent);
    add("keyboard among others", banner + otherDevice + lf + keyboard + lf + otherDevice + lf,
        Verdict::DevicePresent);
    add("ids and name from two devices", banner + sameIdsOtherName + lf + nameOnly + lf,
        Verdict::DevicePresent);
    add("name first mid-line, then at a line end",
        banner + keyboard + QStringLiteral(" (again)\n") + keyboard + lf, Verdict::DevicePresent);

    add("empty", QString(), Verdict::NoDevice);
    add("banner only", banner, Verdict::NoDevice);
    add("other devices only", banner + otherDevice + lf, Verdict::NoDevice);
    add("ids in other case", banner + keyboard.toLower() + lf, Verdict::NoDevice);
    add("name without the ids", banner + nameOnly + lf, Verdict::NoDevice);

    add("same ids, other name", banner + sameIdsOtherName + lf, Verdict::ForeignDevice);
    add("serial ends the text", banner + keyboard, Verdict::ForeignDevice);
    add("serial then CR alone", banner + keyboard + QStringLiteral("\r"), Verdict::ForeignDevice);
    add("serial then a blank", banner + keyboard + QStringLiteral(" \n"), Verdict::ForeignDevice);
    add("serial in other case",
        banner + keyboard.left(keyboard.size() - 10) + keyboard.right(10).toLower() + lf,
        Verdict::ForeignDevice);
    add("two blanks in the name, not three",
        banner + QString(keyboard).replace(QStringLiteral("Flash   /"), QStringLiteral("Flash  /"))
            + lf,
        Verdict::ForeignDevice);
}

void TestDfuListing::judge()
{
    QFETCH(QString, listing);
    QFETCH(Verdict, verdict);

    QCOMPARE(DfuListing::judge(listing), verdict);
}

void TestDfuListing::keyboardOpenError_data()
{
    QTest::addColumn<QString>("standardError");
    QTest::addColumn<QString>("error"); // empty: none for the keyboard

    const QString warning =
        QStringLiteral("Cannot open DFU device 0483:df13 found on devnum 7 (LIBUSB_ERROR_ACCESS)");
    const QString other = QString(warning).replace(QStringLiteral("df13"), QStringLiteral("df11"));
    const QString access = QStringLiteral("LIBUSB_ERROR_ACCESS");
    QTest::newRow("glibc's prefix, LF") << QStringLiteral("dfu-util: ") + warning + "\n" << access;
    QTest::newRow("no prefix, CR LF") << warning + QStringLiteral("\r\n") << access;
    QTest::newRow("the program's own name")
        << QStringLiteral("dfu-util-static: ") + warning << access;
    QTest::newRow("devnum 127, not supported")
        << QStringLiteral("Cannot open DFU device 0483:df13 found on devnum 127 "
                          "(LIBUSB_ERROR_NOT_SUPPORTED)\r\n")
        << QStringLiteral("LIBUSB_ERROR_NOT_SUPPORTED");
    QTest::newRow("after another device's warning")
        << other + "\n" + QString(warning).replace(access, QStringLiteral("LIBUSB_ERROR_BUSY"))
               + "\n" + warning + "\n"
        << QStringLiteral("LIBUSB_ERROR_BUSY");

    QTest::newRow("nothing") << QString() << QString();
    QTest::newRow("another device only") << other + "\n" << QString();
    QTest::newRow("identifiers in other case") << warning.toUpper() + "\n" << QString();
    QTest::newRow("mid-line") << QStringLiteral("retried after ") + warning + "\n" << QString();
    QTest::newRow("more after the error name") << warning + QStringLiteral(" again\n") << QString();
}

void TestDfuListing::keyboardOpenError()
{
    QFETCH(QString, standardError);
    QFETCH(QString, error);

    QCOMPARE(DfuListing::keyboardOpenError(standardError).value_or(QString()), error);
}

void TestDfuListing::unreachableBox_data()
{
    QTest::addColumn<Platform>("platform");
    QTest::addColumn<QString>("error");
    QTest::addColumn<BoundDriver>("driver");
    QTest::addColumn<QStringList>("says"); // parts of the text, in order
    QTest::addColumn<QStringList>("never");

    const QString notSupported = QStringLiteral("LIBUSB_ERROR_NOT_SUPPORTED");
    const QString access = QStringLiteral("LIBUSB_ERROR_ACCESS");
    const BoundDriver unknown;
    const BoundDriver none{BoundDriver::State::NotInstalled, {}};
    const BoundDriver dfuSe{BoundDriver::State::Service, QStringLiteral("STTub30")};
    const BoundDriver winUsb{BoundDriver::State::Service, QStringLiteral("WinUSB")};
    const QStringList bindWinUsb{"DFU 模式", "没有 dfu-util 能用的驱动", "WinUSB", "Zadig",
                                 "0483 DF13"};
    const QStringList driverNamed{"驱动是", "尚未为它安装驱动"};
    const auto with = [](QStringList parts, int at, const char *more) {
        parts.insert(at, QString::fromUtf8(more));
        return parts;
    };

    QTest::newRow("Windows, no usable driver, Windows cannot say")
        << Platform::Windows << notSupported << unknown << bindWinUsb << driverNamed;
    QTest::newRow("Windows, no driver at all")
        << Platform::Windows << notSupported << none << with(bindWinUsb, 2, "尚未为它安装驱动")
        << QStringList{"驱动是"};
    QTest::newRow("Windows, a DfuSe driver")
        << Platform::Windows << notSupported << dfuSe << with(bindWinUsb, 2, "驱动是 STTub30")
        << QStringList{"尚未为它安装驱动"};
    QTest::newRow("Windows, held by another program")
        << Platform::Windows << access << winUsb
        << QStringList{"DFU 模式", "其他程序占用", "驱动是 WinUSB", "关闭该程序"}
        << QStringList{"Zadig", "udev"};
    QTest::newRow("Windows, another error")
        << Platform::Windows << QStringLiteral("LIBUSB_ERROR_IO") << unknown
        << QStringList{"DFU 模式", "LIBUSB_ERROR_IO", "拔下键盘", "重新进入 DFU 模式"}
        << QStringList{"Zadig", "驱动"};
    QTest::newRow("Linux, no permission")
        << Platform::Linux << access << unknown
        << QStringList{"DFU 模式", "没有打开它的权限", "udev 规则", "README", "拔下键盘"}
        << QStringList{"WinUSB", "占用"};
    // A driver only Windows can name is never part of the Linux text.
    QTest::newRow("Linux, another error")
        << Platform::Linux << notSupported << winUsb
        << QStringList{"DFU 模式", notSupported, "拔下键盘"} << QStringList{"WinUSB", "udev"};
}

void TestDfuListing::unreachableBox()
{
    QFETCH(Platform, platform);
    QFETCH(QString, error);
    QFETCH(BoundDriver, driver);
    QFETCH(QStringList, says);
    QFETCH(QStringList, never);

    const WindowBox box = UserTexts::unreachableKeyboard(platform, error, driver);
    QCOMPARE(box.kind, WindowBox::Kind::Warning);
    QCOMPARE(box.title, QStringLiteral("无法访问设备"));
    int at = 0;
    for (const QString &part : says) {
        at = box.text.indexOf(part, at);
        QVERIFY2(at >= 0, qPrintable(part + QStringLiteral(" in order in: ") + box.text));
    }
    for (const QString &part : never)
        QVERIFY2(!box.text.contains(part), qPrintable(part + QStringLiteral(" in: ") + box.text));
}

void TestDfuListing::boundDriver_data()
{
    QTest::addColumn<QStringList>("hardwareIds"); // of a device planted in the registry
    QTest::addColumn<QString>("service");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("named");

    const QStringList keyboard{"USB\\VID_0483&PID_DF13&REV_0200", "USB\\VID_0483&PID_DF13"};
    const int service = int(BoundDriver::State::Service);
    const int unknown = int(BoundDriver::State::Unknown);
    QTest::newRow("nothing planted") << QStringList() << QString() << unknown << QString();
    QTest::newRow("bound to WinUSB") << keyboard << "WinUSB" << service << "WinUSB";
    QTest::newRow("bound to a DfuSe driver") << keyboard << "STTub30" << service << "STTub30";
    QTest::newRow("no service named") << keyboard << QString() << unknown << QString();
    QTest::newRow("another device bound")
        << QStringList{"USB\\VID_0483&PID_DF11&REV_2200", "USB\\VID_0483&PID_DF11"} << "WinUSB"
        << unknown << QString();
}

void TestDfuListing::boundDriver()
{
#ifndef Q_OS_WIN
    QSKIP("Windows binds drivers to USB devices; Wine's SetupAPI reads the planted ones");
#else
    QFETCH(QStringList, hardwareIds);
    QFETCH(QString, service);
    QFETCH(int, state);
    QFETCH(QString, named);
    // Planted where Windows keeps the USB devices it has seen, and taken
    // away again: CTest runs no other test that reads them meanwhile.
    const QString devices =
        QStringLiteral("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\USB");
    const QString product =
        devices + QLatin1Char('\\')
        + hardwareIds.value(hardwareIds.size() - 1).section(QLatin1Char('\\'), 1);
    const QString instance = QStringLiteral("NV38KTEST");
    const bool planted = !hardwareIds.isEmpty();
    if (planted) {
        QSettings device(product + QLatin1Char('\\') + instance, QSettings::NativeFormat);
        device.setValue(QStringLiteral("HardwareID"), hardwareIds);
        // Wine lists only devices of a setup class; this is WinUSB's.
        device.setValue(QStringLiteral("ClassGUID"),
                        QStringLiteral("{88bae032-5a81-49f0-bc3d-a4ff138216d6}"));
        if (!service.isEmpty())
            device.setValue(QStringLiteral("Service"), service);
        device.sync();
        QCOMPARE(device.status(), QSettings::NoError);
    }
    const BoundDriver driver = UnreachableKeyboard::boundDriver();
    if (planted)
        QSettings(product, QSettings::NativeFormat).remove(instance);
    QCOMPARE(int(driver.state), state);
    QCOMPARE(driver.service, named);
#endif
}

QTEST_APPLESS_MAIN(TestDfuListing)
#include "tst_dfulisting.moc"
