#include "window/applicationsetup.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <QTranslator>
#include <QWidget>
#include <QWindow>

namespace {

// A plain QWidget reads as a "filler" to screen readers; the tool's one
// window is a frame, as a top-level window's role should be.
QAccessibleInterface *windowInterface(const QString &className, QObject *object)
{
    if (className == QLatin1String("Widget") && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

// Waits for the window's first expose, which Qt answers by drawing and
// flushing the frame, then sets the icon from the event loop, after it.
class IconAfterExpose : public QObject
{
public:
    IconAfterExpose(QApplication &app, const QString &iconPath)
        : QObject(&app)
        , m_app(app)
        , m_iconPath(iconPath)
    { }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Expose) {
            watched->removeEventFilter(this);
            setIconSoon();
        }
        return false;
    }

    // From the event loop, once what is being drawn now is out.
    void setIconSoon()
    {
        QTimer::singleShot(0, this, [this] {
            m_app.setWindowIcon(QIcon(m_iconPath));
            deleteLater();
        });
    }

private:
    QApplication &m_app;
    QString m_iconPath;
};

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

void setIconAfterFirstFrame(QApplication &app, QWidget &window, const QString &iconPath)
{
    auto *setter = new IconAfterExpose(app, iconPath);
    QWindow *shown = window.windowHandle();
    // Some platforms draw the first frame within show().
    if (shown && !shown->isExposed())
        shown->installEventFilter(setter);
    else
        setter->setIconSoon();
}
