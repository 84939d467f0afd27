#include "release.h"

#include "console.h"
#include "outputfiles.h"
#include "serverfiles.h"

#include "encoding/gbk.h"
#include "integrity/firmwaresignature.h"
#include "integrity/sha256.h"
#include "server/firmwareserver.h"
#include "server/versioninfo.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTextCodec>

namespace {

struct Release
{
    QString model;
    QString version;
    QString notesPath;
    QString firmwarePath;
    QString outDirectory;
    QString signingKeyPath; // none: the release is not signed
};

Result<> checkModelOrVersion(const QString &value)
{
    if (value.isEmpty())
        return Failure{Failure::Kind::Refused, QStringLiteral("is empty")};
    if (const Result<> line = ServerFiles::checkLineValue(value); !line)
        return line;
    return ServerFiles::checkAddressValue(value);
}

// The notes file's lines: UTF-8, LF or CR LF line ends, a last line end and a
// byte-order mark allowed. Adds what no note may hold to `refusals`.
QStringList readNotes(QByteArray bytes, const QString &path, QStringList &refusals)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    QStringList notes;
    if (bytes.isEmpty())
        return notes;
    const QList<QByteArray> lines = bytes.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        // A byte-order mark is taken off the file's start only.
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        notes << QTextCodec::codecForName("UTF-8")->toUnicode(line.constData(), line.size(),
                                                              &state);
        const Result<> note =
            state.invalidChars > 0
                ? Result<>(Failure{Failure::Kind::Refused, QStringLiteral("is not UTF-8")})
                : ServerFiles::checkLineValue(notes.last());
        if (!note)
            refusals << QStringLiteral("%1 line %2 (a [Desc] line): %3")
                            .arg(path)
                            .arg(i + 1)
                            .arg(note.failure().reason);
    }
    return notes;
}

// Whether the window's parser reads `body` as exactly these values.
bool readsBackAs(const QByteArray &body, const Release &release, const QStringList &notes)
{
    const VersionInfo info = parseVersionInfo(body);
    return info.status == VersionInfo::Status::Valid && info.deviceModel == release.model
           && info.version == release.version && info.notes == notes.join(QStringLiteral("\r\n"));
}

