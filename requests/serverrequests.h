#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

class QNetworkReply;
class QNetworkRequest;
class QSslCertificate;
class QUrl;

// How the tool asks the firmware server for its files: which roots it
// trusts, no redirects followed, bodies bounded, and when a reply failed.
namespace ServerRequests {

// A plain GET request for an address: tolerant parsing, no headers, no
// redirects followed. The build's own root certificate is trusted from then
// on, besides the system's roots.
QNetworkRequest request(const QString &address);
QNetworkRequest request(const QUrl &url);

// Trusts `roots` for every later request, besides the system's roots and the
// build's own.
void trustRoots(const QList<QSslCertificate> &roots);

// Aborts `reply` once its announced or received body passes `maxBytes`; the
// reply then finishes as failed, and fileReplyFailure() names the limit.
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

// How fileReplyFailure() names a body cut off at `maxBytes`.
QString sizeLimitFailure(qint64 maxBytes);

// Why a finished reply for one of the server's files other than Version.txt
// (a firmware, a signature, the tool's statement or installer) holds no
// file, or nothing when it does. Redirections are not followed, so anything
// but a 2xx answer is a failure too, named by its HTTP status.
std::optional<QString> fileReplyFailure(const QNetworkReply &reply);

// The body of a finished information reply, or nothing when it failed.
std::optional<QByteArray> informationBody(QNetworkReply &reply);

} // namespace ServerRequests
