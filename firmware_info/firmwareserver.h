#pragma once

#include <QString>
#include <optional>

class QNetworkReply;
class QNetworkRequest;

// Addresses on the firmware server and how requests to it are made.
namespace FirmwareServer {

// "https://<host>/NV38Firmware/N3KFirmware/", the host fixed at build time.
QString baseUrl();

// Where the firmware for one model and version lives: base, model, "_",
// version, ".nv"; both values are used verbatim.
QString firmwareUrl(const QString &deviceModel, const QString &version);

// A plain GET request for an address: tolerant parsing, no headers, no
// redirects followed. The build's own root certificate is trusted from then
// on, besides the system's roots.
QNetworkRequest request(const QString &address);

// Bodies past these sizes are cut off as soon as they pass them: the
// keyboard's flash holds 170 KB, and "Version.txt" is a few lines.
constexpr qint64 maxFirmwareBytes = 16 * 1024 * 1024;
constexpr qint64 maxInfoBytes = 1024 * 1024;

// Aborts `reply` once its announced or received body passes `maxBytes`; the
// reply then finishes as failed, and firmwareReplyFailure() names the limit.
void limitBodySize(QNetworkReply *reply, qint64 maxBytes);
// Whether limitBodySize() cut `reply` off. The whole body can arrive before
// the abort takes effect, so a reply without an error may still be one.
bool exceededBodySize(const QNetworkReply &reply);

// Why a finished firmware reply holds no firmware, or nothing when it does. Redirections are not
// followed, so anything but a 2xx answer is a failure too, named by its HTTP status.
std::optional<QString> firmwareReplyFailure(const QNetworkReply &reply);

} // namespace FirmwareServer
