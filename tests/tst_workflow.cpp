// The real window end to end: a local HTTPS server, dfu-util stand-ins run as
// real child processes, real files in a scratch working directory, and every
// message box read and closed.
#include "firmware_info/firmwareserver.h"
#include "support/filesizelimit.h"
#include "support/httpsserver.h"
#include "support/windowdriver.h"

#include <QSslKey>
#include <QTextCodec>
#include <QtTest>
#include <memory>

namespace {

const QString infoPath = QStringLiteral("/NV38Firmware/N3KFirmware/Version.txt");
const QString firmwarePath = QStringLiteral("/NV38Firmware/N3KFirmware/K1_2.0.nv");
const QByteArray
    versionFile("[Device]=K1\r\n[Version]=2.0\r\n[Desc]=first note\r\n[Desc]=second note\r\n");
const QByteArray keyboardListing(
    "dfu-util 0.11\n\n"
    "Found DFU: [0483:df11] ver=2200, devnum=9, cfg=1, intf=0, path=\"1-4\", alt=1, "
    "name=\"@Option Bytes  /0x1FFFF800/01*016 e\", serial=\"FFFFFFFEFFFF\"\n"
    "Found DFU: [0483:df13] ver=0200, devnum=7, cfg=1, intf=0, path=\"1-2\", alt=0, "
    "name=\"@NV38K Flash   /0x00000000/15*001Ka,155*001Kg\", serial=\"NV38K CUSTOMED KEYBOARD\"\n");
const QByteArray earlierFirmware = QByteArray("earlier firmware image ").repeated(9000);

QByteArray firmwareImage(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 31 + (i >> 9)) & 0xff);
    return bytes;
}

const QString successBox = box("information", "成功", "下载固件成功,请使用升级工具进行升级。");

enum class Utility { Prints, Missing, NotExecutable };
enum class Disk { Fresh, EarlierFirmware, TmpIsAFile, FillsUp };

} // namespace

Q_DECLARE_METATYPE(CannedResponse)
Q_DECLARE_METATYPE(Utility)
Q_DECLARE_METATYPE(Disk)

class TestWorkflow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void informationFile_data();
    void informationFile();
    void failedInformationKeepsEarlierAddress();
    void quickClicksAreAnsweredEach();
    void updateNeedsInformationFirst();
    void deviceCheck_data();
    void deviceCheck();
    void download_data();
    void download();
    void wholeUse();

private:
    bool installUtility(Utility utility, const QByteArray &listing, int exitCode = 0,
                        bool crash = false);

    HttpsTestServer m_server;
    std::unique_ptr<WindowDriver> m_driver;
};

void TestWorkflow::initTestCase()
{
    const QString certs = QStringLiteral(NV38K_TEST_CERT_DIR);
    const QList<QSslCertificate> ca =
        QSslCertificate::fromPath(certs + QStringLiteral("/ca.pem"), QSsl::Pem);
    QCOMPARE(ca.size(), 1);
    QSslConfiguration::setDefaultConfiguration(
        FirmwareServer::withExtraRoots(QSslConfiguration::defaultConfiguration(), ca));

    QFile key(certs + QStringLiteral("/server.key"));
    QVERIFY(key.open(QIODevice::ReadOnly));
    m_server.setIdentity(
        QSslCertificate::fromPath(certs + QStringLiteral("/server.pem"), QSsl::Pem).value(0),
        QSslKey(&key, QSsl::Rsa));
    QVERIFY(m_server.start());
}

void TestWorkflow::init()
{
    m_server.clearResponses();
    m_server.clearRequests();
    m_server.setResponse(infoPath, {CannedResponse::Kind::File, versionFile});
    m_server.setResponse(firmwarePath, {CannedResponse::Kind::File, firmwareImage(170 * 1024)});

    m_driver = std::make_unique<WindowDriver>();
    QVERIFY(m_driver->isReady());
}

void TestWorkflow::cleanup()
{
    m_driver.reset();
    for (const char *name : {"FAKE_DFU_LISTING", "FAKE_DFU_EXIT", "FAKE_DFU_CRASH"})
        qunsetenv(name);
}

