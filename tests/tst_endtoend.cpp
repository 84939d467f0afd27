// The whole use against real parts nobody here wrote: nginx as the firmware
// server over HTTPS and Debian's dfu-util, which finds the keyboard through
// libusb in umockdev's emulation (demo/emulated_keyboard.py). In CI these must
// be installed; a developer without them gets a skip. Under Wine there is no
// nginx: the in-test HTTPS server stands in for it, and the real dfu-util is
// the Windows build that ships beside the tool.
#include "device/unreachablekeyboard.h"
#include "server/firmwareserver.h"
#include "testkit/connecttunnel.h"
#include "testkit/httpsserver.h"
#include "testkit/windowdriver.h"
#include "usertexts/usertexts.h"

#include <QCryptographicHash>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

const QString certs = QStringLiteral(NV38K_TEST_CERT_DIR);

#ifndef Q_OS_WIN
QString findProgram(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(
               name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                           : found;
}
#endif

bool runsAsRoot()
{
#ifdef Q_OS_UNIX
    return geteuid() == 0;
#else
    return false;
#endif
}

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// nginx in the foreground as a child of the test, with the demo's configuration.
class Nginx
{
public:
    // With `weakKeys`, nginx's OpenSSL starts at security level 0, so that it
    // loads certificates which this machine's OpenSSL would refuse.
    bool start(const QString &program, const QString &root, const QString &certificate,
               bool weakKeys = false)
    {
        if (!m_prefix.isValid())
            return false;
        if (weakKeys) {
            const QString config = m_prefix.filePath(QStringLiteral("openssl.cnf"));
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("OPENSSL_CONF"), config);
            m_process.setProcessEnvironment(environment);
            if (!writeFile(config, "openssl_conf = init\n[init]\nssl_conf = ssl\n"
                                   "[ssl]\nsystem_default = defaults\n"
                                   "[defaults]\nCipherString = DEFAULT:@SECLEVEL=0\n"))
                return false;
        }
        QFile templateFile(QStringLiteral(NV38K_SOURCE_DIR "/demo/nginx.conf.in"));
        if (!templateFile.open(QIODevice::ReadOnly))
            return false;
        port = freePort();
        QString config = QString::fromUtf8(templateFile.readAll());
        config.replace(QStringLiteral("@PORT@"), QString::number(port))
            .replace(QStringLiteral("@ROOT@"), root)
            .replace(QStringLiteral("@CERT@"), certificateFile(certificate, ".pem"))
            .replace(QStringLiteral("@KEY@"), certificateFile(certificate, ".key"))
            .replace(QStringLiteral("@PREFIX@"), m_prefix.path())
            // As root, workers would otherwise become nobody, who cannot read the
            // test's private directories.
            .replace(QStringLiteral("@USER@"),
                     runsAsRoot() ? QStringLiteral("user root;") : QString());
        const QString configPath = m_prefix.filePath(QStringLiteral("nginx.conf"));
        if (!writeFile(configPath, config.toUtf8()))
            return false;

        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, {QStringLiteral("-p"), m_prefix.path(), QStringLiteral("-e"),
                                  m_prefix.filePath(QStringLiteral("error.log")),
                                  QStringLiteral("-c"), configPath});
        const bool answered = QTest::qWaitFor(
            [this] {
                if (m_process.state() == QProcess::NotRunning)
                    return true;
                QTcpSocket probe;
                probe.connectToHost(QHostAddress::LocalHost, port);
                return probe.waitForConnected(100);
            },
            10000);
        return answered && m_process.state() != QProcess::NotRunning;
    }

    ~Nginx()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }

    quint16 port = 0;

private:
    static QString certificateFile(const QString &certificate, const char *suffix)
    {
        return certs + QLatin1Char('/') + certificate + QLatin1String(suffix);
    }

    QTemporaryDir m_prefix;
    QProcess m_process;
};

} // namespace

// Skips when a program these tests need is missing, but fails in CI, which
// must run them.
#define REQUIRE_PROGRAM(path, name)                                                                \
    do {                                                                                           \
        if ((path).isEmpty()) {                                                                    \
            if (qEnvironmentVariableIsSet("CI"))                                                   \
                QFAIL(name " is not installed, but CI must run this test");                        \
            QSKIP(name " is not installed");                                                       \
        }                                                                                          \
    } while (false)

#ifdef Q_OS_WIN
#define REQUIRE_NGINX() QSKIP("nginx is a Linux program")
#else
#define REQUIRE_NGINX() REQUIRE_PROGRAM(m_nginx, "nginx")
#endif

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wholeUseAgainstNginx();
    void realDfuUtil_data();
    void realDfuUtil();
    void refusedServer_data();
    void refusedServer();

