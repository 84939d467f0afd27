// The real window end to end: a local HTTPS server, dfu-util stand-ins run as
// real child processes, real files in a scratch working directory, and every
// message box read and closed.
#include "buildsettings/buildsettings.h"
#include "integrity/buildkeys.h"
#include "integrity/firmwaresignature.h"
#include "preferences/updatepreferences.h"
#include "requests/serverrequests.h"
#include "server/firmwareserver.h"
#include "storage/firmwarestore.h"
#include "testkit/filesizelimit.h"
#include "testkit/httpsserver.h"
#include "testkit/tmpfsmount.h"
#include "testkit/windowdriver.h"
#include "toolupdate/installerdownload.h"
#include "usertexts/usertexts.h"
#include "window/widget.h"

#include <QDesktopServices>
#include <QLabel>
#include <QNetworkRequest>
#include <QSettings>
#include <QSslConfiguration>
#include <QtTest>
#include <memory>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

const QString infoPath = QStringLiteral("/NV38Firmware/N3KFirmware/Version.txt");
const QString firmwarePath = QStringLiteral("/NV38Firmware/N3KFirmware/K1_2.0.nv");
const QString signaturePath = firmwarePath + QStringLiteral(".sig");
const QString toolReleasePath = QStringLiteral("/NV38Firmware/N3KFirmware/ToolRelease.txt");
const QByteArray
    versionFile("[Device]=K1\r\n[Version]=2.0\r\n[Desc]=first note\r\n[Desc]=second note\r\n");
const QStringList versionShown{"K1", "2.0", "first note\r\nsecond note"}; // in the three labels
const QByteArray keyboardListing(
    "dfu-util 0.11\n\n"
    "Found DFU: [0483:df11] ver=2200, devnum=9, cfg=1, intf=0, path=\"1-4\", alt=1, "
    "name=\"@Option Bytes  /0x1FFFF800/01*016 e\", serial=\"FFFFFFFEFFFF\"\n"
    "Found DFU: [0483:df13] ver=0200, devnum=7, cfg=1, intf=0, path=\"1-2\", alt=0, "
    "name=\"@NV38K Flash   /0x00000000/15*001Ka,155*001Kg\", serial=\"NV38K CUSTOMED KEYBOARD\"\n");
const QByteArray earlierFirmware = QByteArray("earlier firmware image ").repeated(9000);

enum class Utility { Prints, Fails, Crashes, Missing, NotExecutable };
// What the server has beside the firmware as its signature.
enum class Signature {
    Valid, // by the trusted key, over the served firmware for K1 2.0
    OfUnchangedImage, // valid for the 170 KB image, which the served firmware is not
    NotFound,
    Oversized,
    OneByteTooLarge, // its size limit and a byte more
    Redirected,
    CutOff,
};
enum class Disk {
    Fresh,
    EarlierFirmware,
    TmpIsAFile,
    DataIsADirectory,
    FileSizeLimit, // writes past 100 KiB fail, as on a full disk
    LastByteRefused, // only the firmware's last byte does not fit
    FullTmpfs, // a 256 KiB tmpfs holding the earlier firmware
    ReadOnlyTmpfs,
};
// Beside the tool's own download folder when the clean-up runs.
enum class Beside {
    Planted, // a folder named like it, that the tool did not note
    SwappedForLink, // one it noted, replaced by a link to another folder
    OtherUsers, // one it noted, now another user's
    NotNamedByIt, // a folder noted under a name it never gives
};

// The user's temporary folder is `path` while this lives.
struct TemporaryFolder
{
    explicit TemporaryFolder(const QString &path)
    {
        for (const char *variable : {"TMPDIR", "TMP", "TEMP"}) {
            before.insert(variable, qgetenv(variable));
            qputenv(variable, QFile::encodeName(QDir::toNativeSeparators(path)));
        }
    }
    ~TemporaryFolder()
    {
        for (auto variable = before.cbegin(); variable != before.cend(); ++variable)
            qputenv(variable.key(), variable.value());
    }
    QHash<const char *, QByteArray> before;
};

const QString certificates = QStringLiteral(NV38K_TEST_CERT_DIR);

// Certificates the tool must refuse: signed by itself, expired, for another
// host, signed by a CA nobody trusts.
const char *const refusedCertificates[] = {"selfsigned", "expired", "wronghost", "untrusted"};

CannedResponse signatureFile(Signature signature, const QByteArray &firmware)
{
    using Kind = CannedResponse::Kind;
    const QByteArray valid = firmwareSignature(firmware);
    switch (signature) {
    case Signature::Valid:
        return {Kind::File, valid};
    case Signature::OfUnchangedImage:
        return {Kind::File, firmwareSignature(firmwareImage(170 * 1024))};
    case Signature::NotFound:
        return {Kind::Status, "", 404};
    case Signature::Oversized:
        return {Kind::Endless};
    case Signature::OneByteTooLarge:
        return {Kind::File, QByteArray(FirmwareSignature::maxSignatureBytes + 1, 'x')};
    case Signature::Redirected:
        return {Kind::Redirect};
    case Signature::CutOff:
        return {Kind::DropMidBody, valid};
    }
    return {};
}

} // namespace

Q_DECLARE_METATYPE(Utility)
Q_DECLARE_METATYPE(Disk)
Q_DECLARE_METATYPE(Signature)
Q_DECLARE_METATYPE(Beside)
Q_DECLARE_METATYPE(InstallerOutcome)

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
    void stalledServerChangesNothing();
    void deviceCheck_data();
    void deviceCheck();
    void hugeListing();
    void clickWhileListing();
    void download_data();
    void download();
    void storePiece_data();
    void storePiece();
    void wholeUse();
    void toolRelease_data();
    void toolRelease();
    void toolReleaseChoicesKept();
    void installerDownload_data();
    void installerDownload();
    void earlierDownloads_data();
    void earlierDownloads();

public slots:
    // Stands in for the owner's browser: notes the address, and the owner
    // then answers the box that stayed open.
    void openInBrowser(const QUrl &url)
    {
        m_opened << url;
        m_driver->answerBoxesWith(m_offer.dismissButton, false);
    }

private:
    bool stillUsable();
    bool installUtility(Utility utility, const QByteArray &listing);

    HttpsTestServer m_server;
    std::unique_ptr<WindowDriver> m_driver;
    QList<QUrl> m_opened;
    UpdateBox m_offer; // the box of the release offered
};

void TestWorkflow::initTestCase()
{
    QVERIFY(m_server.start());
}

void TestWorkflow::init()
{
    QVERIFY(m_server.useCertificate(QStringLiteral("server")));
    m_server.clearResponses();
    m_server.clearRequests();
    m_server.setResponse(infoPath, {CannedResponse::Kind::File, versionFile});
    m_server.setResponse(firmwarePath, {CannedResponse::Kind::File, firmwareImage(170 * 1024)});
    m_server.setResponse(signaturePath, signatureFile(Signature::Valid, firmwareImage(170 * 1024)));

    m_driver = std::make_unique<WindowDriver>();
    QVERIFY(m_driver->isReady());
}

