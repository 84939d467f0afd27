#include "window/widget.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    // The window has a fixed size: on a scaled display (150 %, 200 %) it
    // must grow with its fonts, by the exact factor, or its texts overflow.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/nv38k.png")));

    Widget window;
    window.show();
    return app.exec();
}
