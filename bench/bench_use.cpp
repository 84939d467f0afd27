// The tool's two round trips, measured inside the real window against a real
// server (run it in a working directory with bin/x64/dfu-util-static):
//
//   bench_use information RUNS   click "获取固件信息" until the labels are filled
//   bench_use download RUNS SIZE click "下载固件" until the success box shows;
//                                also the peak memory above the idle window
//
// Each run uses a fresh window, so every request makes its own TLS handshake.
// Prints medians in milliseconds (and the largest peak in KiB). With
// "--vs COMMAND" at the end (see timedcommand.h), COMMAND runs after each of
// the window's runs, so that both see the machine's load alike, and its
// median and largest peak follow on the line.
#include "testkit/waituntil.h"
#include "timedcommand.h"
#include "window/widget.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

double nowMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Notes when a message box appears and closes it at once.
class BoxWatcher : public QObject
{
public:
    double shownAt = -1;
    QString title;

    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            if (auto *box = qobject_cast<QMessageBox *>(object)) {
                shownAt = nowMs();
                title = box->windowTitle();
                QMetaObject::invokeMethod(box, "accept", Qt::QueuedConnection);
            }
        return false;
    }
};

long statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Starts a new peak: from here on VmHWM counts from the current size.
void resetPeakMemory()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

QPushButton *button(Widget &window, const char *name)
{
    return window.findChild<QPushButton *>(QLatin1String(name));
}

// One fresh window whose information request has been answered.
struct Session
{
    Widget window;
    int informationReplies = 0;
    double informedAt = -1;

    Session()
    {
        window.show();
        auto *manager = window.findChild<QNetworkAccessManager *>(
            QLatin1String(WidgetObjects::infoManager), Qt::FindDirectChildrenOnly);
        QObject::connect(manager, &QNetworkAccessManager::finished, [this] {
            ++informationReplies;
            informedAt = nowMs();
        });
    }

    bool fetchInformation()
    {
        button(window, "btnGetFirmWare")->click();
        return waitUntil([this] { return informationReplies == 1; });
    }
};

} // namespace

int main(int argc, char *argv[])
{
    TimedCommand reference;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--vs") == 0) {
            char **arg = argv + i + 1;
            if (!reference.parse(arg))
                return 64;
            argc = i; // Qt sees only the window's own arguments
            break;
        }
    }
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const QString mode = arguments.value(1);
    const int runs = arguments.value(2).toInt();
    BoxWatcher boxes;
    app.installEventFilter(&boxes);

    std::vector<double> times;
    long largestPeakKiB = 0;
    std::vector<double> referenceTimes;
    long referencePeakKiB = 0;
    for (int run = -1; run < runs; ++run) { // run -1 warms up and is not counted
        if (!reference.argv.empty()) {
            double ms = 0;
            long peakKiB = 0;
            if (!reference.run(ms, peakKiB))
                return 1;
            if (run >= 0) {
                referenceTimes.push_back(ms);
                referencePeakKiB = std::max(referencePeakKiB, peakKiB);
            }
        }
        Session session;
        if (mode == QLatin1String("information")) {
            const double start = nowMs();
            if (!session.fetchInformation() || boxes.shownAt >= 0)
                return 1;
            if (run >= 0)
                times.push_back(session.informedAt - start);
        } else {
            if (!session.fetchInformation())
                return 1;
            QFile::remove(QStringLiteral("tmp/Data.nv"));
            boxes.shownAt = -1;
            resetPeakMemory();
            const long idleKiB = statusKiB("VmRSS:");
            const double start = nowMs();
            button(session.window, "btnUpdate")->click();
            if (!waitUntil([&] { return boxes.shownAt >= 0; })
                || boxes.title != QStringLiteral("成功")
                || QFile(QStringLiteral("tmp/Data.nv")).size() != arguments.value(3).toLongLong())
                return 1;
            if (run >= 0) {
                times.push_back(boxes.shownAt - start);
                largestPeakKiB = std::max(largestPeakKiB, statusKiB("VmHWM:") - idleKiB);
            }
        }
    }
    std::printf("%.1f", median(times));
    if (mode != QLatin1String("information"))
        std::printf(" %ld", largestPeakKiB);
    if (!referenceTimes.empty())
        std::printf(" %.1f %ld", median(referenceTimes), referencePeakKiB);
    std::printf("\n");
    return 0;
}
