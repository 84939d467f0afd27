// The floor under `nv38k-publish check`: a bare Qt 5 program that GETs each
// URL in turn over one QNetworkAccessManager, trusting CA_FILE, set up as
// nv38k-publish is (no plugins, Qt's own event loop), and nothing else: no
// parsing, no hashing.   bench_fetch CA_FILE URL...
#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslSocket>
#include <memory>

int main(int argc, char *argv[])
{
    QCoreApplication::setLibraryPaths({});
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3)
        return 64;
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QSslSocket::addDefaultCaCertificates(QSslCertificate::fromPath(arguments.at(1)));
    QT_WARNING_POP

    QNetworkAccessManager manager;
    for (const QString &address : arguments.mid(2)) {
        const std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(address))));
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        if (reply->error() != QNetworkReply::NoError || reply->readAll().isEmpty())
            return 1;
    }
    return 0;
}
