#include "keygen.h"

#include "console.h"

#include "integrity/firmwaresignature.h"

#include <QCommandLineParser>
#include <QDir>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

#ifdef Q_OS_UNIX
// While alive, files this process creates start with no rights for group and
// others. QSaveFile creates a new file with 0666 less the umask before
// setPermissions() narrows it; under a permissive umask another user could
// open the private key's file in that moment and read the key through it later.
class OwnerOnlyFiles
{
public:
    OwnerOnlyFiles()
        : m_previous(umask(0077))
    { }
    ~OwnerOnlyFiles() { umask(m_previous); }
    OwnerOnlyFiles(const OwnerOnlyFiles &) = delete;
    OwnerOnlyFiles &operator=(const OwnerOnlyFiles &) = delete;

private:
    mode_t m_previous;
};
#endif

bool writeKeyFile(const QString &path, const QByteArray &pem, QFileDevice::Permissions permissions)
{
    QSaveFile file(path);
    // Narrowed before the key is in it. The flush is checked on its own:
    // commit() does not fail when the buffered key cannot be written out.
    return file.open(QIODevice::WriteOnly) && file.setPermissions(permissions)
           && file.write(pem) == pem.size() && file.flush() && file.commit();
}

} // namespace

int keygenCommand(const QStringList &arguments, Console &console)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Makes an Ed25519 key pair for signing firmware in DIR: firmware-signing.key, the "
        "private key, readable by its owner only, for `release --signing-key`; and "
        "firmware-signing.pub, the public key, for NV38K_FIRMWARE_SIGNING_KEY. With "
        "--tool-release, the pair that signs the tool's own releases instead: "
        "tool-release.key for `tool-release --signing-key`, tool-release.pub for "
        "NV38K_TOOL_RELEASE_KEY. Keep private keys offline. Existing keys are never "
        "replaced."));
    parser.addPositionalArgument(QStringLiteral("keygen"), QStringLiteral("The command."));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("Folder to write the key pair into."),
                                 QStringLiteral("DIR"));
    parser.addOption(out);
    const QCommandLineOption toolRelease(
        QStringLiteral("tool-release"),
        QStringLiteral("Make the key pair that signs ToolRelease.txt, never firmware."));
    parser.addOption(toolRelease);
    if (!parseCommandLine(parser, arguments, console))
        return int(ExitCode::Usage);
    if (!parser.isSet(out) || parser.positionalArguments().size() != 1)
        return console.fail(ExitCode::Usage, QStringLiteral("keygen needs --out DIR and no more"));

    // A key of each role, in files named for it, so that neither is taken
    // for the other.
    const bool forToolReleases = parser.isSet(toolRelease);
    const QString name =
        forToolReleases ? QStringLiteral("tool-release") : QStringLiteral("firmware-signing");
    const QLatin1String buildSetting(forToolReleases ? "NV38K_TOOL_RELEASE_KEY"
                                                     : "NV38K_FIRMWARE_SIGNING_KEY");
    const QDir dir(parser.value(out));
    const QString privatePath = dir.filePath(name + QStringLiteral(".key"));
    const QString publicPath = dir.filePath(name + QStringLiteral(".pub"));
    for (const QString &path : {privatePath, publicPath}) {
        if (QFileInfo::exists(path))
            return console.fail(ExitCode::FileError,
                                QStringLiteral("%1 exists; it is not replaced").arg(path));
    }
    if (!QDir().mkpath(dir.path()))
        return console.fail(ExitCode::FileError,
                            QStringLiteral("cannot create the folder %1").arg(dir.path()));

    const Result<FirmwareSignature::SigningKey> key = FirmwareSignature::generateSigningKey();
    if (!key)
        return console.fail(ExitCode::FileError, key.failure().reason);
#ifdef Q_OS_UNIX
    const OwnerOnlyFiles ownerOnly;
#endif
    if (!writeKeyFile(privatePath, key->privateKeyPem,
                      QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || !writeKeyFile(publicPath, key->publicKeyPem,
                         QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                             | QFileDevice::ReadOther))
        return console.fail(ExitCode::FileError,
                            QStringLiteral("cannot write the key pair into %1").arg(dir.path()));
    console.out << "wrote " << privatePath << ": the private key; keep it offline\n"
                << "wrote " << publicPath << ": the public key, for " << buildSetting << '\n';
    return int(ExitCode::Done);
}
