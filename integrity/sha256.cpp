#include "integrity/sha256.h"

#include <openssl/evp.h>

Sha256::Sha256()
    : m_context(EVP_MD_CTX_new(), EVP_MD_CTX_free)
{
    if (!m_context || !EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr))
        qFatal("OpenSSL cannot compute SHA-256");
}

Sha256::~Sha256() = default;

void Sha256::addData(const char *data, qint64 size)
{
    EVP_DigestUpdate(m_context.get(), data, size_t(size));
}

QByteArray Sha256::result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int size = 0;
    EVP_DigestFinal_ex(m_context.get(), reinterpret_cast<unsigned char *>(digest.data()), &size);
    EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr);
    digest.resize(int(size));
    return digest;
}

QByteArray Sha256::hash(const QByteArray &data)
{
    Sha256 sha256;
    sha256.addData(data);
    return sha256.result();
}