private:
    // Starts nginx presenting `certificate` and routes the tool's requests to it.
    bool serve(const QString &certificate, bool weakKeys = false);
    // Puts dfu-util, listing the emulated devices of `deviceSet`, where the window runs it.
    bool installEmulatedDfuUtil(const QString &deviceSet);

    QString m_nginx;
    QString m_dfuUtil;
    QString m_umockdevRun;
    QTemporaryDir m_served;
    QString m_servedFirmware;
    ConnectTunnel m_tunnel;
    std::unique_ptr<Nginx> m_server;
    std::unique_ptr<WindowDriver> m_driver;
#ifdef Q_OS_WIN
    HttpsTestServer m_standIn; // for nginx, serving Version.txt only
#endif
};

void TestEndToEnd::initTestCase()
{
#ifdef Q_OS_WIN
    m_dfuUtil = QStringLiteral(NV38K_WINDOWS_DFU_UTIL);
    QVERIFY2(QFileInfo::exists(m_dfuUtil), "scripts/build-windows.sh puts dfu-util there");
    QVERIFY(m_standIn.useCertificate(QStringLiteral("server")));
    m_standIn.setResponse(QStringLiteral("/NV38Firmware/N3KFirmware/Version.txt"),
                          {CannedResponse::Kind::File, "[Device]=NV38K\r\n[Version]=1.6\r\n"});
    QVERIFY(m_standIn.start());
#else
    m_nginx = findProgram(QStringLiteral("nginx"));
    m_dfuUtil = findProgram(QStringLiteral("dfu-util"));
    m_umockdevRun = findProgram(QStringLiteral("umockdev-run"));

    // The demo's sample server tree: Version.txt and the firmware it names.
    QVERIFY(m_served.isValid());
    QProcess sample;
    sample.start(QStringLiteral("bash"),
                 {QStringLiteral(NV38K_SOURCE_DIR "/demo/make-sample-firmware.sh"), m_served.path(),
                  QStringLiteral(NV38K_PUBLISH)});
    QVERIFY(sample.waitForFinished(30000));
    QCOMPARE(sample.exitCode(), 0);
    m_servedFirmware = QString::fromLocal8Bit(sample.readAllStandardOutput()).trimmed();
    QCOMPARE(readFile(m_servedFirmware).size(), 170 * 1024);
#endif
}

void TestEndToEnd::init()
{
    m_driver = std::make_unique<WindowDriver>();
    QVERIFY(m_driver->isReady());
}

void TestEndToEnd::cleanup()
{
    m_driver.reset();
    m_server.reset();
}

bool TestEndToEnd::serve(const QString &certificate, bool weakKeys)
{
    m_server = std::make_unique<Nginx>();
    return m_server->start(m_nginx, m_served.path(), certificate, weakKeys)
           && m_tunnel.start(m_server->port);
}

bool TestEndToEnd::installEmulatedDfuUtil(const QString &deviceSet)
{
    return m_driver->installUtility(QStringLiteral(NV38K_EMULATED_KEYBOARDS "/") + deviceSet
                                    + QStringLiteral("/dfu-util-static"));
}

void TestEndToEnd::wholeUseAgainstNginx()
{
    REQUIRE_NGINX();
    REQUIRE_PROGRAM(m_umockdevRun, "umockdev");
    QVERIFY(serve(QStringLiteral("server")));

    // nv38k-publish finds the served release sound, through the same tunnel.
    QProcess check;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("https_proxy"),
                       QStringLiteral("http://127.0.0.1:%1").arg(m_tunnel.serverPort()));
    check.setProcessEnvironment(environment);
    check.start(QStringLiteral(NV38K_PUBLISH), {QStringLiteral("check")});
    QVERIFY(QTest::qWaitFor([&] { return check.state() == QProcess::NotRunning; }, 30000));
    QCOMPARE(check.exitCode(), 0);
    QCOMPARE(check.readAllStandardError(), QByteArray());
    QVERIFY(check.readAllStandardOutput().endsWith(
        QCryptographicHash::hash(readFile(m_servedFirmware), QCryptographicHash::Sha256).toHex()
        + "\n" + FirmwareServer::baseUrl().toUtf8()
        + "ToolRelease.txt: none, so the window offers no tool update\n"));

    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_driver->boxes(), QStringList());
    QCOMPARE(m_driver->labels(),
             (QStringList{
                 QStringLiteral("NV38K"), QStringLiteral("1.6"),
                 QStringLiteral(
                     "修复部分按键偶发失灵的问题\r\n提升USB连接的稳定性\r\n新增两种背光灯效")}));

    QVERIFY(installEmulatedDfuUtil(QStringLiteral("keyboard")));
    QVERIFY(m_driver->checkDevice(true));
    QCOMPARE(m_driver->boxes(), QStringList{successBox()});
    QCOMPARE(readFile(QStringLiteral("tmp/Data.nv")), readFile(m_servedFirmware));
    QCOMPARE(
        m_driver->log().mid(3, 1),
        QStringList{quotedLogLine(FirmwareServer::baseUrl() + QStringLiteral("NV38K_1.6.nv"))});
    QVERIFY(m_driver->repliesReleased());
}

