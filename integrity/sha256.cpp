#include "integrity/sha256.h"

#include <openssl/evp.h>

Sha256::Sha256()
    : m_context(EVP_MD_CTX_new(), EVP_MD_CTX_free)
{
    // A context that cannot start is said so by result(), to whoever hashes.
    if (m_context && !EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr))
        m_context.reset();
}

Sha256::~Sha256() = default;

void Sha256::addData(const char *data, qint64 size)
{
    if (m_context)
        EVP_DigestUpdate(m_context.get(), data, size_t(size));
}

Result<QByteArray> Sha256::result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int size = 0;
    if (!m_context
        || !EVP_DigestFinal_ex(m_context.get(), reinterpret_cast<unsigned char *>(digest.data()),
                               &size)
        || !EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr)) {
        m_context.reset();
        return Failure{Failure::Kind::Failed, QStringLiteral("OpenSSL cannot compute SHA-256")};
    }
    digest.resize(int(size));
    return digest;
}

Result<QByteArray> Sha256::hash(const QByteArray &data)
{
    Sha256 sha256;
    sha256.addData(data);
    return sha256.result();
}
