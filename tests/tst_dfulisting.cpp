// Judging dfu-util's listing: the keyboard's identifiers, name and serial.
#include "device/dfulisting.h"

#include <QtTest>

using Verdict = DfuListing::Verdict;
Q_DECLARE_METATYPE(DfuListing::Verdict)

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
    void texts();
    void judge_data();
    void judge();
};

void TestDfuListing::texts()
{
    QCOMPARE(DfuListing::program(), QStringLiteral("./bin/x64/dfu-util-static"));
    QCOMPARE(DfuListing::arguments(), QStringList{QStringLiteral("-l")});
    QCOMPARE(DfuListing::nameAndSerialText().size(), 86);
    QVERIFY(keyboard.endsWith(DfuListing::nameAndSerialText()));
}

void TestDfuListing::judge_data()
{
    QTest::addColumn<QString>("listing");
    QTest::addColumn<Verdict>("verdict");

    const QString lf = QStringLiteral("\n");
    const QString crlf = QStringLiteral("\r\n");
    QTest::newRow("keyboard, LF") << banner + keyboard + lf << Verdict::DevicePresent;
    QTest::newRow("keyboard, CR LF") << banner + keyboard + crlf << Verdict::DevicePresent;
    QTest::newRow("keyboard among others")
        << banner + otherDevice + lf + keyboard + lf + otherDevice + lf << Verdict::DevicePresent;
    QTest::newRow("ids and name from two devices")
        << banner + sameIdsOtherName + lf + nameOnly + lf << Verdict::DevicePresent;
    QTest::newRow("name first mid-line, then at a line end")
        << banner + keyboard + QStringLiteral(" (again)\n") + keyboard + lf
        << Verdict::DevicePresent;

    QTest::newRow("empty") << QString() << Verdict::NoDevice;
    QTest::newRow("banner only") << banner << Verdict::NoDevice;
    QTest::newRow("other devices only") << banner + otherDevice + lf << Verdict::NoDevice;
    QTest::newRow("ids in other case") << banner + keyboard.toLower() + lf << Verdict::NoDevice;
    QTest::newRow("name without the ids") << banner + nameOnly + lf << Verdict::NoDevice;

    QTest::newRow("same ids, other name")
        << banner + sameIdsOtherName + lf << Verdict::ForeignDevice;
    QTest::newRow("serial ends the text") << banner + keyboard << Verdict::ForeignDevice;
    QTest::newRow("serial then CR alone")
        << banner + keyboard + QStringLiteral("\r") << Verdict::ForeignDevice;
    QTest::newRow("serial then a blank")
        << banner + keyboard + QStringLiteral(" \n") << Verdict::ForeignDevice;
    QTest::newRow("serial in other case")
        << banner + keyboard.left(keyboard.size() - 10) + keyboard.right(10).toLower() + lf
        << Verdict::ForeignDevice;
    QTest::newRow("two blanks in the name, not three")
        << banner
               + QString(keyboard).replace(QStringLiteral("Flash   /"), QStringLiteral("Flash  /"))
               + lf
        << Verdict::ForeignDevice;
}

void TestDfuListing::judge()
{
    QFETCH(QString, listing);
    QFETCH(Verdict, verdict);

    QCOMPARE(DfuListing::judge(listing), verdict);
}

QTEST_APPLESS_MAIN(TestDfuListing)
#include "tst_dfulisting.moc"
