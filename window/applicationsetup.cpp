#include "window/applicationsetup.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QTranslator>
#include <QWidget>

namespace {

// A plain QWidget reads as a "filler" to screen readers; the tool's one
// window is a frame, as a top-level window's role should be.
QAccessibleInterface *windowInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("Widget") && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

void prepareApplication(QApplication &app)
{
    // A static library's resources are registered by name.
    Q_INIT_RESOURCE(qttranslation);
    QAccessible::installFactory(windowInterface);
    // Qt's own texts that the tool shows, in Chinese, built in.
    auto *translator = new QTranslator(&app);
    if (translator->load(QStringLiteral(":/translations/qt_zh_CN.qm")))
        QApplication::installTranslator(translator);
}