void TestWorkflow::cleanup()
{
    m_driver.reset();
    for (const char *name : {"FAKE_DFU_LISTING", "FAKE_DFU_ERRORS", "FAKE_DFU_EXIT",
                             "FAKE_DFU_CRASH", "FAKE_DFU_SLEEP_MS", "FAKE_DFU_ERRORS_PAUSE_AT"})
        qunsetenv(name);
}

// After a fault the window still does its job: a good file is read and shown.
bool TestWorkflow::stillUsable()
{
    if (!m_server.useCertificate(QStringLiteral("server")))
        return false;
    m_server.setResponse(infoPath, {CannedResponse::Kind::File, versionFile});
    const int boxesBefore = m_driver->boxes().size();
    return m_driver->fetchInformation() && m_driver->boxes().size() == boxesBefore
           && m_driver->labels() == versionShown;
}

// Sets up dfu-util to print `listing`, or to fail as `utility` says.
bool TestWorkflow::installUtility(Utility utility, const QByteArray &listing)
{
    const QString program = WindowDriver::utilityPath();
    bool installed = true;
    if (utility == Utility::Prints || utility == Utility::Fails || utility == Utility::Crashes)
        installed = m_driver->installUtility(QStringLiteral(NV38K_FAKE_DFU_UTIL));
    if (utility == Utility::NotExecutable)
        installed = m_driver->installUtility(QString())
                    && writeFile(program, "#!/bin/sh\necho hello\n")
                    && QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner);
    qputenv("FAKE_DFU_LISTING",
            QDir::current().absoluteFilePath(QStringLiteral("listing.txt")).toLocal8Bit());
    if (utility == Utility::Fails)
        qputenv("FAKE_DFU_EXIT", "74");
    if (utility == Utility::Crashes)
        qputenv("FAKE_DFU_CRASH", "1");
    return installed && writeFile(QStringLiteral("listing.txt"), listing);
}

void TestWorkflow::informationFile_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<CannedResponse>("response");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QStringList>("boxes");

    using Kind = CannedResponse::Kind;
    const auto add = [](const char *name, const CannedResponse &response, const QStringList &labels,
                        const QStringList &boxes, const char *certificate = "server") {
        QTest::newRow(name) << QString::fromLatin1(certificate) << response << labels << boxes;
    };
    const QStringList none{"", "", ""};
    const QStringList failed{box(UserTexts::informationReplyFailed())};
    const QStringList badFile{
        box(*UserTexts::informationRefused(VersionInfo::Status::BadDeviceLine))};
    add("file", {Kind::File, versionFile}, versionShown, {});
    // A vendor may set a value in bold; what else a server's markup could
    // load or follow reads as the text it is.
    add("model in bold", {Kind::File, "[Device]=<b>K1</b>\r\n[Version]=2.0"}, {"K1", "2.0", ""},
        {});
    add("notes with a style sheet",
        {Kind::File, "[Device]=K1\r\n[Version]=2.0\r\n[Desc]=<style>"
                     "@import url(red.css); p { background-image: "
                     "url(red.png) }</style><p>note</p>\r\n"},
        {"K1", "2.0",
         "<style>@import url(red.css); p { background-image: url(red.png) }</style>\nnote"},
        {});
    add("bad device line", {Kind::File, "[Device]=K1=K2\r\n[Version]=2.0"}, none, badFile);
    add("bad version line", {Kind::File, "[Device]=K9\r\n[Desc]=x"}, {"K9", "", ""},
        {box(*UserTexts::informationRefused(VersionInfo::Status::BadVersionLine))});
    add("not found", {Kind::Status, "", 404}, none, failed);
    add("server error", {Kind::Status, "", 500}, none, failed);
    // A redirection is not followed and its page is read as a file.
    add("redirect", {Kind::Redirect}, none, badFile);
    add("dropped mid-body", {Kind::DropMidBody, versionFile}, none, failed);
    add("malformed answer", {Kind::Malformed}, none, failed);
    // Even a well-formed file is refused once it passes 1 MiB; the trailing
    // line of padding is no note.
    const QByteArray oneMiB = versionFile + QByteArray(1024 * 1024 - versionFile.size(), 'x');
    add("exactly 1 MiB", {Kind::File, oneMiB}, versionShown, {});
    add("1 MiB and a byte", {Kind::File, oneMiB + 'x'}, none, failed);
    add("announces 100 MiB", {Kind::Announces100MiB}, none, failed);
    add("endless", {Kind::Endless}, none, failed);
    for (const char *name : refusedCertificates)
        add(name, {Kind::File, versionFile}, none, failed, name);
}

void TestWorkflow::informationFile()
{
    QFETCH(QString, certificate);
    QFETCH(CannedResponse, response);
    QFETCH(QStringList, labels);
    QFETCH(QStringList, boxes);

    QVERIFY(m_server.useCertificate(certificate));
    m_server.setResponse(infoPath, response);
    // What a value's markup might name: a red picture, and a style sheet that
    // makes the text red.
    QImage red(64, 64, QImage::Format_RGB32);
    red.fill(Qt::red);
    QVERIFY(red.save("red.png") && writeFile("red.css", "* { color: #ff0000 }"));
    QVERIFY(m_driver->fetchInformation());
    for (QLabel *label : m_driver->window().findChildren<QLabel *>(QRegularExpression("^lbl"))) {
        const QImage drawn = label->grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x)
                QVERIFY2(drawn.pixel(x, y) != red.pixel(0, 0), qPrintable(label->objectName()));
    }
    // A refused certificate ends the connection before any request is sent.
    QCOMPARE(m_server.requests().isEmpty(), certificate != QLatin1String("server"));
    QCOMPARE(m_driver->boxes(), boxes);
    QCOMPARE(m_driver->labels(), labels);
    QVERIFY(m_driver->repliesReleased());
    QCOMPARE(m_driver->log(), QStringList());
    // An endless body was cut off early instead of being buffered whole.
    QVERIFY(m_server.endlessBytesSent() < FirmwareServer::maxInfoBytes + 16 * 1024 * 1024);
    QVERIFY(stillUsable());
}

