// nv38k-publish run as its users run it: exit codes, what it prints, the
// files it writes, and `check` against a local HTTPS server under the
// build's real host name.
#include "server/firmwareserver.h"
#include "server/versioninfo.h"
#include "testkit/httpsserver.h"
#include "testkit/windowdriver.h"

#include <QCryptographicHash>
#include <QSslKey>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

const QString certificates = QStringLiteral(NV38K_TEST_CERT_DIR "/");
const QString served = QStringLiteral("/NV38Firmware/N3KFirmware/");
const QByteArray earlierInfo("[Device]=K1\r\n[Version]=1.0\r\n");

// On Windows the program writes in the console's code page, with CR LF;
// elsewhere in UTF-8. Expected texts are compared as they come through that.
QString console(const QByteArray &bytes)
{
    return QString::fromLocal8Bit(bytes).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}
QString console(const QString &text)
{
    return console(text.toLocal8Bit());
}

// Qt on Windows takes its proxy from the system's settings, not from
// https_proxy, so there the program cannot be routed to the test server.
#ifdef Q_OS_WIN
constexpr bool proxyFromEnvironment = false;
#else
constexpr bool proxyFromEnvironment = true;
#endif

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

} // namespace

Q_DECLARE_METATYPE(CannedResponse)

class TestPublish : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid() && m_server.start()); }
    void init();
    void refusals_data();
    void refusals();
    void roundTrip_data();
    void roundTrip();
    void check_data();
    void check();
    void keygen_data();
    void keygen();

private:
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }
    static QStringList sorted(QStringList files)
    {
        files.sort();
        return files;
    }
    QStringList released() const
    {
        return sorted(QDir(path("out")).entryList(QDir::Files | QDir::Hidden));
    }
    Run publish(const QStringList &arguments);

    QTemporaryDir m_dir;
    HttpsTestServer m_server;
};

// An earlier release in "out", and the inputs of a valid new one beside it.
void TestPublish::init()
{
    QVERIFY(QDir(path("out")).removeRecursively() && QDir().mkpath(path("out")));
    QVERIFY(writeFile(path("out/Version.txt"), earlierInfo));
    QVERIFY(writeFile(path("out/K1_1.0.nv"), firmwareImage(100)));
    QVERIFY(writeFile(path("notes.txt"), "first note\nsecond note\n"));
    QVERIFY(writeFile(path("firmware.nv"), firmwareImage(1000)));
    QVERIFY(m_server.useCertificate(QStringLiteral("server")));
    m_server.clearResponses();
}

// The valid release arguments come first; a repeated option's last value counts.
Run TestPublish::publish(const QStringList &arguments)
{
    const QStringList release{"release",         "--model",    "K2",
                              "--version",       "2.0",        "--notes",
                              path("notes.txt"), "--firmware", path("firmware.nv"),
                              "--out",           path("out")};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("https_proxy",
                       QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()));
    environment.remove("no_proxy");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(NV38K_PUBLISH,
                  arguments.first() == "release" ? release + arguments.mid(1) : arguments);
    // This process serves while the program runs.
    const bool ended =
        QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000);
    if (!ended || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), console(process.readAllStandardOutput()),
            console(process.readAllStandardError())};
}

