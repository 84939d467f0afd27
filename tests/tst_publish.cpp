// nv38k-publish run as its users run it: exit codes, what it prints, the
// files it writes, and `check` against a local HTTPS server under the
// build's real host name.
#include "server/firmwareserver.h"
#include "server/versioninfo.h"
#include "testkit/httpsserver.h"
#include "testkit/windowdriver.h"
#include "usertexts/usertexts.h"

#include <QCryptographicHash>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

const QString certificates = QStringLiteral(NV38K_TEST_CERT_DIR "/");
const QString servedAt = QStringLiteral("/NV38Firmware/N3KFirmware/");
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
    void toolRelease();
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
    Run publish(const QStringList &arguments, const char *program = NV38K_PUBLISH);

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
    QVERIFY(writeFile(path("setup.exe"), firmwareImage(3000)));
    QVERIFY(m_server.useCertificate(QStringLiteral("server")));
    m_server.clearResponses();
}

// The valid release or tool-release arguments come first; a repeated option's last value counts.
Run TestPublish::publish(const QStringList &arguments, const char *program)
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
    const QStringList toolRelease{"tool-release",    "--version",      "1.6",
                                  "--advisory",      "修复了安全问题", "--installer",
                                  path("setup.exe"), "--out",          path("out")};
    process.start(QString::fromLocal8Bit(program),
                  arguments.first() == "release"        ? release + arguments.mid(1)
                  : arguments.first() == "tool-release" ? toolRelease + arguments.mid(1)
                                                        : arguments);
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

    const auto refuse = [](const char *name, const QStringList &arguments, const QString &error,
                           const QByteArray &notes = "first note\n", int firmwareSize = 9,
                           int exitCode = 3) {
        const bool tool = arguments.value(0) == "tool-release";
        QTest::newRow(name) << (tool ? arguments : QStringList{"release"} + arguments) << notes
                            << firmwareSize << exitCode << error;
    };
    const QString device = QStringLiteral("refused: --model (the [Device] line): holds ");
    const QString line = "refused: " + path("notes.txt") + " line %1 (a [Desc] line): ";
    refuse("= in the model", {"--model", "K=1"}, device + "\"=\"");
    refuse("CR in the version", {"--version", "2\r0"},
           "refused: --version (the [Version] line): holds a line break");
    refuse("LF in the model", {"--model", "K\n1"}, device + "a line break");
    for (const QString character : {" ", "#", "?", "%", "/", "\\"})
        refuse(qPrintable("'" + character + "' in the model"), {"--model", "K" + character + "1"},
               device + "\"" + character + "\" (U+00");
    refuse("model not in GBK", {"--model", "K😀"},
           device + "\"😀\" (U+1F600), which GBK cannot encode");
    refuse("= in a note", {}, line.arg(2) + "holds \"=\"", "fine\na=b\n");
    refuse("CR in a note", {}, line.arg(1) + "holds a line break", "a\rb\r\n");
    refuse("note not in GBK", {}, line.arg(2) + "holds \"😀\"", "€\n😀");
    refuse("notes not UTF-8", {}, line.arg(1) + "is not UTF-8", "\xc4\xe3\n");
    refuse("empty firmware", {}, "firmware.nv: the firmware is empty", "n\n", 0);
    refuse("firmware over 16 MiB", {},
           "the firmware is larger than the window's limit of 16777216 bytes", "n\n",
           16 * 1024 * 1024 + 1);
    // 1 MiB with the [Device], [Version] and [Desc] lines around it, and a byte.
    refuse("Version.txt over 1 MiB", {},
           "Version.txt: would be larger than the window's limit of 1048576 bytes",
           QByteArray(1024 * 1024 - 36, 'x'));
    refuse("no notes file", {"--notes", path("none")}, "cannot read " + path("none"), "n\n", 9, 4);
    refuse("signing key not Ed25519", {"--signing-key", certificates + "server.key"},
           "server.key: not an Ed25519 key");
    refuse("unknown option", {"--frob"}, "Unknown option 'frob'", "n\n", 9, 2);
    refuse("tool version not numbers", {"tool-release", "--version", "1.6-rc1"},
           "refused: --version (version: not numbers separated by dots)");
    refuse("advisory of two lines", {"tool-release", "--advisory", "a\nb"},
           "refused: --advisory (advisory: not one plain line of at most 200 characters)");
    refuse("advisory address not https", {"tool-release", "--advisory-url", "http://a.example/"},
           "refused: --advisory-url (advisory-url: not an https:// address)");
    refuse("installer not a program", {"tool-release", "--installer", path("firmware.nv")},
           "refused: --installer (installer: not a plain file name ending in .exe)");
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

    const auto add = [](const char *name, const QByteArray &notes, const QString &shownNotes,
                        bool signedRelease = false, const QString &warnings = {},
                        const QString &model = "K2", const QString &version = "2.0",
                        int firmwareSize = 1000) {
        QTest::newRow(name) << model << version << notes << firmwareSize << shownNotes << warnings
                            << signedRelease;
    };
    const auto tooWide = [](int columns) {
        return QStringLiteral("nv38k-publish: warning: Version.txt line 3: the note is %1 columns "
                              "wide (a Chinese character takes two); the window's notes box shows "
                              "about 30 before the note must be scrolled sideways\n")
            .arg(columns);
    };
    add("plain", "first\nsecond\n", "first\r\nsecond");
    add("Chinese, CR LF, byte-order mark", "\xEF\xBB\xBF修复按键失灵\r\n提升稳定性\r\n",
        "修复按键失灵\r\n提升稳定性", true, {}, "NV38K", "1.6");
    add("no notes", {}, {});
    add("empty notes, no last line end", "a\n\nb", "a\r\n\r\nb");
    add("characters the address keeps", "n\n", "n", false, {}, "K-1~(x)", "1.6_beta+2");
    add("note ending in a blank", "a \n", "a ", false,
        "nv38k-publish: warning: Version.txt line 3: the note ends in a blank, which the window "
        "shows\n");
    add("Version.txt of 1 MiB", QByteArray(1024 * 1024 - 37, 'x'), QString(1024 * 1024 - 37, 'x'),
        false, tooWide(1024 * 1024 - 37));
    add("note as wide as the notes box", "提升稳定性，新增两种背光灯效A1\n",
        "提升稳定性，新增两种背光灯效A1", true);
    add("note wider than the notes box", "提升稳定性，新增两种背光灯效ABC\n",
        "提升稳定性，新增两种背光灯效ABC", true, tooWide(31));
    add("firmware of 16 MiB", "n\n", "n", true, {}, "K2", "2.0", 16 * 1024 * 1024);
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
    const QByteArray info = readFile(path("out/Version.txt"));
    const QString firmwareName = model + '_' + version + ".nv";
    const QString signatureName = firmwareName + ".sig";
    const QString sha256 = QCryptographicHash::hash(firmware, QCryptographicHash::Sha256).toHex();
    const QString facts = QStringLiteral("%1 bytes, SHA-256 %2\n").arg(firmwareSize).arg(sha256);
    const QString out = path("out") + '/';
    const QString wrote = QStringLiteral("wrote %1Version.txt: %2 bytes, read back as model %3, "
                                         "version %4, %5 note lines\nwrote %1%6: ")
                              .arg(out)
                              .arg(info.size())
                              .arg(model, version)
                              .arg(shownNotes.isEmpty() ? 0 : shownNotes.count("\r\n") + 1)
                              .arg(firmwareName);
    const QString signatureWritten = "wrote " + out + signatureName
                                     + ": Ed25519 signature, verified with the signing key's "
                                       "public key\n";
    QCOMPARE(run.out, console(wrote + facts + (signedRelease ? signatureWritten : QString())));

    // The window reads what was meant; only CR LF ends its lines.
    const VersionInfo read = parseVersionInfo(info);
    QCOMPARE(read.status, VersionInfo::Status::Valid);
    QCOMPARE((QStringList{read.deviceModel, read.version, read.notes}),
             (QStringList{model, version, shownNotes}));
    QCOMPARE(info.count("\r\n"), info.count('\n'));
    QCOMPARE(readFile(out + firmwareName), firmware);
    QCOMPARE(released(), sorted(QStringList{"K1_1.0.nv", firmwareName, "Version.txt"}
                                + (signedRelease ? QStringList{signatureName} : QStringList())));

    // `check` shows the same from the folder and from a server that serves it.
    m_server.setResponse(servedAt + "Version.txt", {CannedResponse::Kind::File, info});
    m_server.setResponse(servedAt + firmwareName, {CannedResponse::Kind::File, firmware});
    if (signedRelease)
        m_server.setResponse(servedAt + signatureName,
                             {CannedResponse::Kind::File, readFile(out + signatureName)});
    const QString shown =
        UserTexts::modelCaption() + " (model):     " + model + "\n" + UserTexts::versionCaption()
        + " (version):   " + version + "\n" + UserTexts::notesCaption()
        + " (notes): " + QString(shownNotes).replace("\r\n", "\n" + QString(22, ' '));
    for (const QString &where : {out, FirmwareServer::baseUrl()}) {
        const bool https = where.startsWith("https:");
        if (https && !proxyFromEnvironment)
            QSKIP("Qt on Windows takes no proxy from the environment");
        const Run check = publish({"check", where, "--public-key", certificates + "signing.pub"});
        QCOMPARE(check.exitCode, signedRelease ? 0 : 1);
        const QString status = https ? "HTTP 200, " : "";
        const QString signature =
            signedRelease ? status + "64 bytes, verified"
            : https ? "Error transferring " + where + signatureName + " - server replied: Not Found"
                    : "no such file";
        QCOMPARE(check.out,
                 console(where + "Version.txt: " + status + QString::number(info.size())
                         + " bytes\n" + shown + "\n" + where + firmwareName + ": " + status + facts
                         + where + signatureName + ": " + signature + "\n"
                         + (signedRelease ? where
                                                + "ToolRelease.txt: none, so the window offers "
                                                  "no tool update\n"
                                          : QString())));
        if (signedRelease)
            QCOMPARE(check.err, console(warnings));
    }
}