void TestWorkflow::stalledServerChangesNothing()
{
    // The information request never gets an answer: nothing happens, the
    // window keeps responding, and "下载固件" still wants the information
    // first and runs no dfu-util.
    QVERIFY(installUtility(Utility::Prints, keyboardListing));
    m_server.setResponse(infoPath, {CannedResponse::Kind::Stall});
    m_driver->click("btnGetFirmWare");
    // Nothing more comes: the server holds the connection open and silent.
    QVERIFY(QTest::qWaitFor([this] { return !m_server.requests().isEmpty(); }));
    QCOMPARE(m_driver->labels(), (QStringList{"", "", ""}));
    m_driver->click("btnUpdate");
    QCOMPARE(m_driver->boxes(), QStringList{box(UserTexts::informationFirst())});
    QCOMPARE(m_driver->listProcess()->state(), QProcess::NotRunning);
    QCOMPARE(m_driver->log(), QStringList());

    // Likewise for the firmware request, with an earlier download on disk.
    m_server.setResponse(infoPath, {CannedResponse::Kind::File, versionFile});
    m_server.setResponse(firmwarePath, {CannedResponse::Kind::Stall});
    QVERIFY(QDir().mkdir(QStringLiteral("tmp")));
    QVERIFY(writeFile(QStringLiteral("tmp/Data.nv"), earlierFirmware));
    QVERIFY(m_driver->fetchInformation());
    QVERIFY(m_driver->checkDevice(false));
    QVERIFY(QTest::qWaitFor([this] { return m_server.requests().contains(firmwarePath); }));
    QCOMPARE(m_driver->boxes().size(), 1);
    QCOMPARE(readFile(QStringLiteral("tmp/Data.nv")), earlierFirmware);
    QVERIFY(stillUsable());
}

void TestWorkflow::failedInformationKeepsEarlierAddress()
{
    QVERIFY(m_driver->fetchInformation());
    m_server.setResponse(
        infoPath, {CannedResponse::Kind::File, "[Device]=K2\r\n[Version]=3=0\r\n[Desc]=new"});
    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_driver->boxes(),
             QStringList{box(*UserTexts::informationRefused(VersionInfo::Status::BadVersionLine))});
    QCOMPARE(m_driver->labels(), (QStringList{"K2", "2.0", "first note\r\nsecond note"}));

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
    // One statement request in a run is enough.
    QCOMPARE(m_server.requests(), (QStringList{infoPath, infoPath, toolReleasePath}));
    QCOMPARE(m_driver->boxes(), QStringList());
    QCOMPARE(m_driver->label("lblDeviceType"), QStringLiteral("K1"));
    QVERIFY(m_driver->repliesReleased());
}

void TestWorkflow::deviceCheck_data()
{
    QTest::addColumn<Utility>("utility");
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<QByteArray>("errors"); // what dfu-util writes to standard error
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QByteArray>("info"); // read after the usual file; none: not
    QTest::addColumn<QString>("firmwareRequest"); // the path the server is asked for
    // dfu-util pauses after this many bytes of standard error; -1: no pause.
    QTest::addColumn<int>("pauseAt");
    // Standard error of a click before, whose dfu-util listed nothing.
    QTest::addColumn<QByteArray>("earlierErrors");

    const auto add = [](const char *name, Utility utility, const QByteArray &listing,
                        const QByteArray &errors, const QStringList &boxes, const QStringList &log,
                        const QByteArray &info = {}, const QString &firmwareRequest = firmwarePath,
                        int pauseAt = -1, const QByteArray &earlierErrors = {}) {
        QTest::newRow(name) << utility << listing << errors << boxes << log << info
                            << firmwareRequest << pauseAt << earlierErrors;
    };
    const QString program = quotedLogLine(QStringLiteral("./bin/x64/dfu-util-static"));
    const QString started = logLine(QStringLiteral("Proc Start"));
    // The log of a run that wrote `listing` and `errors`, then `more`.
    const auto ran = [&](const QByteArray &listing, const QString &errors,
                         const QStringList &more) {
        return QStringList{program, started, quotedLogLine(QString::fromLatin1(listing))}
               + (errors.isEmpty() ? QStringList() : QStringList{quotedLogLine(errors)}) + more;
    };
    const QString size = QString::number(170 * 1024);
    const auto downloadOf = [&](const QString &file) {
        return ran(keyboardListing, {},
                   {quotedLogLine(FirmwareServer::baseUrl() + file),
                    logLine(UserTexts::firmwareSizeLogLabel() + ' ') + size,
                    logLine(QStringLiteral("SaveFileSuccess ")) + size});
    };
    const QStringList stored{successBox()};
    const QByteArray noKeyboard("dfu-util 0.11\n\n");
    const QStringList noDevice{box(UserTexts::noDevice())};
    const QString noDeviceLogged = logLine(QStringLiteral("None Device Found"));
    const QStringList broken{box(UserTexts::toolDamaged())};
    const QString failed = logLine(QStringLiteral("error"));

    add("keyboard attached", Utility::Prints, keyboardListing, {}, stored, downloadOf("K1_2.0.nv"));
    // Model and version go into the address verbatim; tolerant parsing
    // decides what the server is asked for.
    add("second file's address", Utility::Prints, keyboardListing, {}, stored,
        downloadOf("K2_3.0.nv"), "[Device]=K2\r\n[Version]=3.0",
        "/NV38Firmware/N3KFirmware/K2_3.0.nv");
    add("blanks in the address", Utility::Prints, keyboardListing, {}, stored,
        downloadOf(" K 1_2.0 beta.nv"), "[Device]= K 1\r\n[Version]=2.0 beta",
        "/NV38Firmware/N3KFirmware/%20K%201_2.0%20beta.nv");
    add("reserved characters in the address", Utility::Prints, keyboardListing, {}, stored,
        downloadOf("K?1_2#0.nv"), "[Device]=K?1\r\n[Version]=2#0",
        "/NV38Firmware/N3KFirmware/K?1_2");
    add("no device", Utility::Prints, noKeyboard, {}, noDevice,
        ran(noKeyboard, {}, {noDeviceLogged}));
    const QByteArray foreign = QByteArray(keyboardListing).replace("KEYBOARD\"", "KEYBOARD2\"");
    add("foreign device", Utility::Prints, foreign, {}, {box(UserTexts::foreignDevice())},
        ran(foreign, {}, {}));
    // dfu-util found the keyboard but could not open it, and said so.
    const QByteArray noDriver("dfu-util: Cannot open DFU device 0483:df13 found on devnum 7 "
                              "(LIBUSB_ERROR_NOT_SUPPORTED)\n");
    const QStringList unreachable{box(UserTexts::unreachableKeyboard(
        UnreachableKeyboard::currentPlatform(), QStringLiteral("LIBUSB_ERROR_NOT_SUPPORTED")))};
    const QString notAccessible = logLine(QStringLiteral("Device Not Accessible ")
                                          + QStringLiteral("LIBUSB_ERROR_NOT_SUPPORTED"));
    add("keyboard without a usable driver", Utility::Prints, noKeyboard, noDriver, unreachable,
        ran(noKeyboard, noDriver, {notAccessible}));
    // Each click reads its own run's standard error, however it comes.
    add("warning of an earlier click", Utility::Prints, noKeyboard, {}, unreachable + noDevice,
        ran(noKeyboard, noDriver, {notAccessible}) + ran(noKeyboard, {}, {noDeviceLogged}), {},
        firmwarePath, -1, noDriver);
    const QByteArray otherDevice = QByteArray(noDriver).replace("df13", "df11");
    add("warning, a pause, then more", Utility::Prints, noKeyboard, noDriver + otherDevice,
        unreachable, ran(noKeyboard, noDriver + otherDevice, {notAccessible}), {}, firmwarePath,
        noDriver.size());
    // Windows' own messages come in the console's code page, GBK on Chinese systems.
    add("GBK on standard error", Utility::Prints, noKeyboard,
        "dfu-util: \xce\xde\xb7\xa8\xb4\xf2\xbf\xaa\xc9\xe8\xb1\xb8\xa3\xba"
        "\xbe\xdc\xbe\xf8\xb7\xc3\xce\xca\xa1\xa3\r\n",
        noDevice, ran(noKeyboard, "dfu-util: 无法打开设备：拒绝访问。\r\n", {noDeviceLogged}));
    // dfu-util explains its own failures.
    add("failed", Utility::Fails, keyboardListing, noDriver, {}, {program, started});
    add("crash", Utility::Crashes, keyboardListing, {}, broken, {program, started, failed});
    add("missing", Utility::Missing, {}, {}, broken, {program, failed});
    add("not executable", Utility::NotExecutable, {}, {}, broken, {program, failed});
}

