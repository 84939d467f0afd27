// A bare window of the tool's size: what bench_startup compares the tool with.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(314, 232);
    window.show();
    return app.exec();
}
