// The real window end to end: a local HTTPS server, dfu-util stand-ins run as
// real child processes, real files in a scratch working directory, and every
// message box read and closed.
#include "firmware_info/firmwareserver.h"
#include "support/filesizelimit.h"
#include "support/httpsserver.h"
#include "support/logcapture.h"
#include "support/messageboxcatcher.h"
#include "window/widget.h"

#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSslKey>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>
#include <memory>

namespace {

const QString infoPath = QStringLiteral("/NV38Firmware/N3KFirmware/Version.txt");
const QString firmwarePath = QStringLiteral("/NV38Firmware/N3KFirmware/K1_2.0.nv");
const QByteArray versionFile(
    "[Device]=K1\r\n[Version]=2.0\r\n[Desc]=first note\r\n[Desc]=second note\r\n");
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

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A string as the debug stream writes it: quoted and escaped.
QString logged(const QString &text)
{
    QString out;
    QDebug(&out).nospace() << text;
    return QStringLiteral("default: ") + out;
}

QString line(const char *text)
{
    return QStringLiteral("default: ") + QString::fromUtf8(text);
}

// "kind|title|text|parent" for a box, comparable as text.
QString box(const char *kind, const char *title, const QString &text, const char *parent = "window")
{
    return QStringList {QLatin1String(kind), QString::fromUtf8(title), text, QLatin1String(parent)}
        .join(QLatin1Char('|'));
}

QString box(const char *kind, const char *title, const char *text, const char *parent = "window")
{
    return box(kind, title, QString::fromUtf8(text), parent);
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
    QNetworkAccessManager *infoManager() const { return managers().at(0); }
    QNetworkAccessManager *firmwareManager() const { return managers().at(1); }
    QList<QNetworkAccessManager *> managers() const
    {
        return m_window->findChildren<QNetworkAccessManager *>(
            QString(), Qt::FindDirectChildrenOnly);
    }
    QProcess *listProcess() const
    {
        return m_window->findChildren<QProcess *>(QString(), Qt::FindDirectChildrenOnly).at(0);
    }
    QString label(const char *name) const
    {
        return m_window->findChild<QLabel *>(QLatin1String(name))->text();
    }
    void click(const char *button);
    bool fetchInformation(int replies = 1);
    bool checkDevice(bool expectDownload);
    void installUtility(
        Utility utility, const QByteArray &listing, int exitCode = 0, bool crash = false);
    QStringList caughtBoxes() const;
    bool repliesReleased() const;

    HttpsTestServer m_server;
    QString m_startDirectory;
    std::unique_ptr<QTemporaryDir> m_workDirectory;
    std::unique_ptr<Widget> m_window;
    std::unique_ptr<MessageBoxCatcher> m_boxes;
    std::unique_ptr<LogCapture> m_log;
};

void TestWorkflow::initTestCase()
{
    const QString certs = QStringLiteral(NV38K_TEST_CERT_DIR);
    const QList<QSslCertificate> ca
        = QSslCertificate::fromPath(certs + QStringLiteral("/ca.pem"), QSsl::Pem);
    QCOMPARE(ca.size(), 1);
    QSslConfiguration::setDefaultConfiguration(
        FirmwareServer::withExtraRoots(QSslConfiguration::defaultConfiguration(), ca));

    QFile key(certs + QStringLiteral("/server.key"));
    QVERIFY(key.open(QIODevice::ReadOnly));
    m_server.setIdentity(
        QSslCertificate::fromPath(certs + QStringLiteral("/server.pem"), QSsl::Pem).value(0),
        QSslKey(&key, QSsl::Rsa));
    QVERIFY(m_server.start());
    m_startDirectory = QDir::currentPath();
}

void TestWorkflow::init()
{
    m_server.clearResponses();
    m_server.clearRequests();
    m_server.setResponse(infoPath, {CannedResponse::Kind::File, versionFile});
    m_server.setResponse(firmwarePath, {CannedResponse::Kind::File, firmwareImage(170 * 1024)});

    m_workDirectory = std::make_unique<QTemporaryDir>();
    QVERIFY(m_workDirectory->isValid());
    QVERIFY(QDir::setCurrent(m_workDirectory->path()));
    m_log = std::make_unique<LogCapture>();
    m_boxes = std::make_unique<MessageBoxCatcher>();
    m_window = std::make_unique<Widget>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestWorkflow::cleanup()
{
    m_window.reset();
    m_boxes.reset();
    m_log.reset();
    QDir::setCurrent(m_startDirectory);
    m_workDirectory.reset();
    for (const char *name : {"FAKE_DFU_LISTING", "FAKE_DFU_EXIT", "FAKE_DFU_CRASH"})
        qunsetenv(name);
}

void TestWorkflow::click(const char *button)
{
    QTest::mouseClick(m_window->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
}

// Clicks "获取固件信息" and waits until the window has handled the answers.
bool TestWorkflow::fetchInformation(int replies)
{
    QSignalSpy handled(infoManager(), &QNetworkAccessManager::finished);
    for (int i = 0; i < replies; ++i)
        click("btnGetFirmWare");
    return QTest::qWaitFor([&] { return handled.count() == replies; }, 10000);
}

// Clicks "下载固件" and waits until the listing was judged and, when one is
// expected, the firmware reply was handled.
bool TestWorkflow::checkDevice(bool expectDownload)
{
    QSignalSpy finished(listProcess(), qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    QSignalSpy failed(listProcess(), &QProcess::errorOccurred);
    QSignalSpy downloaded(firmwareManager(), &QNetworkAccessManager::finished);
    click("btnUpdate");
    const bool ended = QTest::qWaitFor(
        [&] {
            const bool failedToStart = !failed.isEmpty()
                && failed.first().first().value<QProcess::ProcessError>()
                    == QProcess::FailedToStart;
            return !finished.isEmpty() || failedToStart;
        },
        10000);
    if (!ended || !expectDownload)
        return ended;
    return QTest::qWaitFor([&] { return !downloaded.isEmpty(); }, 10000);
}

void TestWorkflow::installUtility(
    Utility utility, const QByteArray &listing, int exitCode, bool crash)
{
    QVERIFY(QDir().mkpath(QStringLiteral("bin/x64")));
    const QString program = QStringLiteral("bin/x64/dfu-util-static");
    switch (utility) {
    case Utility::Prints:
        QVERIFY(QFile::copy(QStringLiteral(NV38K_FAKE_DFU_UTIL), program));
        break;
    case Utility::NotExecutable:
        QVERIFY(writeFile(program, "#!/bin/sh\necho not allowed to run\n"));
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner));
        break;
    case Utility::Missing:
        break;
    }
    QVERIFY(writeFile(QStringLiteral("listing.txt"), listing));
    qputenv("FAKE_DFU_LISTING",
        QDir::current().absoluteFilePath(QStringLiteral("listing.txt")).toLocal8Bit());
    qputenv("FAKE_DFU_EXIT", QByteArray::number(exitCode));
    if (crash)
        qputenv("FAKE_DFU_CRASH", "1");
}

// The boxes shown so far, as box() describes them.
QStringList TestWorkflow::caughtBoxes() const
{
    QStringList result;
    for (const CaughtBox &caught : m_boxes->boxes()) {
        static const QHash<QMessageBox::Icon, const char *> kinds
            = {{QMessageBox::Information, "information"}, {QMessageBox::Warning, "warning"},
                {QMessageBox::Critical, "critical"}};
        const char *parent = caught.parent == m_window.get() ? "window"
            : caught.parent                                  ? "other"
                                                             : "none";
        QString described = box(kinds.value(caught.icon, "other"), "", caught.text, parent);
        described.replace(QStringLiteral("||"), QLatin1Char('|') + caught.title + QLatin1Char('|'));
        if (caught.buttons != QMessageBox::Ok)
            described += QStringLiteral(" (not a plain OK box)");
        result.append(described);
    }
    return result;
}

bool TestWorkflow::repliesReleased() const
{
    return QTest::qWaitFor([this] {
        return infoManager()->findChildren<QNetworkReply *>().isEmpty()
            && firmwareManager()->findChildren<QNetworkReply *>().isEmpty();
    });
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

    QTest::newRow("file") << CannedResponse {Kind::File, versionFile}
                          << QStringList {"K1", "2.0", "first note\r\nsecond note"}
                          << QStringList();
    QTest::newRow("GBK notes") << CannedResponse {Kind::File,
        chinese} << QStringList {"K1", "2.0", QStringLiteral("修复按键失灵\r\n提升稳定性")}
                               << QStringList();
    QTest::newRow("bad device line")
        << CannedResponse {Kind::File, "[Device]=K1=K2\r\n[Version]=2.0"}
        << QStringList {"", "", ""} << QStringList {errorBox};
    QTest::newRow("empty file") << CannedResponse {Kind::File, ""} << QStringList {"", "", ""}
                                << QStringList {errorBox};
    QTest::newRow("bad version line")
        << CannedResponse {Kind::File, "[Device]=K9\r\n[Desc]=x"} << QStringList {"K9", "", ""}
        << QStringList {box("critical", "错误", "获取固件版本错误。")};
    QTest::newRow("not found") << CannedResponse {Kind::Status, "", 404} << QStringList {"", "", ""}
                               << QStringList {box("information", "error", "error")};
    // A redirection is not followed and its page is read as a file.
    QTest::newRow("redirect") << CannedResponse {Kind::Redirect} << QStringList {"", "", ""}
                              << QStringList {errorBox};
    QTest::newRow("dropped mid-body")
        << CannedResponse {Kind::DropMidBody, versionFile} << QStringList {"", "", ""}
        << QStringList {box("information", "error", "error")};
}

void TestWorkflow::informationFile()
{
    QFETCH(CannedResponse, response);
    QFETCH(QStringList, labels);
    QFETCH(QStringList, boxes);

    m_server.setResponse(infoPath, response);
    QVERIFY(fetchInformation());
    QCOMPARE(m_server.requests(), QStringList {infoPath});
    QCOMPARE(caughtBoxes(), boxes);
    QCOMPARE((QStringList {
                 label("lblDeviceType"), label("lblFirmwareVersion"), label("lblFirmwareDesc")}),
        labels);
    QVERIFY(repliesReleased());
    QCOMPARE(m_log->lines(), QStringList());
}

void TestWorkflow::failedInformationKeepsEarlierAddress()
{
    QVERIFY(fetchInformation());
    m_server.setResponse(
        infoPath, {CannedResponse::Kind::File, "[Device]=K2\r\n[Version]=3=0\r\n[Desc]=new"});
    QVERIFY(fetchInformation());
    QCOMPARE(caughtBoxes(), QStringList {box("critical", "错误", "获取固件版本错误。")});
    QCOMPARE(label("lblDeviceType"), QStringLiteral("K2"));
    QCOMPARE(label("lblFirmwareVersion"), QStringLiteral("2.0"));
    QCOMPARE(label("lblFirmwareDesc"), QStringLiteral("first note\r\nsecond note"));

    // The check still runs and asks for the firmware of the earlier file.
    m_server.setResponse(infoPath, {CannedResponse::Kind::Status, "", 404});
    QVERIFY(fetchInformation());
    installUtility(Utility::Prints, keyboardListing);
    QVERIFY(checkDevice(true));
    QCOMPARE(m_server.requests().last(), firmwarePath);
}

void TestWorkflow::quickClicksAreAnsweredEach()
{
    QVERIFY(fetchInformation(2));
    QCOMPARE(m_server.requests(), (QStringList {infoPath, infoPath}));
    QCOMPARE(caughtBoxes(), QStringList());
    QCOMPARE(label("lblDeviceType"), QStringLiteral("K1"));
    QVERIFY(repliesReleased());
}

void TestWorkflow::updateNeedsInformationFirst()
{
    installUtility(Utility::Prints, keyboardListing);
    click("btnUpdate");
    QCOMPARE(caughtBoxes(), QStringList {box("warning", "警告", "请先获取固件信息后再试")});
    QCOMPARE(listProcess()->state(), QProcess::NotRunning);
    QCOMPARE(listProcess()->isOpen(), false);
    QCOMPARE(m_log->lines(), QStringList());
}

void TestWorkflow::deviceCheck_data()
{
    QTest::addColumn<Utility>("utility");
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("crash");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QStringList>("log");

    const QString program = logged(QStringLiteral("./bin/x64/dfu-util-static"));
    const QString started = line("Proc Start");
    const QString listing = logged(QString::fromLatin1(keyboardListing));
    const QString size = QString::number(170 * 1024);
    const QString brokenBox = box("critical", "错误", "升级工具损坏，请重新安装");

    QTest::newRow("keyboard attached")
        << Utility::Prints << keyboardListing << 0 << false << QStringList {successBox}
        << QStringList {program, started, listing,
               logged(FirmwareServer::baseUrl() + QStringLiteral("K1_2.0.nv")),
               line("收到固件大小: ") + size, line("SaveFileSuccess ") + size};
    const QByteArray noKeyboard("dfu-util 0.11\n\n");
    QTest::newRow("no device") << Utility::Prints << noKeyboard << 0 << false
                               << QStringList {box("warning", "未检测到设备",
                                      "未检测到可升级的设备,请检查设备是否正确连接。")}
                               << QStringList {program, started,
                                      logged(QString::fromLatin1(noKeyboard)),
                                      line("None Device Found")};
    const QByteArray foreign = QByteArray(keyboardListing).replace("KEYBOARD\"", "KEYBOARD2\"");
    QTest::newRow("foreign device")
        << Utility::Prints << foreign << 0 << false
        << QStringList {box(
               "warning", "未检测到设备", "未查找到相应设备，请检查设备是否与升级工具软件匹配。")}
        << QStringList {program, started, logged(QString::fromLatin1(foreign))};
    QTest::newRow("non-zero exit") << Utility::Prints << keyboardListing << 74 << false
                                   << QStringList() << QStringList {program, started};
    QTest::newRow("crash") << Utility::Prints << keyboardListing << 0 << true
                           << QStringList {brokenBox}
                           << QStringList {program, started, line("error")};
    QTest::newRow("missing") << Utility::Missing << QByteArray() << 0 << false
                             << QStringList {brokenBox} << QStringList {program, line("error")};
    QTest::newRow("not executable")
        << Utility::NotExecutable << QByteArray() << 0 << false << QStringList {brokenBox}
        << QStringList {program, line("error")};
}

void TestWorkflow::deviceCheck()
{
    QFETCH(Utility, utility);
    QFETCH(QByteArray, listing);
    QFETCH(int, exitCode);
    QFETCH(bool, crash);
    QFETCH(QStringList, boxes);
    QFETCH(QStringList, log);

    QVERIFY(fetchInformation());
    installUtility(utility, listing, exitCode, crash);
    const bool downloads = boxes == QStringList {successBox};
    QVERIFY(checkDevice(downloads));
    QCOMPARE(caughtBoxes(), boxes);
    QCOMPARE(m_log->lines(), log);
    QCOMPARE(m_server.requests().contains(firmwarePath), downloads);
    QCOMPARE(QFileInfo::exists(QStringLiteral("tmp/Data.nv")), downloads);
    QVERIFY(repliesReleased());
}

void TestWorkflow::download_data()
{
    QTest::addColumn<CannedResponse>("response");
    QTest::addColumn<Disk>("disk");
    QTest::addColumn<QStringList>("boxes");

    using Kind = CannedResponse::Kind;
    const CannedResponse image {Kind::File, firmwareImage(170 * 1024)};
    const QString failed = QStringLiteral("下载固件失败");
    QTest::newRow("first download") << image << Disk::Fresh << QStringList {successBox};
    QTest::newRow("replaces a longer file") << CannedResponse {Kind::File, firmwareImage(1000)}
                                            << Disk::EarlierFirmware << QStringList {successBox};
    QTest::newRow("empty firmware")
        << CannedResponse {Kind::File, ""} << Disk::EarlierFirmware << QStringList {successBox};
    QTest::newRow("not found")
        << CannedResponse {Kind::Status, "", 404} << Disk::EarlierFirmware
        << QStringList {box("information", "错误",
               failed
                   + QStringLiteral("Error transferring %1 - server replied: Canned Status")
                         .arg(FirmwareServer::baseUrl() + QStringLiteral("K1_2.0.nv")))};
    QTest::newRow("redirect") << CannedResponse {Kind::Redirect} << Disk::EarlierFirmware
                              << QStringList {box(
                                     "information", "错误", failed + QStringLiteral("HTTP 302"))};
    QTest::newRow("dropped mid-body")
        << CannedResponse {Kind::DropMidBody, image.body} << Disk::EarlierFirmware
        << QStringList {box("information", "错误", failed + QStringLiteral("Connection closed"))};
    QTest::newRow("tmp is a plain file")
        << image << Disk::TmpIsAFile
        << QStringList {box("information", "File", "File Open Failed.", "none")};
    QTest::newRow("disk fills up")
        << image << Disk::FillsUp
        << QStringList {box("information", "File", "File Write Failed.", "none")};
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

    QVERIFY(fetchInformation());
    installUtility(Utility::Prints, keyboardListing);
    {
        std::unique_ptr<FileSizeLimit> limit;
        if (disk == Disk::FillsUp)
            limit = std::make_unique<FileSizeLimit>(100 * 1024);
        QVERIFY(checkDevice(true));
    }
    QCOMPARE(caughtBoxes(), boxes);

    const bool stored = boxes == QStringList {successBox};
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
            QStringList {QStringLiteral("Data.nv")});

    // The listing is let go once the firmware is stored.
    QCOMPARE(listProcess()->isOpen(), !stored);
    QVERIFY(repliesReleased());
}

void TestWorkflow::wholeUse()
{
    const QByteArray firmware = firmwareImage(170 * 1024);
    QVERIFY(fetchInformation());
    QCOMPARE(label("lblDeviceType"), QStringLiteral("K1"));
    QCOMPARE(label("lblFirmwareVersion"), QStringLiteral("2.0"));
    QCOMPARE(label("lblFirmwareDesc"), QStringLiteral("first note\r\nsecond note"));

    installUtility(Utility::Prints, keyboardListing);
    QVERIFY(checkDevice(true));
    QCOMPARE(caughtBoxes(), QStringList {successBox});
    QCOMPARE(m_server.requests(), (QStringList {infoPath, firmwarePath}));
    QCOMPARE(readFile(QStringLiteral("tmp/Data.nv")), firmware);
    QCOMPARE(m_log->lines().last(), line("SaveFileSuccess ") + QString::number(firmware.size()));
    QVERIFY(repliesReleased());
}

QTEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