void TestWorkflow::deviceCheck()
{
    QFETCH(Utility, utility);
    QFETCH(QByteArray, listing);
    QFETCH(QByteArray, errors);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, log);
    QFETCH(QByteArray, info);
    QFETCH(QString, firmwareRequest);
    QFETCH(int, pauseAt);
    QFETCH(QByteArray, earlierErrors);
#ifdef Q_OS_WIN
    if (utility == Utility::NotExecutable)
        QSKIP("Windows has no execute permission to take away");
#endif

    QVERIFY(m_driver->fetchInformation());
    if (!info.isEmpty()) {
        m_server.setResponse(infoPath, {CannedResponse::Kind::File, info});
        QVERIFY(m_driver->fetchInformation());
        m_server.setResponse(firmwareRequest,
                             {CannedResponse::Kind::File, firmwareImage(170 * 1024)});
    }
    QVERIFY(installUtility(utility, listing));
    qputenv("FAKE_DFU_ERRORS",
            QDir::current().absoluteFilePath(QStringLiteral("errors.txt")).toLocal8Bit());
    if (!earlierErrors.isEmpty()) {
        QVERIFY(writeFile(QStringLiteral("errors.txt"), earlierErrors));
        QVERIFY(m_driver->checkDevice(false));
    }
    QVERIFY(writeFile(QStringLiteral("errors.txt"), errors));
    if (pauseAt >= 0)
        qputenv("FAKE_DFU_ERRORS_PAUSE_AT", QByteArray::number(pauseAt));
    const bool downloads = boxes == QStringList{successBox()};
    QVERIFY(m_driver->checkDevice(downloads));
    QCOMPARE(m_driver->boxes(), boxes);
    QCOMPARE(m_driver->log(), log);
    QCOMPARE(m_server.requests().last(), downloads ? firmwareRequest : toolReleasePath);
    QCOMPARE(QFileInfo::exists(QStringLiteral("tmp/Data.nv")), downloads);
    QVERIFY(m_driver->repliesReleased());
}

void TestWorkflow::hugeListing()
{
    // 50 MB of output with the keyboard at its very end.
    const QByteArray noise = QByteArray("Found Runtime: [1234:5678] ver=0100, devnum=1\n")
                                 .repeated(50 * 1024 * 1024 / 46);
    QVERIFY(m_driver->fetchInformation());
    QVERIFY(installUtility(Utility::Prints, noise + keyboardListing));
    QVERIFY(m_driver->checkDevice(true));
    QCOMPARE(m_driver->boxes(), QStringList{successBox()});
    QCOMPARE(readFile(QStringLiteral("tmp/Data.nv")).size(), 170 * 1024);
    QVERIFY(m_driver->log().at(2).size() > noise.size());
}

void TestWorkflow::clickWhileListing()
{
    // A second click while dfu-util runs is refused by QProcess; one listing,
    // one download.
    QVERIFY(m_driver->fetchInformation());
    QVERIFY(installUtility(Utility::Prints, keyboardListing));
    qputenv("FAKE_DFU_SLEEP_MS", "500");
    QSignalSpy downloads(m_driver->firmwareManager(), &QNetworkAccessManager::finished);
    m_driver->click("btnUpdate");
    QVERIFY(
        QTest::qWaitFor([this] { return m_driver->listProcess()->state() == QProcess::Running; }));
    m_driver->click("btnUpdate");
    QVERIFY(downloads.wait(10000));
    QCOMPARE(m_driver->boxes(), QStringList{successBox()});
    const QString program = quotedLogLine(QStringLiteral("./bin/x64/dfu-util-static"));
    QCOMPARE(m_driver->log().mid(0, 3),
             (QStringList{program, logLine(QStringLiteral("Proc Start")), program}));
    QCOMPARE(m_driver->log(QtWarningMsg).filter(QStringLiteral("QProcess")),
             QStringList{logLine(QStringLiteral("QProcess::start: Process is already running"))});
    // The second click started nothing, so no second listing can end in a download.
    QCOMPARE(downloads.count(), 1);
    QCOMPARE(m_server.requests().count(firmwarePath), 1);
}

