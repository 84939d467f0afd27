#pragma once

#include "server/servedfile.h"

#include <QByteArray>
#include <QList>
#include <QString>

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
// reply then finishes as failed, and servedFile() names the limit.
void limitBodySize(QNetworkReply *reply, qint64 maxBytes);
// Aborts `reply` as past `maxBytes`, as limitBodySize() does. A reader that
// takes the body as it arrives keeps the reply's buffer small, so
// limitBodySize() never sees the size; such a reader counts what it took and
// calls this itself.
void cutOff(QNetworkReply *reply, qint64 maxBytes);
// How servedFile() names a body cut off at `maxBytes`.
QString sizeLimitFailure(qint64 maxBytes);

// The file a finished reply brings (what of its body is still unread; a
// reader that takes the body as it comes gets nothing more), or why there is
// none. Redirections are not followed, so anything but a 2xx answer brings
// no file; a 404 says the server has none.
ServedFile servedFile(QNetworkReply &reply);
// The same for Version.txt, except that an answer with another status, a
// redirection say, brings its body as the file: the window reads it so.
ServedFile servedInformation(QNetworkReply &reply);

} // namespace ServerRequests