void TestPublish::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("notes");
    QTest::addColumn<int>("firmwareSize");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("error");

    const QByteArray notes("first note\n");
    const auto model = [](const QString &value) {
        return QStringList{"release", "--model", value};
    };
    const QString device = QStringLiteral("refused: --model (the [Device] line): holds ");
    const QString line = "refused: " + path("notes.txt") + " line %1 (a [Desc] line): ";
    QTest::newRow("= in the model") << model("K=1") << notes << 9 << 3 << device + "\"=\"";
    QTest::newRow("CR in the version")
        << QStringList{"release", "--version", "2\r0"} << notes << 9 << 3
        << "refused: --version (the [Version] line): holds a line break";
    QTest::newRow("LF in the model") << model("K\n1") << notes << 9 << 3 << device + "a line break";
    for (const QString character : {" ", "#", "?", "%", "/", "\\"})
        QTest::addRow("'%s' in the model", qPrintable(character))
            << model("K" + character + "1") << notes << 9 << 3
            << device + "\"" + character + "\" (U+00";
    QTest::newRow("model not in GBK")
        << model("K😀") << notes << 9 << 3 << device + "\"😀\" (U+1F600), which GBK cannot encode";
    QTest::newRow("= in a note") << QStringList{"release"} << QByteArray("fine\na=b\n") << 9 << 3
                                 << line.arg(2) + "holds \"=\"";
    QTest::newRow("CR in a note") << QStringList{"release"} << QByteArray("a\rb\r\n") << 9 << 3
                                  << line.arg(1) + "holds a line break";
    QTest::newRow("note not in GBK")
        << QStringList{"release"} << QByteArray("€\n😀") << 9 << 3 << line.arg(2) + "holds \"😀\"";
    QTest::newRow("notes not UTF-8") << QStringList{"release"} << QByteArray("\xc4\xe3\n") << 9 << 3
                                     << line.arg(1) + "is not UTF-8";
    QTest::newRow("empty firmware")
        << QStringList{"release"} << notes << 0 << 3 << "firmware.nv: the firmware is empty";
    QTest::newRow("firmware over 16 MiB")
        << QStringList{"release"} << notes << 16 * 1024 * 1024 + 1 << 3
        << "the firmware is larger than the window's limit of 16777216 bytes";
    // 1 MiB with the [Device], [Version] and [Desc] lines around it, and a byte.
    QTest::newRow("Version.txt over 1 MiB")
        << QStringList{"release"} << QByteArray(1024 * 1024 - 36, 'x') << 9 << 3
        << "Version.txt: would be larger than the window's limit of 1048576 bytes";
    QTest::newRow("no notes file") << QStringList{"release", "--notes", path("none")} << notes << 9
                                   << 4 << "cannot read " + path("none");
    QTest::newRow("signing key not Ed25519")
        << QStringList{"release", "--signing-key", certificates + "server.key"} << notes << 9 << 3
        << "server.key: not an Ed25519 key";
    QTest::newRow("unknown option")
        << QStringList{"release", "--frob"} << notes << 9 << 2 << "Unknown option 'frob'";
}

void TestPublish::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, notes);
    QFETCH(int, firmwareSize);
    QFETCH(int, exitCode);
    QFETCH(QString, error);

    QVERIFY(writeFile(path("notes.txt"), notes));
    QVERIFY(writeFile(path("firmware.nv"), firmwareImage(firmwareSize)));
    const Run run = publish(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(console(error)), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    // The earlier release is left as it was, with nothing beside it.
    QCOMPARE(released(), (QStringList{"K1_1.0.nv", "Version.txt"}));
    QCOMPARE(readFile(path("out/Version.txt")), earlierInfo);
}

void TestPublish::roundTrip_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QByteArray>("notes");
    QTest::addColumn<int>("firmwareSize");
    QTest::addColumn<QString>("shownNotes"); // as the window's label shows them
    QTest::addColumn<QString>("warnings");
    QTest::addColumn<bool>("signedRelease");

    const auto tooWide = [](int columns) {
        return QStringLiteral("nv38k-publish: warning: Version.txt line 3: the note is %1 columns "
                              "wide (a Chinese character takes two); the window's notes box shows "
                              "about 30 before the note must be scrolled sideways\n")
            .arg(columns);
    };
    QTest::newRow("plain") << "K2"
                           << "2.0" << QByteArray("first\nsecond\n") << 1000 << "first\r\nsecond"
                           << "" << false;
    QTest::newRow("Chinese, CR LF, byte-order mark")
        << "NV38K"
        << "1.6" << QByteArray("\xEF\xBB\xBF修复按键失灵\r\n提升稳定性\r\n") << 1000
        << "修复按键失灵\r\n提升稳定性"
        << "" << true;
    QTest::newRow("no notes") << "K2"
                              << "2.0" << QByteArray() << 1000 << ""
                              << "" << false;
    QTest::newRow("empty notes, no last line end")
        << "K2"
        << "2.0" << QByteArray("a\n\nb") << 1000 << "a\r\n\r\nb"
        << "" << false;
    QTest::newRow("characters the address keeps")
        << "K-1~(x)"
        << "1.6_beta+2" << QByteArray("n\n") << 1000 << "n"
        << "" << false;
    QTest::newRow("note ending in a blank")
        << "K2"
        << "2.0" << QByteArray("a \n") << 1000 << "a "
        << "nv38k-publish: warning: Version.txt line 3: the note ends in a blank, which the "
           "window shows\n"
        << false;
    QTest::newRow("Version.txt of 1 MiB")
        << "K2"
        << "2.0" << QByteArray(1024 * 1024 - 37, 'x') << 1000 << QString(1024 * 1024 - 37, 'x')
        << tooWide(1024 * 1024 - 37) << false;
    QTest::newRow("note as wide as the notes box")
        << "K2"
        << "2.0" << QByteArray("提升稳定性，新增两种背光灯效A1\n") << 1000
        << "提升稳定性，新增两种背光灯效A1"
        << "" << true;
    QTest::newRow("note wider than the notes box")
        << "K2"
        << "2.0" << QByteArray("提升稳定性，新增两种背光灯效ABC\n") << 1000
        << "提升稳定性，新增两种背光灯效ABC" << tooWide(31) << true;
    QTest::newRow("firmware of 16 MiB") << "K2"
                                        << "2.0" << QByteArray("n\n") << 16 * 1024 * 1024 << "n"
                                        << "" << true;
}