void TestWorkflow::download_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<CannedResponse>("response");
    QTest::addColumn<Disk>("disk");
    QTest::addColumn<QString>("shown"); // the box, in a build that requires signed firmware
    QTest::addColumn<Signature>("signature");

    using Kind = CannedResponse::Kind;
    const auto add = [](const char *name, const CannedResponse &response, Disk disk,
                        const QString &shown, Signature signature = Signature::Valid,
                        const char *certificate = "server") {
        QTest::newRow(name) << QString::fromLatin1(certificate) << response << disk << shown
                            << signature;
    };
    const CannedResponse image{Kind::File, firmwareImage(170 * 1024)};
    const auto failed = [](const QString &why) {
        return box(UserTexts::firmwareDownloadFailed(why));
    };
    const QString stored = successBox();
    const auto replied = [&](const QByteArray &reason) {
        return failed(QStringLiteral("Error transferring %1 - server replied: %2")
                          .arg(FirmwareServer::baseUrl() + QStringLiteral("K1_2.0.nv"),
                               QString::fromLatin1(reason)));
    };
    // A reason phrase that names a picture and a link, shown as the text it is.
    const QByteArray markup =
        "Not Found <img src=\"red.png\"><a href=\"https://a.example/\">fix</a>";
    const QString tooLarge = failed(QStringLiteral("larger than 16 MiB"));
    const QString openFailed = box(UserTexts::fileOpenFailed());
    const QString writeFailed = box(UserTexts::fileWriteFailed());
    const Disk earlier = Disk::EarlierFirmware;
    add("first download", image, Disk::Fresh, stored);
    add("replaces a longer file", {Kind::File, firmwareImage(1000)}, earlier, stored);
    add("empty firmware", {Kind::File, ""}, earlier, stored);
    add("not found, with markup", {Kind::Status, markup, 404}, earlier, replied(markup));
    add("server error", {Kind::Status, "", 500}, earlier, replied("Canned Status"));
    add("redirect", {Kind::Redirect}, earlier, failed(QStringLiteral("HTTP 302")));
    add("dropped mid-body", {Kind::DropMidBody, image.body}, earlier,
        failed(QStringLiteral("Connection closed")));
    add("first download dropped mid-body", {Kind::DropMidBody, image.body}, Disk::Fresh,
        failed(QStringLiteral("Connection closed")));
    add("malformed answer", {Kind::Malformed}, earlier,
        failed(QStringLiteral("Connection closed")));
    add("exactly 16 MiB", {Kind::File, firmwareImage(16 * 1024 * 1024)}, earlier, stored);
    add("announces 100 MiB", {Kind::Announces100MiB}, earlier, tooLarge);
    add("over 16 MiB", {Kind::File, firmwareImage(16 * 1024 * 1024 + 1)}, earlier, tooLarge);
    add("endless", {Kind::Endless}, earlier, tooLarge);
    for (const char *name : refusedCertificates)
        add(name, image, earlier, failed(QStringLiteral("SSL handshake failed")), Signature::Valid,
            name);
    add("tmp is a plain file", image, Disk::TmpIsAFile, openFailed);
    add("Data.nv is a directory", image, Disk::DataIsADirectory, openFailed);
    add("tmp is read-only", image, Disk::ReadOnlyTmpfs, openFailed);
    add("disk full", image, Disk::FullTmpfs, writeFailed);
    add("file size limit", image, Disk::FileSizeLimit, writeFailed);
    // Only the last byte does not fit, so no later write is there to fail. Qt
    // writes a piece of over 16 KiB at once and holds a smaller one until the
    // commit: the 170 KiB download mostly ends with the first kind, the small
    // firmware always with the second.
    add("last byte refused", image, Disk::LastByteRefused, writeFailed);
    add("last byte of a small firmware refused", {Kind::File, firmwareImage(1000)},
        Disk::LastByteRefused, writeFailed);

    // Checked only in a build that requires signed firmware; any other build
    // stores each of these firmwares as it comes. What each signature's bytes
    // make of it is tst_decisions' verification table; these rows are the
    // hash taken as the body streams, and the signature's own fetching.
    using Verdict = Failure::Kind;
    const QString unavailable = box(UserTexts::firmwareSignatureFailed(Verdict::Absent));
    const QString notVerified = box(UserTexts::firmwareSignatureFailed(Verdict::NotVerified));
    QByteArray changed = image.body;
    changed[1000] = char(changed[1000] ^ 1);
    add("firmware changed by a byte", {Kind::File, changed}, earlier, notVerified,
        Signature::OfUnchangedImage);
    add("no signature", image, earlier, unavailable, Signature::NotFound);
    add("oversized signature", image, earlier, unavailable, Signature::Oversized);
    add("signature a byte too large", image, earlier, unavailable, Signature::OneByteTooLarge);
    add("redirected signature", image, earlier, unavailable, Signature::Redirected);
    add("signature cut off", image, earlier, unavailable, Signature::CutOff);
}

