#pragma once

#include "result/result.h"

#include <QByteArray>
#include <QString>

class QUrl;

// The vendor's signature over a firmware release. A build that carries
// public keys (NV38K_FIRMWARE_SIGNING_KEY) stores a firmware only when one of
// them verifies the Ed25519 signature served beside it, at the firmware's
// address plus ".sig". What is signed binds the firmware's bytes to the
// model and version it is served for.
namespace FirmwareSignature {

// The signature file holds the raw 64-byte Ed25519 signature, nothing else.
constexpr qint64 signatureBytes = 64;
// A signature reply past this size is cut off like any oversized body.
constexpr qint64 maxSignatureBytes = 1024;

// The statement a signature covers: a format tag, then the model and the
// version as Version.txt gives them, the firmware's size and its SHA-256.
// Every field has a fixed size or a length prefix, so no two releases share
// a statement.
QByteArray statement(const QString &deviceModel, const QString &version, qint64 firmwareSize,
                     const QByteArray &firmwareSha256);

// What the signature of a tool release statement (ToolRelease.txt) covers: a
// tag of its own, then the file's bytes. No firmware statement starts with
// that tag, so a firmware's signature never passes for a statement's, nor the
// reverse.
QByteArray toolReleaseStatement(const QByteArray &statementFile);

// Where the signature of a firmware lives: its file name plus ".sig".
QString signatureFileName(const QString &firmwareFileName);
// The same for a firmware's URL: ".sig" is added to its path, so a query or
// fragment in it stays where it is.
QUrl signatureUrl(const QUrl &firmwareUrl);

// Whether one of the Ed25519 public keys in `publicKeysPem` (PEM blocks one
// after the other) has signed `statement`; keys of other types are ignored.
// Refused when `signature` is no signature at all (empty, or not 64 bytes);
// NotVerified when no trusted key signed this statement.
Result<> verify(const QByteArray &statement, const QByteArray &signature,
                const QByteArray &publicKeysPem);

// An Ed25519 private key in PEM (PKCS#8, as `openssl genpkey -algorithm
// ed25519` writes it) and the public key derived from it, or why the PEM
// holds no such key (Refused).
struct SigningKey
{
    QByteArray privateKeyPem;
    QByteArray publicKeyPem;
};
Result<SigningKey> readSigningKey(const QByteArray &privateKeyPem);
// A fresh key pair, or why OpenSSL made none.
Result<SigningKey> generateSigningKey();

// The signature of `statement` by `key`, or why OpenSSL made none.
Result<QByteArray> sign(const QByteArray &statement, const SigningKey &key);

} // namespace FirmwareSignature