void TestPublish::roundTrip()
{
    QFETCH(QString, model);
    QFETCH(QString, version);
    QFETCH(QByteArray, notes);
    QFETCH(int, firmwareSize);
    QFETCH(QString, shownNotes);
    QFETCH(QString, warnings);
    QFETCH(bool, signedRelease);

    const QByteArray firmware = firmwareImage(firmwareSize);
    QVERIFY(writeFile(path("notes.txt"), notes) && writeFile(path("firmware.nv"), firmware));
    QStringList release{"release", "--model", model, "--version", version};
    if (signedRelease)
        release << "--signing-key" << certificates + "signing.key";
    const Run run = publish(release);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, console(warnings));
    const QString sha256 = QCryptographicHash::hash(firmware, QCryptographicHash::Sha256).toHex();
    const QString facts = QStringLiteral("%1 bytes, SHA-256 %2\n").arg(firmwareSize).arg(sha256);
    QVERIFY2(run.out.contains(facts), qPrintable(run.out));

    // The window reads what was meant; only CR LF ends its lines.
    const QByteArray info = readFile(path("out/Version.txt"));
    const VersionInfo read = parseVersionInfo(info);
    QCOMPARE(read.status, VersionInfo::Status::Valid);
    QCOMPARE((QStringList{read.deviceModel, read.version, read.notes}),
             (QStringList{model, version, shownNotes}));
    QCOMPARE(info.count("\r\n"), info.count('\n'));
    const QString firmwareName = model + '_' + version + ".nv";
    QCOMPARE(readFile(m_dir.filePath("out/" + firmwareName)), firmware);
    const QString signatureName = firmwareName + ".sig";
    QCOMPARE(released(), sorted(QStringList{"K1_1.0.nv", firmwareName, "Version.txt"}
                                + (signedRelease ? QStringList{signatureName} : QStringList())));

    // `check` shows the same from the folder and from a server that serves it.
    m_server.setResponse(served + "Version.txt", {CannedResponse::Kind::File, info});
    m_server.setResponse(served + firmwareName, {CannedResponse::Kind::File, firmware});
    m_server.setResponse(served + signatureName,
                         {CannedResponse::Kind::File, readFile(path("out/") + signatureName)});
    const QString shown =
        "设备型号 (model):     " + model + "\n固件版本 (version):   " + version
        + "\n固件更新说明 (notes): " + QString(shownNotes).replace("\r\n", "\n" + QString(22, ' '));
    for (const QString &target : {path("out"), FirmwareServer::baseUrl()}) {
        if (target.startsWith("https:") && !proxyFromEnvironment)
            QSKIP("Qt on Windows takes no proxy from the environment");
        const Run check = publish({"check", target, "--public-key", certificates + "signing.pub"});
        QCOMPARE(check.exitCode, signedRelease ? 0 : 1);
        QVERIFY2(check.out.contains(console(shown)) && check.out.contains(facts),
                 qPrintable(check.out));
        QCOMPARE(check.out.endsWith(", verified\n"), signedRelease);
        if (!signedRelease)
            continue;
        QCOMPARE(check.err, console(warnings));
    }
}

