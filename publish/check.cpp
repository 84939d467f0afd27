#include "check.h"

#include "checkedserver.h"
#include "console.h"
#include "serverfiles.h"

#include "decisions/windowdecisions.h"
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
#include <QSslCertificate>
#include <QSslError>

namespace {

// The window waits for ever; a check gives up after this much silence.
constexpr int silenceLimitMs = 30 * 1000;
// How long before a statement goes stale a check asks for its renewal.
constexpr int staleWarningDays = 14;

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

// What came: the body's size (`size`, for one taken as it came), or why none did.
QString whatCame(const Answer &answer, qint64 size = -1)
{
    if (!answer.file)
        return answer.address + QStringLiteral(": ") + answer.file.failure().reason;
    const QString status =
        answer.httpStatus ? QStringLiteral("HTTP %1, ").arg(answer.httpStatus) : QString();
    return answer.address + QStringLiteral(": ") + status
           + QStringLiteral("%1 bytes").arg(size < 0 ? answer.file->size() : size);
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

// ToolRelease.txt read and verified as the window reads it. False when the
// server has one that the window passes over.
bool checkToolRelease(CheckedServer &server, const QByteArray &toolReleaseKeysPem, Console &console)
{
    const ToolReleaseFile::Answer parsed = server.checkToolRelease(toolReleaseKeysPem);
    const Answer statement = server.noted().at(0);
    if (parsed.failed(Failure::Kind::Absent)) {
        console.out << statement.address << ": none, so the window offers no tool update\n";
        return true;
    }
    console.out << whatCame(statement);
    const bool stated = ToolReleaseFile::parseServed(statement.file).ok();
    const bool verifies = stated && !toolReleaseKeysPem.isEmpty();
    if (stated) {
        console.out << '\n';
        // A build without keys never asks for the signature; this check does,
        // to tell of it.
        const Answer signature =
            verifies ? server.noted().at(1)
                     : server.fetch(server.url(ToolReleaseFile::signatureFileName()),
                                    FirmwareSignature::maxSignatureBytes);
        console.out << whatCame(signature);
        // A build without keys shows the statement unverified, and none of
        // its addresses: say so, rather than let it pass for a checked one.
        if (!verifies)
            console.out << (signature.file ? ", signature present, " : ", ")
                        << "not checked (no tool release key): the window shows no advisory "
                           "address";
    }
    if (!parsed) {
        console.out << '\n';
        console.error(QStringLiteral("the window passes over the statement: ")
                      + parsed.failure().reason);
        return false;
    }
    console.out << (verifies ? ", verified\n" : "\n");
    const ToolRelease &release = *parsed;
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
    const Answer installer = server.fetch(server.url(release.installerName), release.installerSize);
    console.out << whatCame(installer);
    QString refusal;
    if (!installer.file) {
        refusal = installer.file.failure().reason;
    } else {
        const Result<QByteArray> sha256 = Sha256::hash(*installer.file);
        if (!sha256)
            refusal = sha256.failure().reason;
        else if (const auto mismatch =
                     ToolReleaseFile::installerMismatch(release, installer.file->size(), *sha256))
            refusal = ToolReleaseFile::describe(*mismatch);
    }
    console.out << (refusal.isEmpty() ? ", as stated\n" : "\n");
    if (!refusal.isEmpty()) {
        console.error(QStringLiteral("the window refuses the installer: ") + refusal);
        return false;
    }
    return true;
}

// The window's own decisions on each answer, printed.
int check(CheckedServer &server, const QByteArray &publicKeysPem,
          const QByteArray &toolReleaseKeysPem, Console &console)
{
    const Answer info = server.fetch(server.url(FirmwareServer::infoFileName()),
                                     FirmwareServer::maxInfoBytes, true);
    console.out << whatCame(info) << '\n';
    if (const ServedFile &body = info.file) {
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
        return windowFails(console, *shown.box, untrustedIssuerAdvice(info.sslErrors));
    const Decisions::Release &release = *shown.release;
    console.out << UserTexts::versionCaption() << QStringLiteral(" (version):   ")
                << release.version << '\n'
                << UserTexts::notesCaption() << QStringLiteral(" (notes): ")
                << QString(release.notes)
                       .replace(QStringLiteral("\r\n"), QStringLiteral("\n                      "))
                << '\n';

    const DownloadOutcome outcome = server.downloadFirmware(release, publicKeysPem);
    const Answer firmware = server.noted().at(0);
    console.out << whatCame(firmware, outcome.size);
    // A firmware that came but could not be hashed ends as a failed download.
    if (firmware.file && outcome.kind != DownloadOutcome::Kind::DownloadFailed) {
        console.out << ", SHA-256 " << server.firmwareSha256().toHex() << '\n';
        if (outcome.size == 0)
            console.warn(
                QStringLiteral("the firmware is empty; the window stores it all the same"));
        if (!publicKeysPem.isEmpty()) {
            console.out << whatCame(server.noted().at(1));
            if (outcome.kind == DownloadOutcome::Kind::Stored) {
                console.out << ", verified\n";
            } else {
                console.out << '\n';
                console.error(outcome.signature->failure().reason);
            }
        } else {
            // A build without keys never asks for a signature; one that is
            // served all the same must not pass for a checked one.
            const Answer signature = server.fetch(
                FirmwareSignature::signatureUrl(server.url(
                    FirmwareServer::firmwareFileName(release.deviceModel, release.version))),
                FirmwareSignature::maxSignatureBytes);
            if (signature.file)
                console.out << whatCame(signature)
                            << ", signature present, not checked (no public key)\n";
        }
    } else {
        console.out << '\n';
    }
    const Decisions::Firmware stored = Decisions::firmware(outcome);
    if (!stored.stored)
        return windowFails(console, *stored.box, untrustedIssuerAdvice(firmware.sslErrors));
    if (!checkToolRelease(server, toolReleaseKeysPem, console))
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
        CheckedServer folder(QUrl::fromLocalFile(QDir(target).absolutePath() + QLatin1Char('/'))
                                 .toString(QUrl::FullyEncoded),
                             silenceLimitMs, target);
        return check(folder, publicKeysPem, toolReleaseKeysPem, console);
    }
    CheckedServer::lookUpAhead(target);
    if (parser.isSet(ca)) {
        const QList<QSslCertificate> roots = QSslCertificate::fromPath(parser.value(ca), QSsl::Pem);
        if (roots.isEmpty())
            return console.fail(ExitCode::FileError,
                                QStringLiteral("no PEM certificate in %1").arg(parser.value(ca)));
        ServerRequests::trustRoots(roots);
    }
    if (!target.endsWith(QLatin1Char('/')))
        target += QLatin1Char('/');
    CheckedServer server(target, silenceLimitMs);
    return check(server, publicKeysPem, toolReleaseKeysPem, console);
}