void TestPublish::check_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<CannedResponse>>("served"); // Version.txt, the firmware, its signature
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QStringList>("err"); // each said on standard error; none: it stays empty

    using Kind = CannedResponse::Kind;
    const CannedResponse valid{Kind::File, "[Device]=K1\r\n[Version]=2.0\r\n"};
    const CannedResponse image{Kind::File, firmwareImage(1000)};
    const CannedResponse signature{Kind::File, firmwareSignature(image.body)};
    // The firmware and its signature, when not these.
    const auto add =
        [&](const char *name, const CannedResponse &info, int exitCode, const QString &out,
            const QStringList &err = {}, const std::optional<CannedResponse> &firmware = {},
            const QStringList &arguments = {"check"}, const char *certificate = "server",
            const std::optional<CannedResponse> &sig = {}) {
            QTest::newRow(name) << certificate << arguments
                                << QList<CannedResponse>{info, firmware.value_or(image),
                                                         sig.value_or(signature)}
                                << exitCode << out << err;
        };
    const QString base = FirmwareServer::baseUrl();
    const auto infoCame = [&](int bytes) {
        return base + QStringLiteral("Version.txt: HTTP 200, %1 bytes\n").arg(bytes);
    };
    const QString model = UserTexts::modelCaption() + " (model):     ";
    const QString shown = infoCame(28) + model + "K1\n" + UserTexts::versionCaption()
                          + " (version):   2.0\n" + UserTexts::notesCaption() + " (notes): \n";
    const auto firmwareCame = [&](const QByteArray &firmware) {
        return base + "K1_2.0.nv: HTTP 200, 1000 bytes, SHA-256 "
               + QCryptographicHash::hash(firmware, QCryptographicHash::Sha256).toHex() + "\n";
    };
    const QString stored = shown + firmwareCame(image.body);
    const QString unchecked =
        base
        + "K1_2.0.nv.sig: HTTP 200, 64 bytes, signature present, not checked (no public key)\n";
    const QString verified = base + "K1_2.0.nv.sig: HTTP 200, 64 bytes, verified\n";
    const QString noStatement =
        base + "ToolRelease.txt: none, so the window offers no tool update\n";
    // As check tells of a box the window shows.
    const auto shows = [](const WindowBox &box) {
        const char *kind = box.kind == WindowBox::Kind::Critical ? "critical" : "information";
        return QStringLiteral("nv38k-publish: the window shows this %1 box \"%2\": %3")
            .arg(kind, box.title, box.text);
    };
    using Status = VersionInfo::Status;
    const QString failed = shows(UserTexts::informationReplyFailed());
    const QString badFile = shows(*UserTexts::informationRefused(Status::BadDeviceLine));
    const auto firmwareFailed = [&](const QString &why) {
        return shows(UserTexts::firmwareDownloadFailed(why));
    };
    using Verdict = Failure::Kind;
    const auto notFound = [&](const QString &file, const char *reason) {
        return "Error transferring " + base + file + " - server replied: " + reason;
    };
    const QStringList signatureCheck{"check", "--public-key", certificates + "signing.pub"};

    add("valid", valid, 0, stored + unchecked + noStatement);
    add("bad device line", {Kind::File, "[Device]=K1=K2\r\n[Version]=2.0"}, 1, infoCame(29),
        {badFile});
    add("bad version line", {Kind::File, "[Device]=K9\r\n[Desc]=x"}, 1,
        infoCame(21) + model + "K9\n",
        {shows(*UserTexts::informationRefused(Status::BadVersionLine))});
    add("LF line ends", {Kind::File, "[Device]=K1\n[Version]=2.0\n"}, 1, infoCame(26),
        {"line 1 ends in LF alone", badFile});
    add("byte-order mark", {Kind::File, "\xEF\xBB\xBF" + valid.body}, 1, infoCame(31),
        {"starts with a byte-order mark", "looks UTF-8 encoded", badFile});
    add("not found", {Kind::Status, "", 404}, 1,
        base + "Version.txt: " + notFound("Version.txt", "Canned Status") + "\n", {failed});
    add("redirect", {Kind::Redirect}, 1, base + "Version.txt: HTTP 302, 45 bytes\n",
        {"reads the body of this HTTP 302 answer as the file", badFile});
    add("over 1 MiB", {Kind::File, valid.body.leftJustified(1024 * 1024 + 1, 'x')}, 1,
        base + "Version.txt: larger than 1 MiB\n", {failed});
    add("untrusted server: its issuer named, --ca suggested", valid, 1,
        base + "Version.txt: SSL handshake failed\n",
        {"the server's certificate comes from an unknown issuer, \"Untrusted test CA\"; pass that "
         "issuer's root certificate with --ca FILE",
         failed},
        {}, {"check"}, "untrusted");
    add("untrusted server, its root given", valid, 0, stored + unchecked + noStatement, {}, {},
        {"check", "--ca", certificates + "other-ca.pem"}, "untrusted");
    add("firmware not found", valid, 1,
        shown + base + "K1_2.0.nv: " + notFound("K1_2.0.nv", "Canned Status") + "\n",
        {firmwareFailed(notFound("K1_2.0.nv", "Canned Status"))},
        CannedResponse{Kind::Status, "", 404});
    add("firmware over 16 MiB", valid, 1, shown + base + "K1_2.0.nv: larger than 16 MiB\n",
        {firmwareFailed("larger than 16 MiB")}, {Kind::Announces100MiB});
    add("fragile but working", {Kind::File, valid.body + "[Desc]=a=b\r\n[Desc]=x \r\n"}, 0,
        QString(stored).replace("28 bytes", "51 bytes").replace("(notes): ", "(notes): x ")
            + unchecked + noStatement,
        {"line 3: is no \"[Desc]=note\" line", "line 4: the note ends in a blank"});
    add("signature verified", valid, 0, stored + verified + noStatement, {}, {}, signatureCheck);
    QByteArray tampered = image.body;
    tampered[10] = char(tampered[10] ^ 0x80);
    add("tampered firmware", valid, 1,
        shown + firmwareCame(tampered) + base + "K1_2.0.nv.sig: HTTP 200, 64 bytes\n",
        {"no trusted key signed this firmware",
         shows(UserTexts::firmwareSignatureFailed(Verdict::NotVerified))},
        CannedResponse{Kind::File, tampered}, signatureCheck);
    // The signature has a limit of its own, far below the firmware's.
    add("signature of 1 KiB and a byte", valid, 1,
        stored + base + "K1_2.0.nv.sig: larger than 1024 bytes\n",
        {"nv38k-publish: larger than 1024 bytes",
         shows(UserTexts::firmwareSignatureFailed(Verdict::Failed))},
        {}, signatureCheck, "server", CannedResponse{Kind::File, QByteArray(1025, 'x')});
    // "?" ends the firmware's path at "K", so its signature is "K.sig", as
    // the window asks for it; the query stays.
    add("signature of a model with \"?\"", {Kind::File, "[Device]=K?1\r\n[Version]=2.0\r\n"}, 0,
        QString(stored).replace("28 bytes", "29 bytes").replace("K1", "K?1") + base
            + "K.sig?1_2.0.nv: HTTP 200, 64 bytes, verified\n" + noStatement,
        {"the model holds \"?\" (U+003F)"}, {}, signatureCheck, "server",
        CannedResponse{Kind::File, firmwareSignature(image.body, "signing", "2.0", "K?1")});
    add("model with a trailing blank", {Kind::File, "[Device]=K1 \r\n[Version]=2.0"}, 1,
        QString(shown).replace("28 bytes", "27 bytes").replace("K1\n", "K1 \n") + base
            + "K1 _2.0.nv: " + notFound("K1 _2.0.nv", "Not Found") + "\n",
        {"line 1: the model holds \" \" (U+0020)",
         firmwareFailed(notFound("K1 _2.0.nv", "Not Found"))});
}

