#pragma once

#include "server/servedfile.h"

#include <QByteArray>
#include <QList>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QObject;
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

// Where the server's files are asked for: through `manager`, at `baseUrl`
// and a file name. The base is the server's folder, "https://…/", or a local
// folder as a server would serve it, "file:///…/", which nv38k-publish check
// reads: such a reply has no HTTP status, and a missing file is absent as a
// 404 says.
struct Source
{
    QNetworkAccessManager *manager;
    QString baseUrl;
    // A reply this long without progress is aborted and brings no file; the
    // window's 0 waits for ever.
    int silenceLimitMs = 0;

    // The address of `fileName` in the folder, as request() parses it.
    QUrl url(const QString &fileName) const;
};

// Asks `source` for `url` with request(), its body limited to `maxBytes`;
// the reply becomes a child of `parent`.
QNetworkReply *get(const Source &source, const QUrl &url, qint64 maxBytes, QObject *parent);

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

// Whether `reply`, so far, is an answer that brings its file: no error, and
// a 2xx status, or a local file.
bool bringsFile(const QNetworkReply &reply);

// The file a finished reply brings (what of its body is still unread; a
// reader that takes the body as it comes gets nothing more), or why there is
// none. Redirections are not followed, so anything but a 2xx answer brings
// no file; a 404 says the server has none.
ServedFile servedFile(QNetworkReply &reply);
// The same, the body left unread for whoever asked for it.
ServedFile unreadServedFile(QNetworkReply &reply);
// The same for Version.txt, except that an answer with another status, a
// redirection say, brings its body as the file: the window reads it so.
ServedFile servedInformation(QNetworkReply &reply);

} // namespace ServerRequests