void TestEndToEnd::realDfuUtil_data()
{
    QTest::addColumn<QString>("deviceSet"); // emulated; none: Wine's, which has no USB devices
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<QString>("lastLogged"); // a part of the last log line

    const QStringList noDevice{box(UserTexts::noDevice())};
    const QStringList foreignDevice{box(UserTexts::foreignDevice())};
    const QStringList success{successBox()};
    const QString none = QStringLiteral("None Device Found");
    const QString stored = QStringLiteral("SaveFileSuccess");
    const auto add = [](const char *name, const char *deviceSet, const QStringList &boxes,
                        const QString &lastLogged) {
        QTest::newRow(name) << QString::fromLatin1(deviceSet) << boxes << lastLogged;
    };
    // dfu-util finds no USB device, prints its banner and exits with 0: on a
    // bus with the root hub alone, and under Wine.
#ifdef Q_OS_WIN
    add("no USB device", "", noDevice, none);
#else
    add("no USB device", "no-device", noDevice, none);
#endif
    add("keyboard", "keyboard", success, stored);
    add("keyboard beside another DFU device", "keyboard-and-other-dfu", success, stored);
    add("keyboard with two alt settings", "two-alt-settings", success, stored);
    add("keyboard with another serial", "other-serial", foreignDevice, "205C38A0534B");
    // A HID interface only: dfu-util does not list it at all.
    add("keyboard not in DFU mode", "not-in-dfu-mode", noDevice, none);
    // As without the udev rule: dfu-util leaves the keyboard out of its
    // listing and says why on standard error.
    add("keyboard not to be opened", "no-access",
        {box(UserTexts::unreachableKeyboard(UnreachableKeyboard::Platform::Linux,
                                            QStringLiteral("LIBUSB_ERROR_ACCESS")))},
        "Device Not Accessible LIBUSB_ERROR_ACCESS");
    add("keyboard beside a DFU device not to be opened", "keyboard-and-unreachable-other", success,
        stored);
    add("only another DFU device not to be opened", "unreachable-other", noDevice, none);
    // The serial request is never answered; libusb gives up after a second.
    add("serial unreadable", "unreadable-serial", foreignDevice,
        "Failed to retrieve string descriptor");
}

void TestEndToEnd::realDfuUtil()
{
    QFETCH(QString, deviceSet);
    QFETCH(QStringList, boxes);
    QFETCH(QString, lastLogged);
#ifdef Q_OS_WIN
    // Wine has no usbfs, so the Windows dfu-util cannot see an emulated device.
    if (!deviceSet.isEmpty())
        QSKIP("Wine has no usbfs for umockdev to emulate");
    QVERIFY(m_driver->installUtility(m_dfuUtil));
#else
    REQUIRE_PROGRAM(m_nginx, "nginx");
    REQUIRE_PROGRAM(m_dfuUtil, "dfu-util");
    QVERIFY(serve(QStringLiteral("server")));
    REQUIRE_PROGRAM(m_umockdevRun, "umockdev");
    QVERIFY(installEmulatedDfuUtil(deviceSet));
#endif
    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_driver->boxes(), QStringList());
    const QByteArray earlier("an earlier download");
    QVERIFY(QDir().mkpath(QStringLiteral("tmp")));
    QVERIFY(writeFile(QStringLiteral("tmp/Data.nv"), earlier));
    const bool downloads = boxes == QStringList{successBox()};
    QVERIFY(m_driver->checkDevice(downloads));
    QCOMPARE(m_driver->boxes(), boxes);
    QCOMPARE(readFile(QStringLiteral("tmp/Data.nv")),
             downloads ? readFile(m_servedFirmware) : earlier);
    QVERIFY2(m_driver->log().last().contains(lastLogged), qPrintable(m_driver->log().last()));
}

void TestEndToEnd::refusedServer_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<bool>("weakKeys"); // whether nginx may present any key

    QTest::newRow("root nobody trusts") << QStringLiteral("untrusted") << false;
    // Signed by the trusted root, but too weak for security level 2.
    QTest::newRow("1024-bit RSA key") << QStringLiteral("weakkey") << true;
}

void TestEndToEnd::refusedServer()
{
    QFETCH(QString, certificate);
    QFETCH(bool, weakKeys);
    REQUIRE_NGINX();
    QVERIFY(serve(certificate, weakKeys));

    QVERIFY(m_driver->fetchInformation());
    QCOMPARE(m_driver->boxes(), QStringList{box(UserTexts::informationReplyFailed())});
    QCOMPARE(m_driver->labels(), (QStringList{QString(), QString(), QString()}));
    m_driver->click("btnUpdate");
    QCOMPARE(m_driver->boxes().last(), box(UserTexts::informationFirst()));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
