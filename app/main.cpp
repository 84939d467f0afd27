#include "window/applicationsetup.h"
#include "window/widget.h"

#include <QApplication>
#include <QFontDatabase>

#ifdef Q_OS_WIN
#include <openssl/crypto.h>

namespace {

// The window's texts are all Chinese, but Qt 5 takes Windows' dialog font,
// "MS Shell Dlg 2" at 8 pt, which is Tahoma and has none: they would come
// from a fallback face. Where Tahoma is missing (Wine without its own fonts)
// another installed face stands in, and one whose line height is several
// times its size (a maths face) pushes the form's rows apart until the notes
// run under the buttons. Chinese Windows' own UI face at 9 pt, or else any
// face with Chinese, makes the window look as it does on Linux.
void useChineseUiFont()
{
    const QFontDatabase fonts;
    QString face;
    // The UI cut from Windows 8 on, the older one on Windows 7.
    for (const char *known : {"Microsoft YaHei UI", "Microsoft YaHei"}) {
        if (fonts.hasFamily(QLatin1String(known))) {
            face = QLatin1String(known);
            break;
        }
    }
    if (face.isEmpty()) {
        const QStringList chinese = fonts.families(QFontDatabase::SimplifiedChinese);
        if (chinese.isEmpty())
            return;
        face = chinese.first();
    }
    QApplication::setFont(QFont(face, 9));
}

} // namespace
#endif

int main(int argc, char *argv[])
{
#ifdef Q_OS_WIN
    // OpenSSL reads no configuration file here: the folder it would read one
    // from is fixed when it is built, and a file another user put there could
    // load code into the tool. Some of OpenSSL 3.0's calls load it even in a
    // build that does not load it by itself, so it is ruled out before Qt
    // starts TLS.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
#endif
    // The window has a fixed size: on a scaled display (150 %, 200 %) it
    // must grow with its fonts, by the exact factor, or its texts overflow.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication app(argc, argv);
    prepareApplication(app);
#ifdef Q_OS_WIN
    useChineseUiFont();
#endif

    Widget window;
    window.show();
    setIconAfterFirstFrame(app, window, QStringLiteral(":/icons/nv38k.png"));
    return app.exec();
}
