#include "integrity/authenticode.h"

#ifdef Q_OS_WIN
// clang-format off
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
// clang-format on
#include <QByteArray>
#include <QDir>
#include <string>
#endif

namespace Authenticode {

#ifdef Q_OS_WIN
namespace {

struct Signature
{
    LONG status = TRUST_E_NOSIGNATURE;
    // The signer's certificate as encoded in the file; empty when none was read.
    QByteArray signer;
};

// What WinVerifyTrust makes of the file's embedded signature, and its signer.
// Nothing goes over the network: no revocation check and no fetching of
// certificates, so a check made offline judges as one made online.
Signature inspect(const QString &path)
{
    const std::wstring file = QDir::toNativeSeparators(path).toStdWString();
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = file.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;

    Signature signature;
    signature.status = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (CRYPT_PROVIDER_DATA *provider = WTHelperProvDataFromStateData(data.hWVTStateData)) {
        const CRYPT_PROVIDER_SGNR *signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
        if (signer && signer->csCertChain > 0 && signer->pasCertChain[0].pCert) {
            const CERT_CONTEXT *certificate = signer->pasCertChain[0].pCert;
            signature.signer =
                QByteArray(reinterpret_cast<const char *>(certificate->pbCertEncoded),
                           int(certificate->cbCertEncoded));
        }
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return signature;
}

// Whether the signature is whole: the file's digest matches what was signed
// and the signer's key made that signature. A chain that ends at a root this
// PC does not trust (or ends before any root) still counts, because trust
// comes from elsewhere: the signer must be the very certificate that signed
// the running program, which a stranger cannot sign with. Anything else,
// a damaged, revoked, expired or misused certificate included, does not.
bool intact(LONG status)
{
    return status == ERROR_SUCCESS || status == CERT_E_UNTRUSTEDROOT || status == CERT_E_CHAINING;
}

} // namespace
#endif

QString describe(Problem problem)
{
    switch (problem) {
    case Problem::OwnSignatureUnreadable:
        return QStringLiteral("this program's own signer cannot be read");
    case Problem::Unsigned:
        return QStringLiteral("the installer is not signed");
    case Problem::Broken:
        return QStringLiteral("the installer's signature is damaged or invalid");
    case Problem::OtherSigner:
        return QStringLiteral("another certificate signed the installer");
    }
    return {};
}

std::optional<Problem> installerSignatureProblem(const QString &installerPath,
                                                 const QString &runningProgramPath)
{
#ifdef Q_OS_WIN
    const Signature running = inspect(runningProgramPath);
    // An unsigned build has nothing to hold the installer to; the size and
    // SHA-256 from the vendor's statement are all it has.
    if (running.status == TRUST_E_NOSIGNATURE)
        return std::nullopt;
    if (running.signer.isEmpty())
        return Problem::OwnSignatureUnreadable;
    const Signature installer = inspect(installerPath);
    if (installer.status == TRUST_E_NOSIGNATURE)
        return Problem::Unsigned;
    if (!intact(installer.status) || installer.signer.isEmpty())
        return Problem::Broken;
    if (installer.signer != running.signer)
        return Problem::OtherSigner;
#else
    Q_UNUSED(installerPath)
    Q_UNUSED(runningProgramPath)
#endif
    return std::nullopt;
}

} // namespace Authenticode
