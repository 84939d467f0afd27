#pragma once

#include <QString>

class QUrl;

// The firmware server's files: where each lives and how large it may be.
// Requests for them are made in requests/.
namespace FirmwareServer {

// "https://<host>/NV38Firmware/N3KFirmware/", the host fixed at build time.
QString baseUrl();

// "Version.txt", the information file's name under the base.
QString infoFileName();

// The firmware file for one model and version: model, "_", version, ".nv";
// both values are used verbatim.
QString firmwareFileName(const QString &deviceModel, const QString &version);

// Where the firmware for one model and version lives: base and file name.
QString firmwareUrl(const QString &deviceModel, const QString &version);

// The URL an address becomes in a request: parsed in tolerant mode, so
// characters a URL cannot hold are escaped and "#" or "?" end the path.
QUrl toUrl(const QString &address);

// Bodies past these sizes are cut off as soon as they pass them: the
// keyboard's flash holds 170 KB, and "Version.txt" is a few lines.
constexpr qint64 maxFirmwareBytes = 16 * 1024 * 1024;
constexpr qint64 maxInfoBytes = 1024 * 1024;

} // namespace FirmwareServer