void TestPublish::check()
{
    QFETCH(QString, certificate);
    QFETCH(QStringList, arguments);
    QFETCH(QList<CannedResponse>, served);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QStringList, err);

    if (!proxyFromEnvironment)
        QSKIP("Qt on Windows takes no proxy from the environment");
    QVERIFY(m_server.useCertificate(certificate));
    const QStringList files{"Version.txt", "K1_2.0.nv", "K1_2.0.nv.sig"};
    for (int i = 0; i < files.size(); ++i)
        m_server.setResponse(servedAt + files.at(i), served.at(i));
    m_server.setResponse(servedAt + "K?1_2.0.nv", served.at(1));
    m_server.setResponse(servedAt + "K.sig?1_2.0.nv", served.at(2));
    const Run run = publish(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.out == console(out),
             qPrintable("standard output:\n" + run.out + "\nnot:\n" + out));
    for (const QString &said : err)
        QVERIFY2(run.err.contains(console(said)), qPrintable(run.err));
    QVERIFY2(!err.isEmpty() || run.err.isEmpty(), qPrintable(run.err));
}

// A tool release written, then read back by `check` as the window reads it:
// signed, its signature checked; changed after signing, passed over.
void TestPublish::toolRelease()
{
    QVERIFY(writeFile(path("out/K1_1.0.nv.sig"),
                      firmwareSignature(firmwareImage(100), "signing", QStringLiteral("1.0"))));
    const Run run = publish({"tool-release", "--security", "--advisory-url",
                             "https://nv38k.example/advisories/1", "--signing-key",
                             certificates + "tool-release.key"});
    QCOMPARE(run.exitCode, 0);
    const QByteArray statement = readFile(path("out/ToolRelease.txt"));
    QCOMPARE(readFile(path("out/setup.exe")), firmwareImage(3000));
    const QString sha256 =
        QCryptographicHash::hash(firmwareImage(3000), QCryptographicHash::Sha256).toHex();
    const QByteArray stated = "version=1.6\nsecurity=yes\nadvisory=修复了安全问题\n"
                              "advisory-url=https://nv38k.example/advisories/1\n"
                              "installer=setup.exe\ninstaller-size=3000\ninstaller-sha256="
                              + sha256.toLatin1() + "\nexpires=";
    QVERIFY2(statement.startsWith(stated), statement);
    // Fresh for 90 days from when it was written.
    const QString expires = QString::fromLatin1(statement.mid(stated.size()).trimmed());
    const qint64 freshFor =
        QDateTime::currentDateTimeUtc().secsTo(QDateTime::fromString(expires, Qt::ISODate));
    QVERIFY2(freshFor > 90 * 86400 - 600 && freshFor <= 90 * 86400, qPrintable(expires));

    const QStringList check{"check",
                            path("out"),
                            "--public-key",
                            certificates + "signing.pub",
                            "--tool-release-key",
                            certificates + "tool-release.pub"};
    Run checked = publish(check);
    QCOMPARE(checked.exitCode, 0);
    QVERIFY2(checked.out.endsWith(
                 console(path("out/ToolRelease.txt.sig")
                         + ": 64 bytes, verified\n"
                           "tool release: 1.6, a security fix, offered to tools before it\n"
                           "advisory:     修复了安全问题\n"
                           "expires:      "
                         + expires
                         + "\n"
                           "details:      https://nv38k.example/advisories/1\n"
                           "installer:    "
                         + FirmwareServer::baseUrl() + "setup.exe, 3000 bytes, SHA-256 " + sha256
                         + "\n" + path("out/setup.exe") + ": 3000 bytes, as stated\n")),
             qPrintable(checked.out));

    // The firmware's signature never passes for the statement's.
    // Nor does the firmware key's signature of the statement itself; and a
    // signature is read no further than a signature's limit.
    const QString passedOver = "the window passes over the statement: ToolRelease.txt.sig: ";
    const QList<std::pair<QByteArray, QString>> signatures{
        {readFile(path("out/K1_1.0.nv.sig")), "no trusted key signed"},
        {toolReleaseSignature(statement, "signing"), "no trusted key signed"},
        {QByteArray(1025, 'x'), "larger than 1024 bytes"}};
    for (const auto &[signature, why] : signatures) {
        QVERIFY(writeFile(path("out/ToolRelease.txt.sig"), signature));
        checked = publish(check);
        QCOMPARE(checked.exitCode, 1);
        QVERIFY2(checked.err.contains(passedOver + why), qPrintable(checked.err));
    }

#ifndef Q_OS_WIN
    // Signed outside this project's code, as docs/publishing.md describes it:
    // over the tag, a line end and the file, or else refused.
    const auto signedByOpenssl = [&](const QByteArray &bytes) {
        if (!writeFile(path("signed"), bytes))
            return false;
        QProcess openssl;
        openssl.start("openssl",
                      {"pkeyutl", "-sign", "-rawin", "-inkey", certificates + "tool-release.key",
                       "-in", path("signed"), "-out", path("out/ToolRelease.txt.sig")});
        return openssl.waitForFinished() && openssl.exitCode() == 0;
    };
    QVERIFY(signedByOpenssl(statement));
    QCOMPARE(publish(check).exitCode, 1);
    QVERIFY(signedByOpenssl("NV38K tool release statement 1\n" + statement));
    QCOMPARE(publish(check).exitCode, 0);
#endif

    // Renewed to go stale within two weeks, the check asks for the next
    // renewal; stale, the window passes over it.
    QCOMPARE(publish({"tool-release", "--valid-days", "10", "--signing-key",
                      certificates + "tool-release.key"})
                 .exitCode,
             0);
    checked = publish(check);
    QCOMPARE(checked.exitCode, 0);
    QVERIFY2(checked.err.contains("within 14 days; renew it"), qPrintable(checked.err));
    const QByteArray stale =
        QByteArray(statement).replace(expires.toLatin1(), "2026-01-01T00:00:00Z");
    QVERIFY(writeFile(path("out/ToolRelease.txt"), stale)
            && writeFile(path("out/ToolRelease.txt.sig"), toolReleaseSignature(stale)));
    checked = publish(check);
    QCOMPARE(checked.exitCode, 1);
    QVERIFY2(checked.err.contains("passes over the statement: stale since 2026-01-01T00:00:00Z"),
             qPrintable(checked.err));

    // A build whose tools read only signed statements writes none unsigned
    // unless told to.
    Run again = publish({"tool-release"}, NV38K_PUBLISH_SIGNED);
    QCOMPARE(again.exitCode, 3);
    QVERIFY2(again.err.contains("refused: --signing-key: this build's tools read only a signed"),
             qPrintable(again.err));
    QCOMPARE(readFile(path("out/ToolRelease.txt")), stale);
    // Published again unsigned, the earlier signature goes with its statement.
    again = publish({"tool-release", "--unsigned"}, NV38K_PUBLISH_SIGNED);
    QCOMPARE(again.exitCode, 0);
    QVERIFY2(again.out.contains("removed " + path("out/ToolRelease.txt.sig")),
             qPrintable(again.out));
    QVERIFY(!QFile::exists(path("out/ToolRelease.txt.sig")));
    // An older release than the statement's only when meant; a build
    // without keys says that it checked no signature.
    again = publish({"tool-release", "--version", "1.5"});
    QCOMPARE(again.exitCode, 3);
    QVERIFY2(again.err.contains("refused: --version 1.5 is older than 1.6"), qPrintable(again.err));
    QCOMPARE(publish({"tool-release", "--version", "1.5", "--rollback"}).exitCode, 0);
    checked = publish({"check", path("out")});
    QVERIFY2(checked.out.contains(
                 "ToolRelease.txt.sig: no such file, not checked (no tool release key)"),
             qPrintable(checked.out));
    // A published installer's name keeps its bytes.
    QVERIFY(writeFile(path("setup.exe"), firmwareImage(3001)));
    again = publish({"tool-release"});
    QCOMPARE(again.exitCode, 3);
    QVERIFY2(again.err.contains("is published already with other bytes"), qPrintable(again.err));
    QCOMPARE(readFile(path("out/setup.exe")), firmwareImage(3000));
    // A statement naming a missing installer fails the check.
    QVERIFY(QFile::remove(path("out/setup.exe")));
    checked = publish({"check", path("out")});
    QCOMPARE(checked.exitCode, 1);
    QVERIFY2(checked.err.contains("the window refuses the installer: no such file"),
             qPrintable(checked.err));
}

