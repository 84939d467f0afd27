#include "check.h"

#include "console.h"
#include "outputfiles.h"
#include "serverfiles.h"

#include "decisions/windowdecisions.h"
#include "download/firmwareverification.h"
#include "integrity/buildkeys.h"
#include "integrity/firmwaresignature.h"
#include "integrity/sha256.h"
#include "requests/serverrequests.h"
#include "server/firmwareserver.h"
#include "server/toolrelease.h"
#include "usertexts/usertexts.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QHostInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslError>
#include <QTimer>

namespace {

// The window waits for ever; a check gives up after this much silence.
constexpr int silenceLimitMs = 30 * 1000;
// How long before a statement goes stale a check asks for its renewal.
constexpr int staleWarningDays = 14;

// One of the server's files as the window gets it.
struct Answer
{
    QString address; // a URL, or the path of a file in a local folder
    int httpStatus = 0; // none for a local file
    ServedFile file;
    QString advice; // what to do about a failure, where this check can tell
};

// A handshake failure names neither the issuer nor the way out; this does,
// for a server certificate that no root trusted here vouches for.
QString untrustedIssuerAdvice(const QList<QSslError> &errors)
{
    for (const QSslError &error : errors) {
        switch (error.error()) {
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
            return QStringLiteral("the server's certificate comes from an unknown issuer, \"%1\"; "
                                  "pass that issuer's root certificate with --ca FILE to check "
                                  "the server with it (the window trusts it only in a build "
                                  "made with it as NV38K_TRUSTED_CA)")
                .arg(error.certificate().issuerDisplayName());
        default:
            break;
        }
    }
    return {};
}

Answer fetchOverHttps(QNetworkAccessManager &manager, const QString &address, qint64 maxBytes,
                      bool information)
{
    QNetworkReply *reply = manager.get(ServerRequests::request(address));
    ServerRequests::limitBodySize(reply, maxBytes);
    QEventLoop loop;
    QTimer silence;
    silence.setSingleShot(true);
    bool fellSilent = false;
    QObject::connect(&silence, &QTimer::timeout, reply, [&] {
        fellSilent = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, &silence,
                     qOverload<>(&QTimer::start));
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QList<QSslError> sslErrors;
    QObject::connect(reply, &QNetworkReply::sslErrors, &loop,
                     [&](const QList<QSslError> &errors) { sslErrors = errors; });
    silence.start(silenceLimitMs);
    loop.exec();

    Answer answer{address, reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                  information ? ServerRequests::servedInformation(*reply)
                              : ServerRequests::servedFile(*reply),
                  untrustedIssuerAdvice(sslErrors)};
    reply->deleteLater();
    if (fellSilent)
        answer.file =
            FileFailed{QStringLiteral("no answer for %1 s; the window would wait for ever")
                           .arg(silenceLimitMs / 1000)};
    return answer;
}

Answer readFromFolder(const QDir &folder, const QString &fileName, qint64 maxBytes)
{
    Answer answer;
    answer.address = folder.filePath(ServerFiles::servedPath(fileName));
    if (!QFileInfo(answer.address).isFile()) {
        answer.file = FileAbsent{QStringLiteral("no such file")};
        return answer;
    }
    const auto read = OutputFiles::readAtMost(answer.address, maxBytes);
    const auto *body = std::get_if<QByteArray>(&read);
    if (!body)
        answer.file = std::get<FileFailed>(read);
    else if (body->size() > maxBytes)
        answer.file = FileFailed{ServerRequests::sizeLimitFailure(maxBytes)};
    else
        answer.file = *body;
    return answer;
}

// Where the files come from: an HTTPS server, or a folder as a server would serve it.
class FirmwareSource
{
public:
    explicit FirmwareSource(const QString &baseUrl)
        : m_baseUrl(baseUrl)
    { }
    explicit FirmwareSource(const QDir &folder)
        : m_folder(folder)
    { }

    Answer fetch(const QString &fileName, qint64 maxBytes)
    {
        if (m_baseUrl.isEmpty())
            return readFromFolder(m_folder, fileName, maxBytes);
        return fetchOverHttps(manager(), m_baseUrl + fileName, maxBytes,
                              fileName == FirmwareServer::infoFileName());
    }

private:
    // Never destroyed: Qt's network thread can still be ending after the
    // manager's destructor has waited for it, and then races OpenSSL's own
    // clean-up at exit. Left running, it is simply stopped with the process.
    static QNetworkAccessManager &manager()
    {
        static QNetworkAccessManager *const instance = new QNetworkAccessManager;
        return *instance;
    }

    QString m_baseUrl;
    QDir m_folder;
};

// Looks the server's name up on a thread of Qt's while this one sets up TLS,
// which takes longer; Qt's host cache then answers the connection's own
// look-up at once. Through a proxy the proxy looks it up, and so nothing is.
void lookUpAhead(const QString &address)
{
    const QUrl url = FirmwareServer::toUrl(address);
    if (QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(url)).value(0).type()
        == QNetworkProxy::NoProxy)
        QHostInfo::lookupHost(url.host(), [](const QHostInfo &) {});
}

QString whatCame(const Answer &answer)
{
    const auto *body = std::get_if<QByteArray>(&answer.file);
    if (!body)
        return answer.address + QStringLiteral(": ") + whyNoFile(answer.file);
    const QString status =
        answer.httpStatus ? QStringLiteral("HTTP %1, ").arg(answer.httpStatus) : QString();
    return answer.address + QStringLiteral(": ") + status
           + QStringLiteral("%1 bytes").arg(body->size());
}

// The model as the window's label shows it, under the label's caption.
void showModel(Console &console, const QString &model)
{
    console.out << UserTexts::modelCaption() << QStringLiteral(" (model):     ") << model << '\n';
}

int windowFails(Console &console, const WindowBox &box, const QString &advice = {})
{
    if (!advice.isEmpty())
        console.error(advice);
    return console.fail(ExitCode::WindowFails,
                        QStringLiteral("the window shows this ") + ServerFiles::describe(box));
}

// What a build with `publicKeysPem` makes of `firmware` given its `signature`.
DownloadOutcome signatureOutcome(const Answer &signature, const ReceivedFirmware &firmware,
                                 const QByteArray &publicKeysPem, Console &console)
{
    console.out << whatCame(signature);
    const DownloadOutcome outcome = verifiedFirmware(firmware, signature.file, publicKeysPem);
    if (outcome.kind == DownloadOutcome::Kind::Stored) {
        console.out << ", verified\n";
    } else {
        console.out << '\n';
        console.error(outcome.signatureReason);
    }
    return outcome;
}

// ToolRelease.txt read and verified as the window reads it. False when the
// server has one that the window passes over.
bool checkToolRelease(FirmwareSource &source, const QByteArray &toolReleaseKeysPem,
                      Console &console)
{
    const Answer statement = source.fetch(ToolReleaseFile::fileName(), ToolReleaseFile::maxBytes);
    ToolReleaseFile::Answer parsed = ToolReleaseFile::parseServed(statement.file);
    if (std::holds_alternative<ToolReleaseFile::Absent>(parsed)) {
        console.out << statement.address << ": none, so the window offers no tool update\n";
        return true;
    }
    console.out << whatCame(statement);
    const bool verifies =
        std::holds_alternative<ToolRelease>(parsed) && !toolReleaseKeysPem.isEmpty();
    if (std::holds_alternative<ToolRelease>(parsed)) {
        console.out << '\n';
        const Answer signature = source.fetch(ToolReleaseFile::signatureFileName(),
                                              FirmwareSignature::maxSignatureBytes);
        console.out << whatCame(signature);
        // A build without keys shows the statement unverified, and none of
        // its addresses: say so, rather than let it pass for a checked one.
        if (!verifies)
            console.out << (std::holds_alternative<QByteArray>(signature.file)
                                ? ", signature present, "
                                : ", ")
                        << "not checked (no tool release key): the window shows no advisory "
                           "address";
        parsed = ToolReleaseFile::verified(parsed, std::get<QByteArray>(statement.file),
                                           signature.file, toolReleaseKeysPem);
    }
    if (const auto *refused = std::get_if<ToolReleaseFile::Refused>(&parsed)) {
        console.out << '\n';
        console.error(QStringLiteral("the window passes over the statement: ") + refused->why);
        return false;
    }
    console.out << (verifies ? ", verified\n" : "\n");
    const ToolRelease &release = std::get<ToolRelease>(parsed);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QString expires = release.expires.toString(Qt::ISODate);
    if (now >= release.expires) {
        console.error(
            QStringLiteral("the window passes over the statement: stale since %1; renew it with "
                           "nv38k-publish tool-release")
                .arg(expires));
        return false;
    }
    if (now.addDays(staleWarningDays) >= release.expires)
        console.warn(QStringLiteral("the statement goes stale on %1, within %2 days; renew it "
                                    "with nv38k-publish tool-release before then")
                         .arg(expires)
                         .arg(staleWarningDays));
    console.out << "tool release: " << release.version
                << (release.securityFix ? ", a security fix" : "")
                << ", offered to tools before it\n"
                << "advisory:     " << release.advisory << '\n'
                << "expires:      " << expires << '\n';
    if (!release.advisoryUrl.isEmpty())
        console.out << "details:      " << release.advisoryUrl << '\n';
    console.out << "installer:    " << ToolReleaseFile::installerUrl(release) << ", "
                << release.installerSize << " bytes, SHA-256 " << release.installerSha256.toHex()
                << '\n';
    // The installer itself, as a Windows window downloads it before it runs.
    const Answer installer = source.fetch(release.installerName, release.installerSize);
    console.out << whatCame(installer);
    QString refusal = whyNoFile(installer.file);
    if (const auto *body = std::get_if<QByteArray>(&installer.file))
        if (const auto mismatch =
                ToolReleaseFile::installerMismatch(release, body->size(), Sha256::hash(*body)))
            refusal = ToolReleaseFile::describe(*mismatch);
    console.out << (refusal.isEmpty() ? ", as stated\n" : "\n");
    if (!refusal.isEmpty()) {
        console.error(QStringLiteral("the window refuses the installer: ") + refusal);
        return false;
    }
    return true;
}

// The window's own decisions on each answer, printed.
int check(FirmwareSource &source, const QByteArray &publicKeysPem,
          const QByteArray &toolReleaseKeysPem, Console &console)
{
    const Answer info = source.fetch(FirmwareServer::infoFileName(), FirmwareServer::maxInfoBytes);
    console.out << whatCame(info) << '\n';
    if (const auto *body = std::get_if<QByteArray>(&info.file)) {
        if (info.httpStatus >= 300)
            console.warn(
                QStringLiteral("the window reads the body of this HTTP %1 answer as the file")
                    .arg(info.httpStatus));
        for (const QString &finding : ServerFiles::fragilities(*body))
            console.warn(finding);
    }
    const Decisions::Information shown = Decisions::information(info.file);
    if (shown.deviceModel)
        showModel(console, *shown.deviceModel);
    if (!shown.release)
        return windowFails(console, *shown.box, info.advice);
    const Decisions::Release &release = *shown.release;
    console.out << UserTexts::versionCaption() << QStringLiteral(" (version):   ")
                << release.version << '\n'
                << UserTexts::notesCaption() << QStringLiteral(" (notes): ")
                << QString(release.notes)
                       .replace(QStringLiteral("\r\n"), QStringLiteral("\n                      "))
                << '\n';

    const QString firmwareName =
        FirmwareServer::firmwareFileName(release.deviceModel, release.version);
    const Answer firmware = source.fetch(firmwareName, FirmwareServer::maxFirmwareBytes);
    console.out << whatCame(firmware);
    const auto *body = std::get_if<QByteArray>(&firmware.file);
    DownloadOutcome outcome{DownloadOutcome::Kind::DownloadFailed, 0, whyNoFile(firmware.file)};
    if (body) {
        const ReceivedFirmware received{release.deviceModel, release.version, body->size(),
                                        Sha256::hash(*body)};
        outcome = {DownloadOutcome::Kind::Stored, received.size};
        console.out << ", SHA-256 " << received.sha256.toHex() << '\n';
        if (body->isEmpty())
            console.warn(
                QStringLiteral("the firmware is empty; the window stores it all the same"));
        const Answer signature = source.fetch(FirmwareSignature::signatureFileName(firmwareName),
                                              FirmwareSignature::maxSignatureBytes);
        if (!publicKeysPem.isEmpty())
            outcome = signatureOutcome(signature, received, publicKeysPem, console);
        // A build without keys never asks for a signature; one that is
        // served all the same must not pass for a checked one.
        else if (std::holds_alternative<QByteArray>(signature.file))
            console.out << whatCame(signature)
                        << ", signature present, not checked (no public key)\n";
    } else {
        console.out << '\n';
    }
    const Decisions::Firmware stored = Decisions::firmware(outcome);
    if (!stored.stored)
        return windowFails(console, *stored.box, firmware.advice);
    if (!checkToolRelease(source, toolReleaseKeysPem, console))
        return int(ExitCode::WindowFails);
    return int(ExitCode::Done);
}

} // namespace

