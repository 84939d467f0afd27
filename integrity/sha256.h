#pragma once

#include "result/result.h"

#include <QByteArray>
#include <memory>

struct evp_md_ctx_st;

// SHA-256 from OpenSSL's libcrypto, which Qt's TLS loads anyway: over ten
// times as fast as Qt's own, as it uses the CPU's SHA instructions.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void addData(const char *data, qint64 size);
    void addData(const QByteArray &data) { addData(data.constData(), data.size()); }
    // The 32-byte digest of everything added; the hash then starts afresh.
    // Failed when OpenSSL could not compute SHA-256 at all.
    Result<QByteArray> result();

    static Result<QByteArray> hash(const QByteArray &data);

private:
    std::unique_ptr<evp_md_ctx_st, void (*)(evp_md_ctx_st *)> m_context;
};