// Sets up bin/x64/dfu-util-static to print `listing` and exit with `exitCode`.
bool TestWorkflow::installUtility(Utility utility, const QByteArray &listing, int exitCode,
                                  bool crash)
{
    const QString program = QStringLiteral("bin/x64/dfu-util-static");
    bool installed = false;
    switch (utility) {
    case Utility::Prints:
        installed = m_driver->installUtility(QStringLiteral(NV38K_FAKE_DFU_UTIL));
        break;
    case Utility::NotExecutable:
        installed = m_driver->installUtility(QString())
                    && writeFile(program, "#!/bin/sh\necho hello\n")
                    && QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner);
        break;
    case Utility::Missing:
        installed = true;
        break;
    }
    qputenv("FAKE_DFU_LISTING",
            QDir::current().absoluteFilePath(QStringLiteral("listing.txt")).toLocal8Bit());
    qputenv("FAKE_DFU_EXIT", QByteArray::number(exitCode));
    if (crash)
        qputenv("FAKE_DFU_CRASH", "1");
    return installed && writeFile(QStringLiteral("listing.txt"), listing);
}

void TestWorkflow::informationFile_data()
{
    QTest::addColumn<CannedResponse>("response");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QStringList>("boxes");

    using Kind = CannedResponse::Kind;
    const QByteArray chinese = QTextCodec::codecForName("GBK")->fromUnicode(QStringLiteral(
        "[Device]=K1\r\n[Version]=2.0\r\n[Desc]=修复按键失灵\r\n[Desc]=提升稳定性\r\n"));
    const QString errorBox = box("critical", "错误", "获取固件信息错误。");

    QTest::newRow("file") << CannedResponse{Kind::File, versionFile}
                          << QStringList{"K1", "2.0", "first note\r\nsecond note"} << QStringList();
    QTest::newRow("GBK notes") << CannedResponse{Kind::File, chinese}
                               << QStringList{"K1", "2.0",
                                              QStringLiteral("修复按键失灵\r\n提升稳定性")}
                               << QStringList();
    QTest::newRow("bad device line")
        << CannedResponse{Kind::File, "[Device]=K1=K2\r\n[Version]=2.0"} << QStringList{"", "", ""}
        << QStringList{errorBox};
    QTest::newRow("empty file") << CannedResponse{Kind::File, ""} << QStringList{"", "", ""}
                                << QStringList{errorBox};
    QTest::newRow("bad version line")
        << CannedResponse{Kind::File, "[Device]=K9\r\n[Desc]=x"} << QStringList{"K9", "", ""}
        << QStringList{box("critical", "错误", "获取固件版本错误。")};
    QTest::newRow("not found") << CannedResponse{Kind::Status, "", 404} << QStringList{"", "", ""}
                               << QStringList{box("information", "error", "error")};
    // A redirection is not followed and its page is read as a file.
    QTest::newRow("redirect") << CannedResponse{Kind::Redirect} << QStringList{"", "", ""}
                              << QStringList{errorBox};
    QTest::newRow("dropped mid-body")
        << CannedResponse{Kind::DropMidBody, versionFile} << QStringList{"", "", ""}
        << QStringList{box("information", "error", "error")};
}

void TestWorkflow::informationFile()
{
    QFETCH(CannedResponse, response);
    QFETCH(QStringList, labels);
    QFETCH(QStringList, boxes);

    m_server.setResponse(infoPath, response);
    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_server.requests(), QStringList{infoPath});
    QCOMPARE(m_driver->boxes(), boxes);
    QCOMPARE((QStringList{m_driver->label("lblDeviceType"), m_driver->label("lblFirmwareVersion"),
                          m_driver->label("lblFirmwareDesc")}),
             labels);
    QVERIFY(m_driver->repliesReleased());
    QCOMPARE(m_driver->log(), QStringList());
}

void TestWorkflow::failedInformationKeepsEarlierAddress()
{
    QVERIFY(m_driver->fetchInformation());
    m_server.setResponse(
        infoPath, {CannedResponse::Kind::File, "[Device]=K2\r\n[Version]=3=0\r\n[Desc]=new"});
    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_driver->boxes(), QStringList{box("critical", "错误", "获取固件版本错误。")});
    QCOMPARE(m_driver->label("lblDeviceType"), QStringLiteral("K2"));
    QCOMPARE(m_driver->label("lblFirmwareVersion"), QStringLiteral("2.0"));
    QCOMPARE(m_driver->label("lblFirmwareDesc"), QStringLiteral("first note\r\nsecond note"));

    // The check still runs and asks for the firmware of the earlier file.
    m_server.setResponse(infoPath, {CannedResponse::Kind::Status, "", 404});
    QVERIFY(m_driver->fetchInformation());
    QVERIFY(installUtility(Utility::Prints, keyboardListing));
    QVERIFY(m_driver->checkDevice(true));
    QCOMPARE(m_server.requests().last(), firmwarePath);
}

