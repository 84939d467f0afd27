#include "integrity/firmwaresignature.h"

#include <QList>
#include <QUrl>
#include <memory>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace FirmwareSignature {

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Bio readBio(const QByteArray &bytes)
{
    return Bio(BIO_new_mem_buf(bytes.constData(), bytes.size()), BIO_free);
}

QByteArray bioContents(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, int(size));
}

// Never asks for a passphrase: a signing key for releases is read unattended.
int noPassphrase(char *, int, int, void *)
{
    return -1;
}

bool isEd25519(const Key &key)
{
    return key && EVP_PKEY_id(key.get()) == EVP_PKEY_ED25519;
}

// The raw 32-byte keys of the Ed25519 keys among PEM "PUBLIC KEY" blocks.
// Each is a SubjectPublicKeyInfo of 44 bytes: a fixed prefix, then the key.
// Read here rather than by OpenSSL's decoders, which take longer than the
// verification itself; blocks that hold anything else are passed over.
QList<QByteArray> ed25519PublicKeys(const QByteArray &pem)
{
    static const QByteArray begin("-----BEGIN PUBLIC KEY-----");
    static const QByteArray end("-----END PUBLIC KEY-----");
    static const QByteArray prefix = QByteArray::fromHex("302a300506032b6570032100");
    QList<QByteArray> keys;
    for (int at = pem.indexOf(begin); at >= 0; at = pem.indexOf(begin, at)) {
        at += begin.size();
        const int stop = pem.indexOf(end, at);
        if (stop < 0)
            break;
        QByteArray base64 = pem.mid(at, stop - at);
        base64.replace('\n', QByteArray()).replace('\r', QByteArray());
        const QByteArray::FromBase64Result der =
            QByteArray::fromBase64Encoding(base64, QByteArray::AbortOnBase64DecodingErrors);
        if (der && der.decoded.size() == prefix.size() + 32 && der.decoded.startsWith(prefix))
            keys.append(der.decoded.mid(prefix.size()));
        at = stop + end.size();
    }
    return keys;
}

bool verifiesWith(const QByteArray &rawKey, const QByteArray &statement,
                  const QByteArray &signature)
{
    const Key key(EVP_PKEY_new_raw_public_key(
                      EVP_PKEY_ED25519, nullptr,
                      reinterpret_cast<const unsigned char *>(rawKey.constData()), rawKey.size()),
                  EVP_PKEY_free);
    DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return key && context
           && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1
           && EVP_DigestVerify(context.get(),
                               reinterpret_cast<const unsigned char *>(signature.constData()),
                               size_t(signature.size()),
                               reinterpret_cast<const unsigned char *>(statement.constData()),
                               size_t(statement.size()))
                  == 1;
}

void appendBigEndian(QByteArray &out, quint64 value, int bytes)
{
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.append(char((value >> shift) & 0xff));
}

} // namespace

QByteArray statement(const QString &deviceModel, const QString &version, qint64 firmwareSize,
                     const QByteArray &firmwareSha256)
{
    QByteArray out = QByteArrayLiteral("NV38K firmware statement 1");
    for (const QString &field : {deviceModel, version}) {
        const QByteArray utf8 = field.toUtf8();
        appendBigEndian(out, quint64(utf8.size()), 4);
        out.append(utf8);
    }
    appendBigEndian(out, quint64(firmwareSize), 8);
    out.append(firmwareSha256);
    return out;
}

QByteArray toolReleaseStatement(const QByteArray &statementFile)
{
    return QByteArrayLiteral("NV38K tool release statement 1\n") + statementFile;
}

QString signatureFileName(const QString &firmwareFileName)
{
    return firmwareFileName + QStringLiteral(".sig");
}

QUrl signatureUrl(const QUrl &firmwareUrl)
{
    QUrl url = firmwareUrl;
    url.setPath(signatureFileName(url.path(QUrl::FullyEncoded)), QUrl::TolerantMode);
    return url;
}

Result<> verify(const QByteArray &statement, const QByteArray &signature,
                const QByteArray &publicKeysPem)
{
    if (signature.size() != signatureBytes)
        return Failure{Failure::Kind::Refused, QStringLiteral("the signature is %1 bytes, not %2")
                                                   .arg(signature.size())
                                                   .arg(signatureBytes)};
    for (const QByteArray &key : ed25519PublicKeys(publicKeysPem)) {
        if (verifiesWith(key, statement, signature))
            return {};
    }
    // A failed verification leaves errors behind that nobody else should see.
    ERR_clear_error();
    return Failure{
        Failure::Kind::NotVerified,
        QStringLiteral("no trusted key signed this firmware for this model and version")};
}

Result<SigningKey> readSigningKey(const QByteArray &privateKeyPem)
{
    const Bio bio = readBio(privateKeyPem);
    const Key key(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr),
                  EVP_PKEY_free);
    ERR_clear_error();
    if (!isEd25519(key))
        return Failure{Failure::Kind::Refused,
                       key ? QStringLiteral("not an Ed25519 key")
                           : QStringLiteral("no unencrypted PEM private key")};
    const Bio publicPem(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_PUBKEY(publicPem.get(), key.get());
    return SigningKey{privateKeyPem, bioContents(publicPem.get())};
}

Result<SigningKey> generateSigningKey()
{
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), EVP_PKEY_CTX_free);
    EVP_PKEY *generated = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1
        || EVP_PKEY_keygen(context.get(), &generated) != 1)
        return Failure{Failure::Kind::Failed, QStringLiteral("OpenSSL cannot make an Ed25519 key")};
    const Key key(generated, EVP_PKEY_free);
    const Bio privatePem(BIO_new(BIO_s_mem()), BIO_free);
    const Bio publicPem(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_PrivateKey(privatePem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    PEM_write_bio_PUBKEY(publicPem.get(), key.get());
    return SigningKey{bioContents(privatePem.get()), bioContents(publicPem.get())};
}

Result<QByteArray> sign(const QByteArray &statement, const SigningKey &key)
{
    const Bio bio = readBio(key.privateKeyPem);
    const Key privateKey(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassphrase, nullptr),
                         EVP_PKEY_free);
    DigestContext context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    QByteArray signature(int(signatureBytes), Qt::Uninitialized);
    size_t size = size_t(signature.size());
    if (!privateKey || !context
        || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, privateKey.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &size,
                          reinterpret_cast<const unsigned char *>(statement.constData()),
                          size_t(statement.size()))
               != 1)
        return Failure{Failure::Kind::Failed, QStringLiteral("OpenSSL cannot sign with this key")};
    signature.resize(int(size));
    return signature;
}

} // namespace FirmwareSignature