void TestPublish::check_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<CannedResponse>("info");
    QTest::addColumn<CannedResponse>("firmware");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err"); // no more than this when empty

    using Kind = CannedResponse::Kind;
    const CannedResponse valid{Kind::File, "[Device]=K1\r\n[Version]=2.0\r\n"};
    const CannedResponse image{Kind::File, firmwareImage(1000)};
    const QStringList check{"check"};
    const QString ok = QStringLiteral("server");
    const QString shows = QStringLiteral("nv38k-publish: the window shows this ");
    const QString failed = shows + "information box \"error\": error\n";
    const QString badFile = shows + "critical box \"错误\": 获取固件信息错误。\n";
    const QString replied = QStringLiteral(" - server replied: Canned Status");
    const QString firmwareFailed = shows + "information box \"错误\": 下载固件失败";

    QTest::newRow("valid") << ok << check << valid << image << 0
                           << "K1_2.0.nv: HTTP 200, 1000 bytes"
                           << "";
    QTest::newRow("bad device line")
        << ok << check << CannedResponse{Kind::File, "[Device]=K1=K2\r\n[Version]=2.0"} << image
        << 1 << "Version.txt: HTTP 200, 29 bytes\n"
        << badFile;
    QTest::newRow("bad version line")
        << ok << check << CannedResponse{Kind::File, "[Device]=K9\r\n[Desc]=x"} << image << 1
        << "设备型号 (model):     K9\n"
        << shows + "critical box \"错误\": 获取固件版本错误。\n";
    QTest::newRow("LF line ends") << ok << check
                                  << CannedResponse{Kind::File, "[Device]=K1\n[Version]=2.0\n"}
                                  << image << 1 << ""
                                  << "line 1 ends in LF alone";
    QTest::newRow("byte-order mark")
        << ok << check << CannedResponse{Kind::File, "\xEF\xBB\xBF" + valid.body} << image << 1
        << ""
        << "starts with a byte-order mark";
    QTest::newRow("not found") << ok << check << CannedResponse{Kind::Status, "", 404} << image << 1
                               << "Version.txt" + replied << failed;
    QTest::newRow("redirect") << ok << check << CannedResponse{Kind::Redirect} << image << 1
                              << "HTTP 302"
                              << "reads the body of this HTTP 302 answer as the file";
    QTest::newRow("over 1 MiB") << ok << check
                                << CannedResponse{Kind::File,
                                                  valid.body.leftJustified(1024 * 1024 + 1, 'x')}
                                << image << 1 << "Version.txt: larger than 1 MiB\n"
                                << failed;
    QTest::newRow("untrusted server")
        << "untrusted" << check << valid << image << 1 << "" << failed;
    QTest::newRow("untrusted server: its issuer named, --ca suggested")
        << "untrusted" << check << valid << image << 1 << ""
        << "the server's certificate comes from an unknown issuer, \"Untrusted test CA\"; pass "
           "that issuer's root certificate with --ca FILE";
    QTest::newRow("untrusted server, its root given")
        << "untrusted" << QStringList{"check", "--ca", certificates + "other-ca.pem"} << valid
        << image << 0 << "K1_2.0.nv: HTTP 200, 1000 bytes"
        << "";
    QTest::newRow("firmware not found")
        << ok << check << valid << CannedResponse{Kind::Status, "", 404} << 1 << ""
        << firmwareFailed + "Error transferring " + FirmwareServer::firmwareUrl("K1", "2.0")
               + replied + "\n";
    QTest::newRow("firmware over 16 MiB")
        << ok << check << valid << CannedResponse{Kind::Announces100MiB} << 1 << ""
        << firmwareFailed + "larger than 16 MiB\n";
    QTest::newRow("fragile but working")
        << ok << check << CannedResponse{Kind::File, valid.body + "[Desc]=a=b\r\n[Desc]=x \r\n"}
        << image << 0 << ""
        << "line 3: is no \"[Desc]=note\" line";
    QTest::newRow("signature present, no key to check it")
        << ok << check << valid << image << 0
        << "K1_2.0.nv.sig: HTTP 200, 64 bytes, signature present, not checked (no public key)\n"
        << "";
    const QStringList signatureCheck{"check", "--public-key", certificates + "signing.pub"};
    QTest::newRow("signature verified") << ok << signatureCheck << valid << image << 0
                                        << "K1_2.0.nv.sig: HTTP 200, 64 bytes, verified\n"
                                        << "";
    QTest::newRow("signature verified by the second key")
        << ok << QStringList{"check", "--public-key", certificates + "rotation.pub"} << valid
        << image << 0 << "K1_2.0.nv.sig: HTTP 200, 64 bytes, verified\n"
        << "";
    QByteArray tampered = image.body;
    tampered[10] = char(tampered[10] ^ 0x80);
    QTest::newRow("tampered firmware")
        << ok << signatureCheck << valid << CannedResponse{Kind::File, tampered} << 1
        << "K1_2.0.nv.sig: HTTP 200, 64 bytes\n"
        << firmwareFailed + "：固件签名验证失败\n";
    QTest::newRow("model with a trailing blank")
        << ok << check << CannedResponse{Kind::File, "[Device]=K1 \r\n[Version]=2.0"} << image << 1
        << ""
        << "line 1: the model holds \" \" (U+0020)";
}