void TestWorkflow::quickClicksAreAnsweredEach()
{
    QVERIFY(m_driver->fetchInformation(2));
    QCOMPARE(m_server.requests(), (QStringList{infoPath, infoPath}));
    QCOMPARE(m_driver->boxes(), QStringList());
    QCOMPARE(m_driver->label("lblDeviceType"), QStringLiteral("K1"));
    QVERIFY(m_driver->repliesReleased());
}

void TestWorkflow::updateNeedsInformationFirst()
{
    QVERIFY(installUtility(Utility::Prints, keyboardListing));
    m_driver->click("btnUpdate");
    QCOMPARE(m_driver->boxes(), QStringList{box("warning", "警告", "请先获取固件信息后再试")});
    QCOMPARE(m_driver->listProcess()->state(), QProcess::NotRunning);
    QCOMPARE(m_driver->listProcess()->isOpen(), false);
    QCOMPARE(m_driver->log(), QStringList());
}

void TestWorkflow::deviceCheck_data()
{
    QTest::addColumn<Utility>("utility");
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("crash");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("log");

    const QString program = loggedString(QStringLiteral("./bin/x64/dfu-util-static"));
    const QString started = logLine(QStringLiteral("Proc Start"));
    const QString listing = loggedString(QString::fromLatin1(keyboardListing));
    const QString size = QString::number(170 * 1024);
    const QString brokenBox = box("critical", "错误", "升级工具损坏，请重新安装");

    QTest::newRow("keyboard attached")
        << Utility::Prints << keyboardListing << 0 << false << QStringList{successBox}
        << QStringList{program,
                       started,
                       listing,
                       loggedString(FirmwareServer::baseUrl() + QStringLiteral("K1_2.0.nv")),
                       logLine(QStringLiteral("收到固件大小: ")) + size,
                       logLine(QStringLiteral("SaveFileSuccess ")) + size};
    const QByteArray noKeyboard("dfu-util 0.11\n\n");
    QTest::newRow("no device") << Utility::Prints << noKeyboard << 0 << false
                               << QStringList{box("warning", "未检测到设备",
                                                  "未检测到可升级的设备,请检查设备是否正确连接。")}
                               << QStringList{program, started,
                                              loggedString(QString::fromLatin1(noKeyboard)),
                                              logLine(QStringLiteral("None Device Found"))};
    const QByteArray foreign = QByteArray(keyboardListing).replace("KEYBOARD\"", "KEYBOARD2\"");
    QTest::newRow("foreign device")
        << Utility::Prints << foreign << 0 << false
        << QStringList{box("warning", "未检测到设备",
                           "未查找到相应设备，请检查设备是否与升级工具软件匹配。")}
        << QStringList{program, started, loggedString(QString::fromLatin1(foreign))};
    QTest::newRow("non-zero exit") << Utility::Prints << keyboardListing << 74 << false
                                   << QStringList() << QStringList{program, started};
    QTest::newRow("crash") << Utility::Prints << keyboardListing << 0 << true
                           << QStringList{brokenBox}
                           << QStringList{program, started, logLine(QStringLiteral("error"))};
    QTest::newRow("missing") << Utility::Missing << QByteArray() << 0 << false
                             << QStringList{brokenBox}
                             << QStringList{program, logLine(QStringLiteral("error"))};
    QTest::newRow("not executable")
        << Utility::NotExecutable << QByteArray() << 0 << false << QStringList{brokenBox}
        << QStringList{program, logLine(QStringLiteral("error"))};
}

void TestWorkflow::deviceCheck()
{
    QFETCH(Utility, utility);
    QFETCH(QByteArray, listing);
    QFETCH(int, exitCode);
    QFETCH(bool, crash);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, log);

    QVERIFY(m_driver->fetchInformation());
    QVERIFY(installUtility(utility, listing, exitCode, crash));
    const bool downloads = boxes == QStringList{successBox};
    QVERIFY(m_driver->checkDevice(downloads));
    QCOMPARE(m_driver->boxes(), boxes);
    QCOMPARE(m_driver->log(), log);
    QCOMPARE(m_server.requests().contains(firmwarePath), downloads);
    QCOMPARE(QFileInfo::exists(QStringLiteral("tmp/Data.nv")), downloads);
    QVERIFY(m_driver->repliesReleased());
}

