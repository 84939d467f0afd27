#include "toolreleasecommand.h"

#include "console.h"
#include "outputfiles.h"

#include "integrity/buildkeys.h"
#include "integrity/firmwaresignature.h"
#include "integrity/sha256.h"
#include "server/toolrelease.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

struct Options
{
    ToolRelease release; // the installer's size and hash still to be read
    QString installerPath;
    QString outDirectory;
    QString signingKeyPath;
    bool unsignedStatement = false; // --unsigned
    bool rollback = false; // --rollback
};

// How long a statement stays fresh unless --valid-days says otherwise: the
// vendor renews it about every two months, and a replayed one holds owners
// back three months at most.
constexpr int defaultValidDays = 90;
constexpr int maxValidDays = 366;

// The option that sets the statement's `key`, for a refusal.
QString optionOfKey(const QString &problem)
{
    const QString key = problem.section(QLatin1Char(':'), 0, 0);
    if (key.startsWith(QLatin1String("installer")))
        return QStringLiteral("--installer");
    return QStringLiteral("--") + key;
}

int publish(Options options, Console &console)
{
    ToolRelease &release = options.release;
    const auto read =
        OutputFiles::readAtMost(options.installerPath, ToolReleaseFile::maxInstallerBytes);
    if (!read)
        return console.fail(ExitCode::FileError, read.failure().reason);
    const QByteArray *installer = &*read;
    release.installerName = QFileInfo(options.installerPath).fileName();
    release.installerSize = installer->size();
    const Result<QByteArray> sha256 = Sha256::hash(*installer);
    if (!sha256)
        return console.fail(ExitCode::FileError, sha256.failure().reason);
    release.installerSha256 = *sha256;

    QStringList refusals;
    if (const Result<> valid = ToolReleaseFile::check(release); !valid)
        refusals << optionOfKey(valid.failure().reason) + QStringLiteral(" (")
                        + valid.failure().reason + QLatin1Char(')');
    std::optional<FirmwareSignature::SigningKey> signingKey;
    if (!options.signingKeyPath.isEmpty()) {
        const auto pem = OutputFiles::readAtMost(options.signingKeyPath, 64 * 1024);
        if (!pem)
            return console.fail(ExitCode::FileError, pem.failure().reason);
        const auto key = FirmwareSignature::readSigningKey(*pem);
        if (!key)
            refusals << QStringLiteral("--signing-key %1: %2")
                            .arg(options.signingKeyPath, key.failure().reason);
        else
            signingKey = *key;
    }
    // Tools with keys ignore an unsigned statement, security notices and all.
    if (!signingKey && !options.unsignedStatement && !BuildKeys::toolReleaseKeys().isEmpty())
        refusals << QStringLiteral("--signing-key: this build's tools read only a signed "
                                   "statement; give the key, or --unsigned to write one they "
                                   "will ignore");
    // Tools that have seen the newer statement refuse an older one.
    const QDir out(options.outDirectory);
    const QString statementPath = out.filePath(ToolReleaseFile::fileName());
    if (QFileInfo::exists(statementPath)) {
        const auto current = OutputFiles::readAtMost(statementPath, ToolReleaseFile::maxBytes);
        const ToolReleaseFile::Answer earlier =
            current ? ToolReleaseFile::parse(*current) : ToolReleaseFile::Answer(current.failure());
        const std::optional<int> order =
            earlier ? ToolReleaseFile::compareVersions(release.version, earlier->version)
                    : std::nullopt;
        if (order && *order < 0 && !options.rollback)
            refusals << QStringLiteral("--version %1 is older than %2, which %3 states; tools "
                                       "that read that refuse this one: give --rollback to "
                                       "write it all the same")
                            .arg(release.version, earlier->version, statementPath);
    }
    // A published installer's name stands for its bytes: tools that read an
    // earlier statement may still be downloading it.
    const QString publishedPath = out.filePath(release.installerName);
    if (QFileInfo::exists(publishedPath)) {
        const auto published =
            OutputFiles::readAtMost(publishedPath, ToolReleaseFile::maxInstallerBytes);
        if (!published || *published != *installer)
            refusals << QStringLiteral("--installer: %1 is published already with other bytes; "
                                       "give the new installer a name of its own")
                            .arg(publishedPath);
    }
    const QByteArray statement = ToolReleaseFile::format(release);
    if (refusals.isEmpty() && statement.size() > ToolReleaseFile::maxBytes)
        refusals << QStringLiteral("--advisory: the statement would be larger than the tool's "
                                   "limit of %1 bytes")
                        .arg(ToolReleaseFile::maxBytes);
    if (!refusals.isEmpty()) {
        for (const QString &refusal : qAsConst(refusals))
            console.error(QStringLiteral("refused: ") + refusal);
        return console.fail(ExitCode::Refused, QStringLiteral("nothing was written"));
    }
    const ToolReleaseFile::Answer readBack = ToolReleaseFile::parse(statement);
    if (!readBack || ToolReleaseFile::format(*readBack) != statement)
        return console.fail(ExitCode::ReadBackDiffers,
                            QStringLiteral("the statement would not read back as meant; "
                                           "nothing was written"));
    const QByteArray signed_ = FirmwareSignature::toolReleaseStatement(statement);
    const Result<QByteArray> signature =
        signingKey ? FirmwareSignature::sign(signed_, *signingKey) : QByteArray();
    if (!signature)
        return console.fail(ExitCode::FileError, signature.failure().reason);
    if (signingKey && !FirmwareSignature::verify(signed_, *signature, signingKey->publicKeyPem))
        return console.fail(ExitCode::ReadBackDiffers,
                            QStringLiteral("the signature does not verify; nothing was written"));

    // The installer first, then the signature, and the statement last, each
    // complete before any replaces its old self: the statement never names a
    // missing installer. Unsigned, the earlier statement's signature goes,
    // so that it never stands beside a statement it does not sign.
    if (!QDir().mkpath(out.path()))
        return console.fail(ExitCode::FileError,
                            QStringLiteral("cannot create the folder %1").arg(out.path()));
    const QString signaturePath = out.filePath(ToolReleaseFile::signatureFileName());
    const bool staleSignature = !signingKey && QFileInfo::exists(signaturePath);
    QList<OutputFiles::File> files;
    if (!QFileInfo::exists(publishedPath))
        files.append({publishedPath, *installer});
    files.append({signaturePath, signingKey ? std::optional(*signature) : std::nullopt});
    files.append({statementPath, statement});
    if (const Result<> written = OutputFiles::writeInOrder(files); !written)
        return console.fail(ExitCode::FileError, written.failure().reason);
    if (staleSignature)
        console.out << "removed " << signaturePath << ": it signed an earlier statement\n";
    console.out << "wrote " << out.filePath(ToolReleaseFile::fileName()) << ": version "
                << release.version << (release.securityFix ? ", a security fix" : "")
                << ", installer " << release.installerName << " (" << release.installerSize
                << " bytes, SHA-256 " << release.installerSha256.toHex() << "), stale from "
                << release.expires.toString(Qt::ISODate) << "; renew it before then\n";
    if (signingKey)
        console.out << "wrote " << out.filePath(ToolReleaseFile::signatureFileName())
                    << ": Ed25519 signature, verified with the signing key's public key\n";
    return int(ExitCode::Done);
}

} // namespace

