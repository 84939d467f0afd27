#pragma once

#include "testkit/fixtures.h"
#include "testkit/logcapture.h"
#include "testkit/messageboxcatcher.h"
#include "usertexts/usertexts.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class QNetworkAccessManager;
class Widget;

// Drives the real window as a user would, from a scratch working directory:
// clicks its buttons, waits for the answers, reads its labels and every
// message box it showed, and collects its log.
class WindowDriver
{
public:
    WindowDriver();
    ~WindowDriver();
    WindowDriver(const WindowDriver &) = delete;
    WindowDriver &operator=(const WindowDriver &) = delete;

    bool isReady() const { return m_ready; }
    // Closes the window and starts another, as the owner starting the tool again.
    bool restart();
    // Leaves later boxes as answerWith() of MessageBoxCatcher says.
    void answerBoxesWith(const QString &button, bool tickCheckBox)
    {
        m_boxes.answerWith(button, tickCheckBox);
    }
    Widget &window() { return *m_window; }
    QString label(const char *name) const;
    QStringList labels() const; // model, version, notes, as they read
    QStringList log(QtMsgType type = QtDebugMsg) const { return m_log.lines(type); }

    // The window's helpers, found by the names it gives them (WidgetObjects).
    QNetworkAccessManager *infoManager() const;
    QNetworkAccessManager *firmwareManager() const;
    QProcess *listProcess() const;

    void click(const char *button);
    // Clicks "获取固件信息" `clicks` times and waits until every answer was handled.
    bool fetchInformation(int clicks = 1);
    // Clicks "下载固件" and waits until the listing was judged and, when one
    // is expected, the firmware reply was handled.
    bool checkDevice(bool expectDownload);

    // Where the window finds dfu-util, named as this system names programs.
    static QString utilityPath();
    // Puts `program` (or, when empty, nothing) at utilityPath().
    bool installUtility(const QString &program);

    // The boxes shown so far as "kind|title|text|parent", parent being
    // "window", "none" or "other"; see box(). A box of buttons of its own
    // adds " [button/button; checkbox]".
    QStringList boxes() const;
    bool repliesReleased() const;

private:
    QString m_startDirectory;
    QTemporaryDir m_workDirectory;
    LogCapture m_log;
    MessageBoxCatcher m_boxes;
    std::unique_ptr<Widget> m_window;
    bool m_ready = false;
};

// A message box as WindowDriver::boxes() describes it, and one that decisions/
// hands the window, as it will be described once shown.
QString box(const char *kind, const QString &title, const QString &text,
            const char *parent = "window");
QString box(const WindowBox &shown);
QString box(const UpdateBox &offer);
// The box that reports a stored firmware.
QString successBox();

// A line of the window's log as the driver collects it, and such a line
// holding a string quoted as the log quotes it.
QString logLine(const QString &text);
QString quotedLogLine(const QString &text);
