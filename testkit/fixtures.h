#pragma once

#include <QByteArray>
#include <QString>

// Files and firmware that the tests make and read.

// A deterministic pseudo-firmware of `size` bytes.
QByteArray firmwareImage(int size);
// The signature of `firmware` as `model` at `version`, by the test key
// `key` ("signing", the trusted one, or "other-signing").
QByteArray firmwareSignature(const QByteArray &firmware, const char *key = "signing",
                             const QString &version = QStringLiteral("2.0"),
                             const QString &model = QStringLiteral("K1"));

// A tool release statement for `version`, and its signature by the test key `key`.
QByteArray toolReleaseFile(const QString &version, bool securityFix = false);
QByteArray toolReleaseSignature(const QByteArray &statementFile, const char *key = "tool-release");

QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);