void TestWorkflow::download_data()
{
    QTest::addColumn<CannedResponse>("response");
    QTest::addColumn<Disk>("disk");
    QTest::addColumn<QStringList>("boxes");

    using Kind = CannedResponse::Kind;
    const CannedResponse image{Kind::File, firmwareImage(170 * 1024)};
    const QString failed = QStringLiteral("下载固件失败");
    QTest::newRow("first download") << image << Disk::Fresh << QStringList{successBox};
    QTest::newRow("replaces a longer file") << CannedResponse{Kind::File, firmwareImage(1000)}
                                            << Disk::EarlierFirmware << QStringList{successBox};
    QTest::newRow("empty firmware")
        << CannedResponse{Kind::File, ""} << Disk::EarlierFirmware << QStringList{successBox};
    QTest::newRow("not found")
        << CannedResponse{Kind::Status, "", 404} << Disk::EarlierFirmware
        << QStringList{
               box("information", "错误",
                   failed
                       + QStringLiteral("Error transferring %1 - server replied: Canned Status")
                             .arg(FirmwareServer::baseUrl() + QStringLiteral("K1_2.0.nv")))};
    QTest::newRow("redirect") << CannedResponse{Kind::Redirect} << Disk::EarlierFirmware
                              << QStringList{box("information", "错误",
                                                 failed + QStringLiteral("HTTP 302"))};
    QTest::newRow("dropped mid-body")
        << CannedResponse{Kind::DropMidBody, image.body} << Disk::EarlierFirmware
        << QStringList{box("information", "错误", failed + QStringLiteral("Connection closed"))};
    QTest::newRow("tmp is a plain file")
        << image << Disk::TmpIsAFile
        << QStringList{box("information", "File", "File Open Failed.", "none")};
    QTest::newRow("disk fills up")
        << image << Disk::FillsUp
        << QStringList{box("information", "File", "File Write Failed.", "none")};
}

void TestWorkflow::download()
{
    QFETCH(CannedResponse, response);
    QFETCH(Disk, disk);
    QFETCH(QStringList, boxes);

    m_server.setResponse(firmwarePath, response);
    switch (disk) {
    case Disk::Fresh:
        break;
    case Disk::EarlierFirmware:
    case Disk::FillsUp:
        QVERIFY(QDir().mkdir(QStringLiteral("tmp")));
        QVERIFY(writeFile(QStringLiteral("tmp/Data.nv"), earlierFirmware));
        break;
    case Disk::TmpIsAFile:
        QVERIFY(writeFile(QStringLiteral("tmp"), earlierFirmware));
        break;
    }

    QVERIFY(m_driver->fetchInformation());
    QVERIFY(installUtility(Utility::Prints, keyboardListing));
    {
        std::unique_ptr<FileSizeLimit> limit;
        if (disk == Disk::FillsUp)
            limit = std::make_unique<FileSizeLimit>(100 * 1024);
        QVERIFY(m_driver->checkDevice(true));
    }
    QCOMPARE(m_driver->boxes(), boxes);

    const bool stored = boxes == QStringList{successBox};
    if (disk == Disk::TmpIsAFile)
        QCOMPARE(readFile(QStringLiteral("tmp")), earlierFirmware);
    else if (stored)
        QCOMPARE(readFile(QStringLiteral("tmp/Data.nv")), response.body);
    else if (disk == Disk::Fresh)
        QVERIFY(!QFileInfo::exists(QStringLiteral("tmp/Data.nv")));
    else
        QCOMPARE(readFile(QStringLiteral("tmp/Data.nv")), earlierFirmware);
    if (QFileInfo(QStringLiteral("tmp")).isDir())
        QCOMPARE(QDir(QStringLiteral("tmp"))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("Data.nv")});

    // The listing is let go once the firmware is stored.
    QCOMPARE(m_driver->listProcess()->isOpen(), !stored);
    QVERIFY(m_driver->repliesReleased());
}

void TestWorkflow::wholeUse()
{
    const QByteArray firmware = firmwareImage(170 * 1024);
    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_driver->label("lblDeviceType"), QStringLiteral("K1"));
    QCOMPARE(m_driver->label("lblFirmwareVersion"), QStringLiteral("2.0"));
    QCOMPARE(m_driver->label("lblFirmwareDesc"), QStringLiteral("first note\r\nsecond note"));

    QVERIFY(installUtility(Utility::Prints, keyboardListing));
    QVERIFY(m_driver->checkDevice(true));
    QCOMPARE(m_driver->boxes(), QStringList{successBox});
    QCOMPARE(m_server.requests(), (QStringList{infoPath, firmwarePath}));
    QCOMPARE(readFile(QStringLiteral("tmp/Data.nv")), firmware);
    QCOMPARE(m_driver->log().last(),
             logLine(QStringLiteral("SaveFileSuccess ")) + QString::number(firmware.size()));
    QVERIFY(m_driver->repliesReleased());
}

QTEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