void TestWorkflow::download()
{
    QFETCH(QString, certificate);
    QFETCH(CannedResponse, response);
    QFETCH(Disk, disk);
    QFETCH(QString, shown);
    QFETCH(Signature, signature);
    const bool signatureRequired = BuildKeys::firmwareSignatureRequired();
    if (!signatureRequired && signature != Signature::Valid)
        shown = successBox();

    const QString tmp = QStringLiteral("tmp");
    const QString data = QStringLiteral("tmp/Data.nv");
    if ((disk == Disk::FileSizeLimit || disk == Disk::LastByteRefused)
        && !FileSizeLimit::isSupported)
        QSKIP("no file size limit on this system to make the disk fill up");
    std::unique_ptr<TmpfsMount> mount;
    if (disk == Disk::FullTmpfs || disk == Disk::ReadOnlyTmpfs) {
        QVERIFY(QDir().mkdir(tmp));
        mount = std::make_unique<TmpfsMount>(tmp, "size=256k", disk == Disk::ReadOnlyTmpfs);
        if (!mount->isMounted())
            QSKIP("a tmpfs mount needs Linux and root; 'file size limit' covers this fault");
    }
    switch (disk) {
    case Disk::Fresh:
    case Disk::ReadOnlyTmpfs:
        break;
    case Disk::EarlierFirmware:
    case Disk::FileSizeLimit:
    case Disk::LastByteRefused:
    case Disk::FullTmpfs:
        QVERIFY(QDir().mkpath(tmp));
        QVERIFY(writeFile(data, earlierFirmware));
        break;
    case Disk::TmpIsAFile:
        QVERIFY(writeFile(tmp, earlierFirmware));
        break;
    case Disk::DataIsADirectory:
        QVERIFY(QDir().mkpath(data));
        break;
    }

    QVERIFY(m_driver->fetchInformation());
    QVERIFY(installUtility(Utility::Prints, keyboardListing));
    QVERIFY(m_server.useCertificate(certificate));
    m_server.setResponse(firmwarePath, response);
    m_server.setResponse(signaturePath, signatureFile(signature, response.body));
    {
        std::unique_ptr<FileSizeLimit> limit;
        if (disk == Disk::FileSizeLimit)
            limit = std::make_unique<FileSizeLimit>(100 * 1024);
        if (disk == Disk::LastByteRefused)
            limit = std::make_unique<FileSizeLimit>(response.body.size() - 1);
        QVERIFY(m_driver->checkDevice(true));
    }
    QCOMPARE(m_driver->boxes(), QStringList{shown});

    // Nothing but a complete new firmware replaces the earlier one.
    const bool stored = shown == successBox();
    const QString size = QString::number(response.body.size());
    const QString sizeReceived = logLine(UserTexts::firmwareSizeLogLabel() + ' ') + size;
    const QString verified = logLine(QStringLiteral("SignatureVerified"));
    if (stored)
        QCOMPARE(m_driver->log().mid(4),
                 QStringList{sizeReceived}
                     + (signatureRequired ? QStringList{verified} : QStringList())
                     + QStringList{logLine(QStringLiteral("SaveFileSuccess ")) + size});
    if (signature != Signature::Valid && signatureRequired) {
        QCOMPARE(m_driver->log().size(), 6);
        QCOMPARE(m_driver->log().at(4), sizeReceived);
        QVERIFY(m_driver->log().at(5).startsWith(logLine(QStringLiteral("SignatureCheckFailed "))));
    }
    if (!signatureRequired)
        QVERIFY(!m_server.requests().contains(signaturePath));
    if (disk == Disk::TmpIsAFile)
        QCOMPARE(readFile(tmp), earlierFirmware);
    else if (stored)
        QCOMPARE(readFile(data), response.body);
    else if (disk == Disk::Fresh) // nor a folder made for a firmware that did not come
        QVERIFY(!QFileInfo::exists(tmp));
    else if (disk == Disk::ReadOnlyTmpfs || disk == Disk::DataIsADirectory)
        QVERIFY(!QFileInfo(data).isFile());
    else
        QCOMPARE(readFile(data), earlierFirmware);
    // No temporary files are left behind.
    if (QFileInfo(tmp).isDir()) {
        QStringList leftovers =
            QDir(tmp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        leftovers.removeOne(QStringLiteral("Data.nv"));
        QCOMPARE(leftovers, QStringList());
    }

    QVERIFY(m_driver->repliesReleased());
    // An endless body was cut off early; what the server got out beyond the
    // limit sat in socket buffers, not in the tool.
    QVERIFY(m_server.endlessBytesSent() < FirmwareServer::maxFirmwareBytes + 16 * 1024 * 1024);
    QVERIFY(stillUsable());
}

// One write the disk takes only part of. A piece over Qt's 16 KiB buffer
// goes to the disk at once, and its short count is all that tells; which
// piece a download ends with depends on the network, so it is written here.
void TestWorkflow::storePiece_data()
{
    QTest::addColumn<int>("room"); // of the 64 KiB piece, what the disk takes
    QTest::newRow("all but the last byte") << 64 * 1024 - 1;
    QTest::newRow("all") << 64 * 1024;
}

void TestWorkflow::storePiece()
{
    QFETCH(int, room);
    if (!FileSizeLimit::isSupported)
        QSKIP("no file size limit on this system to make the disk fill up");
    const QByteArray piece = firmwareImage(64 * 1024);
    const bool fits = room == piece.size();
    FirmwareStore::Writer writer(QStringLiteral("tmp"), QStringLiteral("tmp/Data.nv"));
    Result<> result;
    {
        const FileSizeLimit limit(room);
        writer.write(piece.constData(), piece.size());
        result = writer.commit();
    }
    QVERIFY(fits ? result.ok() : result.failed(Failure::Kind::Failed));
    QCOMPARE(readFile(QStringLiteral("tmp/Data.nv")), fits ? piece : QByteArray("<no file>"));
}

void TestWorkflow::wholeUse()
{
    const QByteArray firmware = firmwareImage(170 * 1024);
    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_driver->labels(), versionShown);

    QVERIFY(installUtility(Utility::Prints, keyboardListing));
    QVERIFY(m_driver->checkDevice(true));
    QCOMPARE(m_driver->boxes(), QStringList{successBox()});
    QStringList requests{infoPath, toolReleasePath, firmwarePath};
    if (BuildKeys::firmwareSignatureRequired())
        requests << signaturePath;
    QCOMPARE(m_server.requests(), requests);
    QCOMPARE(readFile(QStringLiteral("tmp/Data.nv")), firmware);
    QCOMPARE(m_driver->log().last(),
             logLine(QStringLiteral("SaveFileSuccess ")) + QString::number(firmware.size()));
    QVERIFY(m_driver->repliesReleased());

    // The compiled-in root that signed this server is trusted besides the
    // system's roots, not instead of them: the requests' CA list stays
    // Qt's own, which loads system roots on demand until a list is set.
    const QSslConfiguration used = ServerRequests::request(firmwarePath).sslConfiguration();
    QVERIFY(used.caCertificates().contains(
        QSslCertificate::fromPath(certificates + QStringLiteral("/ca.pem")).value(0)));
    QSslConfiguration listSet = used;
    listSet.setCaCertificates(used.caCertificates());
    QVERIFY(used != listSet);
}

// What the tool release statement (and, in builds with keys, its
// signature) makes the window show and log, for a tool at version 1.5.
void TestWorkflow::toolRelease_data()
{
    QTest::addColumn<CannedResponse>("statement");
    QTest::addColumn<CannedResponse>("signature");
    QTest::addColumn<bool>("offered"); // the statement's release, in a box
    QTest::addColumn<QString>("logged"); // what the window logs of it, or nothing

    using Kind = CannedResponse::Kind;
    const auto add = [](const char *name, const QByteArray &statement, bool offered,
                        const QString &logged,
                        const std::optional<CannedResponse> &signature = {}) {
        QTest::newRow(name) << CannedResponse{Kind::File, statement}
                            << signature.value_or(
                                   CannedResponse{Kind::File, toolReleaseSignature(statement)})
                            << offered << logged;
    };
    const bool keys = !BuildKeys::toolReleaseKeys().isEmpty();
    const QByteArray newer = toolReleaseFile(QStringLiteral("1.10"));
    add("newer, a security fix", toolReleaseFile(QStringLiteral("1.6"), true), true,
        "ToolRelease: 1.6 offered, a security fix");
    add("1.10 is newer than 1.5", newer, true, "ToolRelease: 1.10 offered");
    add("equal", toolReleaseFile(QStringLiteral("1.5.0")), false,
        "ToolRelease: 1.5.0, not newer than 1.5");
    add("older", toolReleaseFile(QStringLiteral("1.4.9")), false,
        "ToolRelease: 1.4.9, not newer than 1.5");
    add("malformed", "version=1.6\nsecurity=maybe\n", false, "ToolRelease: advisory: missing");
    // Only what nv38k-publish writes: one way to write each value.
    const QByteArray routine = toolReleaseFile(QStringLiteral("1.6"));
    add("leading zero", QByteArray(routine).replace("version=1.6", "version=01.6"), false,
        "ToolRelease: version: not numbers separated by dots");
    add("trailing blank", QByteArray(routine).replace("size=4096", "size=4096 "), false,
        "ToolRelease: installer-size: not between 1");
    add("a zero-width space", QByteArray(routine).replace("修复", "修\u200b复"), false,
        "ToolRelease: advisory: not one plain line");
    add("a tag character", QByteArray(routine).replace("修复", "修\xf3\xa0\x81\x81复"), false,
        "ToolRelease: advisory: not one plain line");
    add("a line separator", QByteArray(routine).replace("修复", "修\u2028复"), false,
        "ToolRelease: advisory: not one plain line");
    add("a blank after the advisory", QByteArray(routine).replace("问题\n", "问题 \n"), false,
        "ToolRelease: advisory: not one plain line");
    add("a blank advisory", QByteArray(routine).replace("修复了固件下载中的问题", " "), false,
        "ToolRelease: advisory: empty");
    add("an installer over its limit",
        QByteArray(routine).replace(
            "size=4096", "size=" + QByteArray::number(ToolReleaseFile::maxInstallerBytes + 1)),
        false, "ToolRelease: installer-size: not between 1");
    add("an empty key", routine + "=1\n", false, "ToolRelease: a line that is not key=value");
    add("not UTF-8", routine + "note=\xff\n", false, "ToolRelease: not UTF-8");
    add("a key given twice", routine + "Version\u202e=1\nVersion\u202e=1\n", false,
        "ToolRelease: \"Version\\u202E\": given twice");
    add("an advisory with markup",
        QByteArray(routine).replace("修复了固件下载中的问题",
                                    "<img src=\"red.png\"><a href=\"https://a.example/\">修复</a>"),
        true, "ToolRelease: 1.6 offered");
    add("an advisory address", newer + "advisory-url=https://nv38k.example/advisories/2\n", true,
        "ToolRelease: 1.10 offered");
    add("over 4 KiB", newer + QByteArray(4096, '#'), false,
        "ToolRelease: ToolRelease.txt: larger than 4096 bytes");
    QTest::newRow("none on the server")
        << CannedResponse{Kind::Status, "", 404} << CannedResponse{Kind::Status, "", 404} << false
        << QString();
    const QString notSigned = "ToolRelease: ToolRelease.txt.sig: no trusted key signed";
    add("a firmware's signature offered", newer, !keys,
        keys ? notSigned : "ToolRelease: 1.10 offered",
        CannedResponse{Kind::File, firmwareSignature(firmwareImage(170 * 1024))});
    add("signed by another key", newer, !keys, keys ? notSigned : "ToolRelease: 1.10 offered",
        CannedResponse{Kind::File, toolReleaseSignature(newer, "other-signing")});
    add("signed by the firmware key", newer, !keys, keys ? notSigned : "ToolRelease: 1.10 offered",
        CannedResponse{Kind::File, toolReleaseSignature(newer, "signing")});
    add("no signature", newer, !keys,
        keys ? "ToolRelease: ToolRelease.txt.sig: Error transferring" : "ToolRelease: 1.10 offered",
        CannedResponse{Kind::Status, "", 404});
}