int publish(const Release &release, Console &console)
{
    QStringList refusals;
    if (const Result<> model = checkModelOrVersion(release.model); !model)
        refusals << QStringLiteral("--model (the [Device] line): ") + model.failure().reason;
    if (const Result<> version = checkModelOrVersion(release.version); !version)
        refusals << QStringLiteral("--version (the [Version] line): ") + version.failure().reason;

    // Notes past this bound make Version.txt too large in any encoding.
    const qint64 maxNotesBytes = 4 * FirmwareServer::maxInfoBytes;
    const auto notesRead = OutputFiles::readAtMost(release.notesPath, maxNotesBytes);
    if (!notesRead)
        return console.fail(ExitCode::FileError, notesRead.failure().reason);
    const QStringList notes = readNotes(*notesRead, release.notesPath, refusals);

    const auto firmwareRead =
        OutputFiles::readAtMost(release.firmwarePath, FirmwareServer::maxFirmwareBytes);
    if (!firmwareRead)
        return console.fail(ExitCode::FileError, firmwareRead.failure().reason);
    const QByteArray *firmware = &*firmwareRead;
    if (firmware->isEmpty())
        refusals << release.firmwarePath + QStringLiteral(": the firmware is empty");
    else if (firmware->size() > FirmwareServer::maxFirmwareBytes)
        refusals << release.firmwarePath
                        + QStringLiteral(": the firmware is larger than the window's limit of "
                                         "%1 bytes (%2 MiB)")
                              .arg(FirmwareServer::maxFirmwareBytes)
                              .arg(FirmwareServer::maxFirmwareBytes / (1024 * 1024));

    std::optional<FirmwareSignature::SigningKey> signingKey;
    if (!release.signingKeyPath.isEmpty()) {
        // A PEM key is a few hundred bytes.
        const auto pem = OutputFiles::readAtMost(release.signingKeyPath, 64 * 1024);
        if (!pem)
            return console.fail(ExitCode::FileError, pem.failure().reason);
        const auto key = FirmwareSignature::readSigningKey(*pem);
        if (!key)
            refusals << QStringLiteral("--signing-key %1: %2, as `openssl genpkey -algorithm "
                                       "ed25519` or `nv38k-publish keygen` make")
                            .arg(release.signingKeyPath, key.failure().reason);
        else
            signingKey = *key;
    }

    const QByteArray body =
        encodeGbk(formatVersionInfo(release.model, release.version, notes)).value_or(QByteArray());
    if (body.size() > FirmwareServer::maxInfoBytes || notesRead->size() > maxNotesBytes)
        refusals << QStringLiteral("Version.txt: would be larger than the window's limit of %1 "
                                   "bytes (%2 MiB)")
                        .arg(FirmwareServer::maxInfoBytes)
                        .arg(FirmwareServer::maxInfoBytes / (1024 * 1024));
    if (!refusals.isEmpty()) {
        for (const QString &refusal : refusals)
            console.error(QStringLiteral("refused: ") + refusal);
        return console.fail(ExitCode::Refused, QStringLiteral("nothing was written"));
    }
    if (!readsBackAs(body, release, notes))
        return console.fail(ExitCode::ReadBackDiffers,
                            QStringLiteral("Version.txt would not read back as meant; nothing "
                                           "was written"));

    // The signature is checked as the window checks it, with the public key.
    const Result<QByteArray> sha256 = Sha256::hash(*firmware);
    if (!sha256)
        return console.fail(ExitCode::FileError, sha256.failure().reason);
    const QByteArray statement =
        FirmwareSignature::statement(release.model, release.version, firmware->size(), *sha256);
    const Result<QByteArray> signature =
        signingKey ? FirmwareSignature::sign(statement, *signingKey) : QByteArray();
    if (!signature)
        return console.fail(ExitCode::FileError, signature.failure().reason);
    if (signingKey && !FirmwareSignature::verify(statement, *signature, signingKey->publicKeyPem))
        return console.fail(ExitCode::ReadBackDiffers,
                            QStringLiteral("the signature does not verify; nothing was written"));

    // All files are complete on disk before any replaces its old self; the
    // firmware goes first and Version.txt last, so the old Version.txt never
    // names a missing file, nor the new one a firmware without its signature.
    const QDir out(release.outDirectory);
    const QString infoPath = out.filePath(FirmwareServer::infoFileName());
    const QString firmwarePath =
        out.filePath(FirmwareServer::firmwareFileName(release.model, release.version));
    const QString signaturePath = FirmwareSignature::signatureFileName(firmwarePath);
    if (!QDir().mkpath(out.path()))
        return console.fail(ExitCode::FileError,
                            QStringLiteral("cannot create the folder %1").arg(out.path()));
    QList<OutputFiles::File> files{{firmwarePath, *firmware}};
    if (signingKey)
        files.append({signaturePath, *signature});
    files.append({infoPath, body});
    if (const Result<> written = OutputFiles::writeInOrder(files); !written)
        return console.fail(ExitCode::FileError, written.failure().reason);

    // What is on disk now is what the server will hand out; a file that
    // cannot be read back reads as none.
    const auto readBack = [](const QString &path, qint64 maxBytes) {
        return OutputFiles::readAtMost(path, maxBytes).value_or(QByteArray());
    };
    const QByteArray writtenInfo = readBack(infoPath, FirmwareServer::maxInfoBytes);
    const QByteArray writtenFirmware = readBack(firmwarePath, FirmwareServer::maxFirmwareBytes);
    const QByteArray writtenSignature =
        signingKey ? readBack(signaturePath, FirmwareSignature::maxSignatureBytes) : QByteArray();
    if (!readsBackAs(writtenInfo, release, notes) || writtenFirmware != *firmware
        || writtenSignature != *signature)
        return console.fail(ExitCode::ReadBackDiffers,
                            QStringLiteral("the written release does not read back as meant"));

    console.out << "wrote " << infoPath << ": " << writtenInfo.size()
                << " bytes, read back as model " << release.model << ", version " << release.version
                << ", " << notes.size() << " note lines\n";
    console.out << "wrote " << firmwarePath << ": " << writtenFirmware.size() << " bytes, SHA-256 "
                << sha256->toHex() << '\n';
    if (signingKey)
        console.out << "wrote " << signaturePath
                    << ": Ed25519 signature, verified with the signing key's public key\n";
    for (const QString &finding : ServerFiles::fragilities(writtenInfo))
        console.warn(finding);
    return int(ExitCode::Done);
}

} // namespace

int releaseCommand(const QStringList &arguments, Console &console)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a firmware release into DIR, the server's firmware folder: Version.txt (GBK, "
        "CR LF line ends) and the firmware under the name the window asks for. Each file is "
        "replaced atomically, and only when all of the release is valid; the written "
        "Version.txt is read back through the window's parser."));
    parser.addPositionalArgument(QStringLiteral("release"), QStringLiteral("The command."));
    // In the order of Release's members.
    const QList<QCommandLineOption> options{
        {QStringLiteral("model"), QStringLiteral("Device model, the [Device] line."),
         QStringLiteral("M")},
        {QStringLiteral("version"), QStringLiteral("Firmware version, the [Version] line."),
         QStringLiteral("V")},
        {QStringLiteral("notes"), QStringLiteral("UTF-8 text file, one [Desc] line per line."),
         QStringLiteral("FILE")},
        {QStringLiteral("firmware"), QStringLiteral("Firmware image, copied byte for byte."),
         QStringLiteral("FILE")},
        {QStringLiteral("out"), QStringLiteral("Folder to write the release into."),
         QStringLiteral("DIR")},
    };
    parser.addOptions(options);
    const QCommandLineOption signingKey(
        QStringLiteral("signing-key"),
        QStringLiteral("Ed25519 private key (PEM) to sign the firmware with, for builds that "
                       "require signed firmware; writes the firmware's name plus .sig beside it."),
        QStringLiteral("KEY"));
    parser.addOption(signingKey);
    if (!parseCommandLine(parser, arguments, console))
        return int(ExitCode::Usage);
    QStringList values;
    for (const QCommandLineOption &option : options) {
        if (!parser.isSet(option))
            return console.fail(
                ExitCode::Usage,
                QStringLiteral("release needs --%1 (see --help)").arg(option.names().first()));
        values << parser.value(option);
    }
    if (parser.positionalArguments().size() != 1)
        return console.fail(ExitCode::Usage, QStringLiteral("release takes no other arguments"));
    return publish({values.at(0), values.at(1), values.at(2), values.at(3), values.at(4),
                    parser.value(signingKey)},
                   console);
}
