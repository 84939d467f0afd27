#include "digest.h"

#ifdef NV38K_PUBLISH_OPENSSL
#include <openssl/evp.h>
#else
#include <QCryptographicHash>
#endif

QByteArray sha256Hex(const QByteArray &data)
{
#ifdef NV38K_PUBLISH_OPENSSL
    // OpenSSL's is over ten times as fast as Qt's (it uses the CPU's SHA
    // instructions), and Qt's TLS loads the same library anyway.
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(data.constData(), size_t(data.size()), digest, &size, EVP_sha256(), nullptr))
        return QByteArray(reinterpret_cast<const char *>(digest), int(size)).toHex();
    qFatal("OpenSSL cannot compute SHA-256");
#else
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
#endif
}
