#include "window/applicationsetup.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QLibraryInfo>
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

bool loadQtTranslation(QTranslator &translator)
{
    const QString name = QStringLiteral("qtbase_zh_CN");
    // Built into the Windows program, where Qt's own folders are those of
    // the machine it was built on.
    if (translator.load(name, QStringLiteral(":/translations")))
        return true;
#ifdef Q_OS_WIN
    return false;
#else
    // Debian's qttranslations5-l10n.
    return translator.load(name, QLibraryInfo::location(QLibraryInfo::TranslationsPath));
#endif
}

} // namespace

void prepareApplication(QApplication &app)
{
#ifdef NV38K_EMBEDDED_QT_TRANSLATION
    // A static library's resources are registered by name.
    Q_INIT_RESOURCE(qttranslation);
#endif
    QAccessible::installFactory(windowInterface);
    auto *translator = new QTranslator(&app);
    if (loadQtTranslation(*translator))
        QApplication::installTranslator(translator);
}
