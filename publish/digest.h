#pragma once

#include <QByteArray>

// The SHA-256 of `data` in lower-case hex, as sha256sum prints it.
QByteArray sha256Hex(const QByteArray &data);