void TestWorkflow::toolRelease()
{
    QFETCH(CannedResponse, statement);
    QFETCH(CannedResponse, signature);
    QFETCH(bool, offered);
    QFETCH(QString, logged);

    m_server.setResponse(toolReleasePath, statement);
    m_server.setResponse(toolReleasePath + ".sig", signature);
    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_driver->labels(), versionShown);
    // Only an installed Windows build with a tool release key installs, and
    // this copy was not installed (tests/windows/selfupdate.sh has one that is).
    QStringList shown;
    if (offered) {
        ToolRelease stated = *ToolReleaseFile::parse(statement.body);
        // Only a statement a key verified may put an address before the owner.
        if (BuildKeys::toolReleaseKeys().isEmpty())
            stated.advisoryUrl.clear();
        shown << box(UserTexts::toolUpdateAvailable(
            stated, QLatin1String(BuildSettings::toolVersion), false));
    }
    QCOMPARE(m_driver->boxes(), shown);
    const QStringList lines = m_driver->log().filter("ToolRelease");
    QCOMPARE(lines.size(), logged.isEmpty() ? 0 : 1);
    if (!logged.isEmpty())
        QVERIFY2(lines.first().startsWith(logLine(logged)), qPrintable(lines.first()));
}

// The owner's choices outlive the window; postponing holds a release back,
// the checkbox stops the requests. The request tells nothing about the owner.
// The details button opens the advisory in the browser and leaves the box open.
void TestWorkflow::toolReleaseChoicesKept()
{
    if (BuildKeys::toolReleaseKeys().isEmpty())
        QSKIP("the details button opens only what a tool release key verified");
    const QUrl advisory(QStringLiteral("https://nv38k.example/advisories/1"));
    const QByteArray statement = toolReleaseFile(QStringLiteral("1.6"), true)
                                 + "advisory-url=" + advisory.toEncoded() + "\n";
    m_server.setResponse(toolReleasePath, {CannedResponse::Kind::File, statement});
    m_server.setResponse(toolReleasePath + ".sig",
                         {CannedResponse::Kind::File, toolReleaseSignature(statement)});
    m_offer = UserTexts::toolUpdateAvailable(*ToolReleaseFile::parse(statement),
                                             QLatin1String(BuildSettings::toolVersion), false);
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openInBrowser");
    m_driver->answerBoxesWith(m_offer.detailsButton, false);
    QVERIFY(m_driver->fetchInformation());
    QVERIFY(m_driver->fetchInformation());
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(m_opened, QList<QUrl>{advisory});
    // The same box twice, around the browser; asked once a run.
    const QStringList boxes = m_driver->boxes();
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes.first(), box(m_offer));
    QCOMPARE(boxes.last(), box(m_offer));
    // Each answer set a cookie; none went back, not even on the second click.
    // The statement's signature is asked for too.
    const QList<QByteArray> heads = m_server.requestHeads();
    QCOMPARE(heads.size(), 4);
    QVERIFY2(heads.at(1).startsWith("GET " + toolReleasePath.toLatin1() + " HTTP/1.1\r\n"),
             heads.at(1));
    for (const QByteArray &head : heads)
        QVERIFY2(!head.contains("Cookie") && !head.contains("?"), head);

    QVERIFY(m_driver->restart());
    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_driver->boxes().size(), 2);
    QVERIFY(m_driver->log().last().startsWith(logLine("ToolRelease: 1.6, postponed until ")));

    // Once the checkbox was ticked, no start asks again.
    QSettings(QSettings::defaultFormat(), QSettings::UserScope, "NV38K", "nv38k-upgrade-tool")
        .clear();
    m_driver->answerBoxesWith(m_offer.dismissButton, true);
    QVERIFY(m_driver->restart());
    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_driver->boxes().size(), 3);
    m_server.clearRequests();
    QVERIFY(m_driver->restart());
    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_server.requests(), QStringList{infoPath});

    // The value as the installer writes it asks again; one that neither the
    // installer nor the tool writes is no consent to ask, and is logged.
    for (const QVariant &value : {QVariant(1), QVariant("no")}) {
        QSettings(QSettings::defaultFormat(), QSettings::UserScope, "NV38K", "nv38k-upgrade-tool")
            .setValue("CheckToolUpdates", value);
        m_server.clearRequests();
        QVERIFY(m_driver->restart());
        QVERIFY(m_driver->fetchInformation());
        QCOMPARE(m_server.requests().contains(toolReleasePath), value == 1);
    }
    QVERIFY(m_driver->log().last().startsWith(
        logLine("CheckToolUpdates: \"no\" is neither 1 nor 0; not checking")));
}

