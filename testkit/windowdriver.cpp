#include "testkit/windowdriver.h"

#include "server/logtext.h"
#include "testkit/waituntil.h"
#include "toolupdate/toolreleasecheck.h"
#include "window/widget.h"

#include <QDir>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <algorithm>

WindowDriver::WindowDriver()
    : m_startDirectory(QDir::currentPath())
{
    qRegisterMetaType<QNetworkReply *>(); // for signal spies on the managers
    if (!m_workDirectory.isValid() || !QDir::setCurrent(m_workDirectory.path()))
        return;
    // The owner's choices about tool updates start afresh with each driver,
    // in files of its own, not in the registry that all tests share.
    QSettings::setDefaultFormat(QSettings::IniFormat);
    // Qt on Unix looks the paths of both formats up as the native one's.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        for (const QSettings::Scope scope : {QSettings::UserScope, QSettings::SystemScope})
            QSettings::setPath(format, scope, m_workDirectory.filePath(QStringLiteral("settings")));
    }
    m_window = std::make_unique<Widget>();
    m_window->show();
    m_ready = QTest::qWaitForWindowExposed(m_window.get());
}

bool WindowDriver::restart()
{
    m_window = std::make_unique<Widget>();
    m_window->show();
    return QTest::qWaitForWindowExposed(m_window.get());
}

WindowDriver::~WindowDriver()
{
    m_window.reset();
    QDir::setCurrent(m_startDirectory);
}

QString WindowDriver::label(const char *name) const
{
    // As it reads on the screen: the labels take rich text where Qt sees it.
    const QString text = m_window->findChild<QLabel *>(QLatin1String(name))->text();
    if (!Qt::mightBeRichText(text))
        return text;
    QTextDocument shown;
    shown.setHtml(text);
    return shown.toPlainText();
}

QStringList WindowDriver::labels() const
{
    return {label("lblDeviceType"), label("lblFirmwareVersion"), label("lblFirmwareDesc")};
}

QNetworkAccessManager *WindowDriver::infoManager() const
{
    return m_window->findChild<QNetworkAccessManager *>(QLatin1String(WidgetObjects::infoManager),
                                                        Qt::FindDirectChildrenOnly);
}

QNetworkAccessManager *WindowDriver::firmwareManager() const
{
    return m_window->findChild<QNetworkAccessManager *>(
        QLatin1String(WidgetObjects::firmwareManager), Qt::FindDirectChildrenOnly);
}

QProcess *WindowDriver::listProcess() const
{
    return m_window->findChild<QProcess *>(QLatin1String(WidgetObjects::listProcess),
                                           Qt::FindDirectChildrenOnly);
}

void WindowDriver::click(const char *button)
{
    QTest::mouseClick(m_window->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
}

bool WindowDriver::fetchInformation(int clicks)
{
    // Connected after the window's own slot, so a count means "handled".
    QSignalSpy handled(infoManager(), &QNetworkAccessManager::finished);
    for (int i = 0; i < clicks; ++i)
        click("btnGetFirmWare");
    // The tool release statement is asked for after accepted information.
    return waitUntil([&] {
        return handled.count() == clicks && m_window->findChildren<ToolReleaseCheck *>().isEmpty();
    });
}

bool WindowDriver::checkDevice(bool expectDownload)
{
    QSignalSpy finished(listProcess(), qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
    QSignalSpy failed(listProcess(), &QProcess::errorOccurred);
    QSignalSpy downloaded(firmwareManager(), &QNetworkAccessManager::finished);
    click("btnUpdate");
    const bool ended = waitUntil([&] {
        const bool failedToStart =
            !failed.isEmpty()
            && failed.first().first().value<QProcess::ProcessError>() == QProcess::FailedToStart;
        return !finished.isEmpty() || failedToStart;
    });
    if (!ended || !expectDownload)
        return ended;
    // Until the firmware's reply, and what it asked for after it, were handled.
    return waitUntil([&] {
        const QList<QNetworkReply *> replies = firmwareManager()->findChildren<QNetworkReply *>();
        return !downloaded.isEmpty()
               && std::all_of(replies.begin(), replies.end(),
                              [](const QNetworkReply *reply) { return reply->isFinished(); });
    });
}

QString WindowDriver::utilityPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("bin/x64/dfu-util-static.exe");
#else
    return QStringLiteral("bin/x64/dfu-util-static");
#endif
}

bool WindowDriver::installUtility(const QString &program)
{
    return QDir().mkpath(QStringLiteral("bin/x64"))
           && (program.isEmpty() || QFile::copy(program, utilityPath()));
}

QStringList WindowDriver::boxes() const
{
    static const QHash<QMessageBox::Icon, const char *> kinds = {
        {QMessageBox::Information, "information"},
        {QMessageBox::Warning, "warning"},
        {QMessageBox::Critical, "critical"}};
    QStringList result;
    for (const CaughtBox &caught : m_boxes.boxes()) {
        const char *parent = caught.parent == m_window.get() ? "window"
                             : caught.parent                 ? "other"
                                                             : "none";
        QString described = QStringList{QLatin1String(kinds.value(caught.icon, "other")),
                                        caught.title, caught.text, QLatin1String(parent)}
                                .join(QLatin1Char('|'));
        // A box may carry a server's words, which must never act as markup.
        if (caught.textFormat != Qt::PlainText)
            described += QStringLiteral(" (may show markup)");
        const bool plain = caught.buttons == QMessageBox::Ok;
        if (!caught.buttonTexts.isEmpty())
            result.append(
                described
                + QStringLiteral(" [%1; %2]")
                      .arg(caught.buttonTexts.join(QLatin1Char('/')), caught.checkBoxText));
        else
            result.append(plain ? described : described + QStringLiteral(" (not a plain OK box)"));
    }
    return result;
}

bool WindowDriver::repliesReleased() const
{
    return QTest::qWaitFor([this] {
        return infoManager()->findChildren<QNetworkReply *>().isEmpty()
               && firmwareManager()->findChildren<QNetworkReply *>().isEmpty();
    });
}

QString box(const char *kind, const QString &title, const QString &text, const char *parent)
{
    return QStringList{QLatin1String(kind), title, text, QLatin1String(parent)}.join(
        QLatin1Char('|'));
}

QString box(const WindowBox &shown)
{
    const char *kind = shown.kind == WindowBox::Kind::Information ? "information"
                       : shown.kind == WindowBox::Kind::Warning   ? "warning"
                                                                  : "critical";
    return box(kind, shown.title, shown.text, shown.parented ? "window" : "none");
}

QString box(const UpdateBox &offer)
{
    // As QMessageBox lists them: by role, accept, reject, then action.
    QStringList buttons{offer.installButton, offer.dismissButton, offer.detailsButton};
    buttons.removeAll(QString());
    return box(offer.box)
           + QStringLiteral(" [%1; %2]")
                 .arg(buttons.join(QLatin1Char('/')), offer.stopCheckingText);
}

QString successBox()
{
    return box(UserTexts::firmwareStored());
}

QString logLine(const QString &text)
{
    return QStringLiteral("default: ") + text;
}

QString quotedLogLine(const QString &text)
{
    return logLine(quotedForLog(text));
}
