// Walks through the tool's whole use with nobody at the screen: builds the
// real window, clicks its two buttons as a user would, reads and closes every
// message box, and says what a user would have seen. Exits 0 only when the
// firmware was stored and equals the served file byte for byte.
//
// Usage: nv38k-walkthrough SERVED_FIRMWARE SCREENSHOT_DIR
// Run it in the tool's working directory (with bin/x64/dfu-util-static).
#include "integrity/buildkeys.h"
#include "testkit/messageboxcatcher.h"
#include "testkit/waituntil.h"
#include "window/widget.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTextStream>

namespace {

QTextStream out(stdout);
bool signatureVerified = false;

// The tool's own debug log and the platform's notes (no window manager, no
// session) would bury the report.
void onlyWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    static const QLatin1String platformNotes[] = {QLatin1String("propagateSizeHints"),
                                                  QLatin1String("QStandardPaths:"),
                                                  QLatin1String("(SetInputFocus)")};
    if (message == QLatin1String("SignatureVerified"))
        signatureVerified = true;
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    for (const QLatin1String &note : platformNotes)
        if (message.contains(note))
            return;
    QTextStream(stderr) << message << '\n';
}

void clickLikeAUser(QPushButton *button)
{
    const QPoint centre = button->rect().center();
    const QPoint global = button->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(button, &press);
    QApplication::sendEvent(button, &release);
}

QString describe(const CaughtBox &box)
{
    const char *kind = box.icon == QMessageBox::Information ? "information"
                       : box.icon == QMessageBox::Warning   ? "warning"
                       : box.icon == QMessageBox::Critical  ? "critical"
                                                            : "other";
    return QStringLiteral("box (%1) \"%2\": %3").arg(QLatin1String(kind), box.title, box.text);
}

struct FileFacts
{
    qint64 size = -1;
    QByteArray sha256;
};

FileFacts facts(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return {file.size(), hash.result().toHex()};
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(onlyWarnings);
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        QTextStream(stderr) << "usage: nv38k-walkthrough SERVED_FIRMWARE SCREENSHOT_DIR\n";
        return 64;
    }
    const QString servedFirmware = arguments.at(1);
    const QDir shots(arguments.at(2));
    QDir().mkpath(shots.path());

    Widget window;
    MessageBoxCatcher boxes;
    const auto *infoManager = window.findChild<QNetworkAccessManager *>(
        QLatin1String(WidgetObjects::infoManager), Qt::FindDirectChildrenOnly);
    int informationReplies = 0;
    QObject::connect(infoManager, &QNetworkAccessManager::finished, [&] { ++informationReplies; });

    const auto label = [&window](const char *name) {
        return window.findChild<QLabel *>(QLatin1String(name))->text();
    };
    const auto screenshot = [&](const QString &name) {
        QCoreApplication::processEvents();
        const QString path = shots.filePath(name);
        window.grab().save(path);
        out << "   screenshot: " << QDir::current().relativeFilePath(path) << '\n';
    };
    const auto newBoxes = [&boxes](int from) {
        for (int i = from; i < boxes.boxes().size(); ++i)
            out << "   " << describe(boxes.boxes().at(i)) << '\n';
    };

    out << "NV38K upgrade tool: walkthrough in " << QDir::currentPath() << "\n\n";
    window.show();
    screenshot(QStringLiteral("0-start.png"));

    out << QStringLiteral("1. Click \"获取固件信息\" (get firmware information)\n");
    clickLikeAUser(window.findChild<QPushButton *>(QStringLiteral("btnGetFirmWare")));
    const bool informed = waitUntil([&] { return informationReplies == 1; });
    out << QStringLiteral("   设备型号 (model):   ") << label("lblDeviceType") << '\n';
    out << QStringLiteral("   固件版本 (version): ") << label("lblFirmwareVersion") << '\n';
    const QStringList notes = label("lblFirmwareDesc").split(QStringLiteral("\r\n"));
    for (int i = 0; i < notes.size(); ++i)
        out << (i == 0 ? QStringLiteral("   固件更新说明 (notes): ")
                       : QStringLiteral("                         "))
            << notes.at(i) << '\n';
    newBoxes(0);
    screenshot(QStringLiteral("1-information.png"));
    const bool informationShown =
        informed && boxes.boxes().isEmpty() && !label("lblDeviceType").isEmpty();

    out << QStringLiteral("\n2. Click \"下载固件\" (download firmware)\n");
    clickLikeAUser(window.findChild<QPushButton *>(QStringLiteral("btnUpdate")));
    // Every outcome but a listing that exits with an error ends in a box.
    waitUntil([&] { return !boxes.boxes().isEmpty(); });
    newBoxes(0);
    if (BuildKeys::firmwareSignatureRequired())
        out << "   signature: " << (signatureVerified ? "verified" : "NOT verified")
            << " with the build's public key\n";
    screenshot(QStringLiteral("2-download.png"));

    const FileFacts stored = facts(QStringLiteral("tmp/Data.nv"));
    const FileFacts served = facts(servedFirmware);
    out << "\n   stored tmp/Data.nv: " << stored.size << " bytes, SHA-256 " << stored.sha256
        << '\n';
    out << "   served firmware:    " << served.size << " bytes, SHA-256 " << served.sha256 << '\n';

    const bool downloaded = boxes.boxes().size() == 1
                            && (signatureVerified || !BuildKeys::firmwareSignatureRequired())
                            && boxes.boxes().first().title == QStringLiteral("成功")
                            && stored.size >= 0 && stored.sha256 == served.sha256;
    const bool worked = informationShown && downloaded;
    out << '\n' << (worked ? "The whole use worked." : "The walkthrough FAILED.") << '\n';
    return worked ? 0 : 1;
}