// The installer a statement names, downloaded into a folder of its own and
// checked before anything may run it; refused, it leaves nothing behind.
void TestWorkflow::installerDownload_data()
{
    QTest::addColumn<CannedResponse>("served");
    QTest::addColumn<int>("refusal"); // the box's InstallerProblem; -1: accepted

    using Kind = CannedResponse::Kind;
    using Problem = UserTexts::InstallerProblem;
    const QByteArray installer = firmwareImage(4096); // what toolReleaseFile() states
    QByteArray changed = installer;
    changed[100] = char(changed[100] ^ 1);
    const auto add = [](const char *name, const CannedResponse &served, int refusal) {
        QTest::newRow(name) << served << refusal;
    };
    add("as stated", {Kind::File, installer}, -1);
    add("one byte changed", {Kind::File, changed}, int(Problem::WrongSha256));
    add("a byte short", {Kind::File, installer.chopped(1)}, int(Problem::WrongSize));
    add("a byte more", {Kind::File, installer + "x"}, int(Problem::TooLarge));
    add("endless", {Kind::Endless}, int(Problem::TooLarge));
    add("not found", {Kind::Status, "", 404}, int(Problem::DownloadFailed));
    add("cut off", {Kind::DropMidBody, installer}, int(Problem::DownloadFailed));
}

void TestWorkflow::installerDownload()
{
    QFETCH(CannedResponse, served);
    QFETCH(int, refusal);

    QTemporaryDir temporary;
    const TemporaryFolder redirected(temporary.path());
    UpdatePreferenceStore store(temporary.filePath("kept.ini"));
    const ToolRelease release = *ToolReleaseFile::parse(toolReleaseFile(QStringLiteral("1.6")));
    m_server.setResponse("/NV38Firmware/N3KFirmware/" + release.installerName, served);
    qRegisterMetaType<InstallerOutcome>();
    QNetworkAccessManager manager;
    auto *download = new InstallerDownload(&manager, release, store);
    QSignalSpy finished(download, &InstallerDownload::finished);
    QVERIFY(finished.wait(20000));
    auto outcome = finished.takeFirst().first().value<InstallerOutcome>();
    const QStringList folders = QDir(temporary.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (refusal >= 0) {
        QVERIFY(!outcome.installer && outcome.box);
        QCOMPARE(box(*outcome.box),
                 box(UserTexts::installerRefused(UserTexts::InstallerProblem(refusal),
                                                 outcome.installer.failure().reason)));
        QCOMPARE(folders, QStringList());
        return;
    }
    QVERIFY(outcome.installer.ok());
    QCOMPARE(folders.size(), 1);
    const QString installer = (*outcome.installer)->path();
    const QString folder = QFileInfo(installer).path();
    QCOMPARE(installer,
             QDir(temporary.path()).filePath(folders.first()) + "/" + release.installerName);
    QCOMPARE(readFile(installer), firmwareImage(4096));
#ifdef Q_OS_UNIX
    // No one else may write, or even read, the folder.
    QCOMPARE(int(QFileInfo(folder).permissions() & 0x0077), 0);
#else
    // Held from its check until it has started: no one may change or remove it.
    QFile writer(installer);
    QVERIFY(!writer.open(QIODevice::Append));
    QVERIFY(!QFile::remove(installer));
#endif
    outcome.installer->reset(); // let go of, as once the installer started
    // The next check removes it, and a link in it, but not what the link leads to.
    QTemporaryDir elsewhere;
    QVERIFY(writeFile(elsewhere.filePath("kept"), "kept"));
    QVERIFY(QFile::link(elsewhere.path(), folder + "/link"));
    DownloadFolder::removeEarlier(store);
    QVERIFY(!QFileInfo::exists(folder));
    QCOMPARE(readFile(elsewhere.filePath("kept")), "kept");
}

// The clean-up removes the folders the tool noted that it made, and nothing
// else in a temporary folder that others may write, nor through a link.
void TestWorkflow::earlierDownloads_data()
{
    QTest::addColumn<Beside>("beside");
    QTest::newRow("planted, not noted") << Beside::Planted;
    QTest::newRow("noted, swapped for a link") << Beside::SwappedForLink;
    QTest::newRow("noted, another user's") << Beside::OtherUsers;
    QTest::newRow("noted, not named as the tool names") << Beside::NotNamedByIt;
}

void TestWorkflow::earlierDownloads()
{
    QFETCH(Beside, beside);

    QTemporaryDir temporary;
    const TemporaryFolder redirected(temporary.path());
    UpdatePreferenceStore store(temporary.filePath("kept.ini"));
    const auto made = DownloadFolder::make(store);
    const auto besideMade = DownloadFolder::make(store);
    QVERIFY(made && besideMade);
    const QString own = *made;
    QString other = *besideMade;
    QTemporaryDir elsewhere;
    QVERIFY(writeFile(elsewhere.filePath("kept"), "kept"));
    QVERIFY(QDir(own).mkdir("inner") && writeFile(own + "/inner/setup.exe", "setup")
            && QFile::link(elsewhere.path(), own + "/inner/link"));
    switch (beside) {
    case Beside::Planted:
        QVERIFY(store.keepDownloadFolders({QFileInfo(own).fileName()}));
        QVERIFY(writeFile(other + "/kept", "kept"));
        break;
    case Beside::NotNamedByIt:
        QVERIFY(QDir().rename(other, temporary.filePath("mine")));
        other = temporary.filePath("mine");
        QVERIFY(store.keepDownloadFolders({QFileInfo(own).fileName(), "mine"}));
        QVERIFY(writeFile(other + "/kept", "kept"));
        break;
    case Beside::SwappedForLink:
    case Beside::OtherUsers:
#ifdef Q_OS_UNIX
        if (beside == Beside::SwappedForLink) {
            QVERIFY(QDir().rmdir(other) && QFile::link(elsewhere.path(), other));
            break;
        }
        if (::geteuid() != 0)
            QSKIP("Only root can give a folder to another user");
        QVERIFY(writeFile(other + "/kept", "kept"));
        QCOMPARE(::chown(QFile::encodeName(other).constData(), 65534, 65534), 0);
#else
        QSKIP("Needs real links and another user");
#endif
        break;
    }
    DownloadFolder::removeEarlier(store);
    QVERIFY(!QFileInfo::exists(own));
    QCOMPARE(readFile(elsewhere.filePath("kept")), "kept");
    if (beside != Beside::SwappedForLink)
        QCOMPARE(readFile(other + "/kept"), "kept");
    QCOMPARE(store.downloadFolders(), QStringList());
}

QTEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