int checkCommand(const QStringList &arguments, Console &console)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Reads Version.txt and the firmware it names as the window does, from an "
                       "HTTPS server or from a local folder as a server would serve it, and "
                       "prints what the window shows. Where this build carries signing keys, "
                       "or --public-key gives one, the firmware's signature is checked too. "
                       "Exits with 1 when the window would report a failure."));
    parser.addPositionalArgument(QStringLiteral("check"), QStringLiteral("The command."));
    parser.addPositionalArgument(
        QStringLiteral("URL|DIR"),
        QStringLiteral("The firmware folder's https:// address, or a local folder; by default "
                       "this build's server, %1")
            .arg(FirmwareServer::baseUrl()),
        QStringLiteral("[URL|DIR]"));
    const QCommandLineOption ca(
        QStringLiteral("ca"),
        QStringLiteral("PEM root certificate to trust besides the system's and the build's."),
        QStringLiteral("FILE"));
    parser.addOption(ca);
    const QCommandLineOption publicKey(
        QStringLiteral("public-key"),
        QStringLiteral("Ed25519 public key (PEM) to check the firmware's signature with, instead "
                       "of the keys this build carries."),
        QStringLiteral("FILE"));
    parser.addOption(publicKey);
    const QCommandLineOption toolReleaseKey(
        QStringLiteral("tool-release-key"),
        QStringLiteral("Ed25519 public key (PEM) to check ToolRelease.txt's signature with, "
                       "instead of the tool release keys this build carries."),
        QStringLiteral("FILE"));
    parser.addOption(toolReleaseKey);
    if (!parseCommandLine(parser, arguments, console))
        return int(ExitCode::Usage);
    QByteArray publicKeysPem = BuildKeys::firmwareKeys();
    QByteArray toolReleaseKeysPem = BuildKeys::toolReleaseKeys();
    for (const auto &[option, keys] :
         {std::pair{&publicKey, &publicKeysPem}, std::pair{&toolReleaseKey, &toolReleaseKeysPem}}) {
        if (!parser.isSet(*option))
            continue;
        QFile file(parser.value(*option));
        *keys = file.open(QIODevice::ReadOnly) ? file.read(64 * 1024) : QByteArray();
        if (!keys->contains("-----BEGIN PUBLIC KEY-----"))
            return console.fail(
                ExitCode::FileError,
                QStringLiteral("no PEM public key in %1").arg(parser.value(*option)));
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 2)
        return console.fail(ExitCode::Usage, QStringLiteral("check takes one URL or folder"));
    QString target = positional.value(1, FirmwareServer::baseUrl());

    if (!target.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive)) {
        if (target.contains(QStringLiteral("://")) || !QFileInfo(target).isDir())
            return console.fail(
                ExitCode::Usage,
                QStringLiteral("%1 is neither an https:// address nor a folder").arg(target));
        if (parser.isSet(ca))
            return console.fail(ExitCode::Usage,
                                QStringLiteral("--ca is for checking an https:// address"));
        FirmwareSource folder{QDir(target)};
        return check(folder, publicKeysPem, toolReleaseKeysPem, console);
    }
    lookUpAhead(target);
    if (parser.isSet(ca)) {
        const QList<QSslCertificate> roots = QSslCertificate::fromPath(parser.value(ca), QSsl::Pem);
        if (roots.isEmpty())
            return console.fail(ExitCode::FileError,
                                QStringLiteral("no PEM certificate in %1").arg(parser.value(ca)));
        ServerRequests::trustRoots(roots);
    }
    if (!target.endsWith(QLatin1Char('/')))
        target += QLatin1Char('/');
    FirmwareSource server(target);
    return check(server, publicKeysPem, toolReleaseKeysPem, console);
}
