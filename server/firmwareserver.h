#pragma once

#include <QList>
#include <QString>
#include <optional>

class QNetworkReply;
class QNetworkRequest;
class QSslCertificate;
class QUrl;

// Addresses on the firmware server and how requests to it are made.
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

// A plain GET request for an address: tolerant parsing, no headers, no
// redirects followed. The build's own root certificate is trusted from then
// on, besides the system's roots.
QNetworkRequest request(const QString &address);
QNetworkRequest request(const QUrl &url);

// Trusts `roots` for every later request, besides the system's roots and the
// build's own.
void trustRoots(const QList<QSslCertificate> &roots);

// Bodies past these sizes are cut off as soon as they pass them: the
// keyboard's flash holds 170 KB, and "Version.txt" is a few lines.
constexpr qint64 maxFirmwareBytes = 16 * 1024 * 1024;
constexpr qint64 maxInfoBytes = 1024 * 1024;

// Aborts `reply` once its announced or received body passes `maxBytes`; the
// reply then finishes as failed, and firmwareReplyFailure() names the limit.
void limitBodySize(QNetworkReply *reply, qint64 maxBytes);
// Aborts `reply` as past `maxBytes`, as limitBodySize() does. A reader that
// takes the body as it arrives keeps the reply's buffer small, so
// limitBodySize() never sees the size; such a reader counts what it took and
// calls this itself.
void cutOff(QNetworkReply *reply, qint64 maxBytes);
// Whether a finished information reply failed: an error, or cut off at its
// size limit. An answer with another status, a redirection say, has not
// failed; its body is read as the file.
bool informationReplyFailed(const QNetworkReply &reply);

// How firmwareReplyFailure() names a body cut off at `maxBytes`.
QString sizeLimitFailure(qint64 maxBytes);

// Why a finished firmware reply holds no firmware, or nothing when it does. Redirections are not
// followed, so anything but a 2xx answer is a failure too, named by its HTTP status.
std::optional<QString> firmwareReplyFailure(const QNetworkReply &reply);

} // namespace FirmwareServer