void TestPublish::check()
{
    QFETCH(QString, certificate);
    QFETCH(QStringList, arguments);
    QFETCH(CannedResponse, info);
    QFETCH(CannedResponse, firmware);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);

    if (!proxyFromEnvironment)
        QSKIP("Qt on Windows takes no proxy from the environment");
    QVERIFY(m_server.useCertificate(certificate));
    m_server.setResponse(served + "Version.txt", info);
    m_server.setResponse(served + "K1_2.0.nv", firmware);
    m_server.setResponse(served + "K1_2.0.nv.sig",
                         {CannedResponse::Kind::File, firmwareSignature(firmwareImage(1000))});
    const Run run = publish(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.out.contains(out), qPrintable(run.out));
    QVERIFY2(err.isEmpty() ? run.err.isEmpty() : run.err.contains(err), qPrintable(run.err));
}

void TestPublish::keygen_data()
{
    QTest::addColumn<QString>("present"); // in the folder before, holding its own name
    QTest::addColumn<int>("exitCode");

    QTest::newRow("private key there") << "firmware-signing.key" << 4;
    QTest::newRow("public key there") << "firmware-signing.pub" << 4;
    QTest::newRow("new pair under umask 000") << "" << 0;
}

void TestPublish::keygen()
{
    QFETCH(QString, present);
    QFETCH(int, exitCode);

    QDir keys(path("keys"));
    QVERIFY(keys.removeRecursively() && QDir().mkpath(keys.path()));
    if (!present.isEmpty())
        QVERIFY(writeFile(keys.filePath(present), present.toUtf8()));
#ifdef Q_OS_UNIX
    const mode_t umaskBefore = umask(0);
#endif
    const Run run = publish({"keygen", "--out", keys.path()});
#ifdef Q_OS_UNIX
    umask(umaskBefore);
#endif
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode != 0) {
        QCOMPARE(run.err, console("nv38k-publish: " + keys.filePath(present)
                                  + " exists; it is not replaced\n"));
        QCOMPARE(keys.entryList(QDir::Files | QDir::Hidden), QStringList{present});
        QCOMPARE(readFile(keys.filePath(present)), present.toUtf8());
        return;
    }
#ifdef Q_OS_UNIX
    struct stat privateKey, publicKey;
    QCOMPARE(stat(QFile::encodeName(keys.filePath("firmware-signing.key")), &privateKey), 0);
    QCOMPARE(stat(QFile::encodeName(keys.filePath("firmware-signing.pub")), &publicKey), 0);
    QCOMPARE(privateKey.st_mode & 0777, mode_t(0600));
    QCOMPARE(publicKey.st_mode & 0777, mode_t(0644));
#else
    QSKIP("Qt's permissions on Windows only toggle the read-only attribute; the key takes the ACL "
          "inherited from its folder, by default the user's profile, closed to other users");
#endif
}

QTEST_MAIN(TestPublish)
#include "tst_publish.moc"
