#include "window/widget.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/icons/nv38k.png")));

    Widget window;
    window.show();
    return app.exec();
}