void TestPublish::keygen_data()
{
    QTest::addColumn<QString>("present"); // in the folder before, holding its own name
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("role"); // the files' names and build setting

    const QString firmware = QStringLiteral("firmware-signing:NV38K_FIRMWARE_SIGNING_KEY");
    QTest::newRow("private key there") << "firmware-signing.key" << 4 << firmware;
    QTest::newRow("public key there") << "firmware-signing.pub" << 4 << firmware;
    QTest::newRow("new pair under umask 000") << "" << 0 << firmware;
    QTest::newRow("tool release pair beside a firmware key")
        << "firmware-signing.key" << 0 << "tool-release:NV38K_TOOL_RELEASE_KEY";
}

void TestPublish::keygen()
{
    QFETCH(QString, present);
    QFETCH(int, exitCode);
    QFETCH(QString, role);
    const QString name = role.section(':', 0, 0);

    QDir keys(path("keys"));
    QVERIFY(keys.removeRecursively() && QDir().mkpath(keys.path()));
    if (!present.isEmpty())
        QVERIFY(writeFile(keys.filePath(present), present.toUtf8()));
#ifdef Q_OS_UNIX
    const mode_t umaskBefore = umask(0);
#endif
    const Run run =
        publish(QStringList{"keygen", "--out", keys.path()}
                + (name == "tool-release" ? QStringList{"--tool-release"} : QStringList()));
#ifdef Q_OS_UNIX
    umask(umaskBefore);
#endif
    QCOMPARE(run.exitCode, exitCode);
    const QString privateKey = keys.filePath(name + ".key");
    const QString publicKey = keys.filePath(name + ".pub");
    QCOMPARE(run.out,
             exitCode != 0
                 ? QString()
                 : console("wrote " + privateKey + ": the private key; keep it offline\nwrote "
                           + publicKey + ": the public key, for " + role.section(':', 1) + "\n"));
    if (exitCode != 0) {
        QCOMPARE(run.err, console("nv38k-publish: " + keys.filePath(present)
                                  + " exists; it is not replaced\n"));
        QCOMPARE(keys.entryList(QDir::Files | QDir::Hidden), QStringList{present});
        QCOMPARE(readFile(keys.filePath(present)), present.toUtf8());
        return;
    }
#ifdef Q_OS_UNIX
    struct stat privateStat, publicStat;
    QCOMPARE(stat(QFile::encodeName(privateKey), &privateStat), 0);
    QCOMPARE(stat(QFile::encodeName(publicKey), &publicStat), 0);
    QCOMPARE(privateStat.st_mode & 0777, mode_t(0600));
    QCOMPARE(publicStat.st_mode & 0777, mode_t(0644));
#else
    QSKIP("Qt's permissions on Windows only toggle the read-only attribute; the key takes the ACL "
          "inherited from its folder, by default the user's profile, closed to other users");
#endif
}

QTEST_MAIN(TestPublish)
#include "tst_publish.moc"