int toolReleaseCommand(const QStringList &arguments, Console &console)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Announces a new release of the upgrade tool itself: writes ToolRelease.txt into DIR, "
        "the server's firmware folder beside Version.txt, with the tool's version, whether it "
        "fixes a security flaw, an advisory line for the owner and the Windows installer's "
        "name, size and SHA-256, and copies the installer there. Tools older than VERSION "
        "offer the update when their owner next gets firmware information. Written "
        "atomically, and only when all of it is valid."));
    parser.addPositionalArgument(QStringLiteral("tool-release"), QStringLiteral("The command."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("The new tool's version, such as 1.6."),
                                     QStringLiteral("V"));
    const QCommandLineOption security(QStringLiteral("security"),
                                      QStringLiteral("The release fixes a security flaw: owners "
                                                     "are warned until they update."));
    const QCommandLineOption advisory(
        QStringLiteral("advisory"),
        QStringLiteral("One line for the owner, in Chinese, at most %1 characters.")
            .arg(ToolReleaseFile::maxAdvisoryLength),
        QStringLiteral("TEXT"));
    const QCommandLineOption advisoryUrl(QStringLiteral("advisory-url"),
                                         QStringLiteral("An https:// address with the details."),
                                         QStringLiteral("URL"));
    const QCommandLineOption installer(QStringLiteral("installer"),
                                       QStringLiteral("The Windows installer (.exe)."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("The server's firmware folder."),
                                 QStringLiteral("DIR"));
    const QCommandLineOption signingKey(
        QStringLiteral("signing-key"),
        QStringLiteral("Ed25519 private key (PEM) to sign the statement with, for builds that "
                       "carry signing keys; writes ToolRelease.txt.sig beside it."),
        QStringLiteral("KEY"));
    const QCommandLineOption unsignedStatement(
        QStringLiteral("unsigned"),
        QStringLiteral("Write the statement without a signature, which tools built with tool "
                       "release keys ignore; without it, such a build refuses to."));
    const QCommandLineOption validDays(
        QStringLiteral("valid-days"),
        QStringLiteral("Days until the statement goes stale and tools pass over it (1 to %1, "
                       "by default %2). Run tool-release again before then to renew it.")
            .arg(maxValidDays)
            .arg(defaultValidDays),
        QStringLiteral("DAYS"), QString::number(defaultValidDays));
    const QCommandLineOption rollback(
        QStringLiteral("rollback"),
        QStringLiteral("Write a --version older than the statement in DIR: tools that read "
                       "that one keep refusing this."));
    parser.addOptions({version, security, advisory, advisoryUrl, installer, out, signingKey,
                       unsignedStatement, validDays, rollback});
    if (!parseCommandLine(parser, arguments, console))
        return int(ExitCode::Usage);
    for (const QCommandLineOption &needed : {version, advisory, installer, out}) {
        if (!parser.isSet(needed))
            return console.fail(
                ExitCode::Usage,
                QStringLiteral("tool-release needs --%1 (see --help)").arg(needed.names().first()));
    }
    if (parser.positionalArguments().size() != 1)
        return console.fail(ExitCode::Usage,
                            QStringLiteral("tool-release takes no other arguments"));
    if (parser.isSet(signingKey) && parser.isSet(unsignedStatement))
        return console.fail(ExitCode::Usage,
                            QStringLiteral("tool-release takes --signing-key or --unsigned, "
                                           "not both"));
    bool daysRead = false;
    const int days = parser.value(validDays).toInt(&daysRead);
    if (!daysRead || days < 1 || days > maxValidDays)
        return console.fail(
            ExitCode::Usage,
            QStringLiteral("--valid-days takes a number of days from 1 to %1").arg(maxValidDays));
    Options options;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    options.release.expires = now.addDays(days).addMSecs(-now.time().msec());
    options.unsignedStatement = parser.isSet(unsignedStatement);
    options.rollback = parser.isSet(rollback);
    options.release.version = parser.value(version);
    options.release.securityFix = parser.isSet(security);
    options.release.advisory = parser.value(advisory);
    options.release.advisoryUrl = parser.value(advisoryUrl);
    options.installerPath = parser.value(installer);
    options.outDirectory = parser.value(out);
    options.signingKeyPath = parser.value(signingKey);
    return publish(options, console);
}
