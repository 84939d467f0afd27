// Start-up from exec to the first painted frame, the tool's window against a
// bare QWidget of the same size built with the same Qt.
//
//   bench_startup RUNS         runs both RUNS times, interleaved, and prints
//                              "tool_ms bare_ms" medians
//   bench_startup --child tool|bare   (internal) shows the window and prints
//                              the monotonic time of its first paint event
#include "window/widget.h"

#include <QApplication>
#include <QEvent>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

long long monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

class FirstPaint : public QObject
{
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            std::printf("%lld\n", monotonicNs());
            std::fflush(stdout);
            std::_Exit(0); // what comes after the first frame is not measured
        }
        return false;
    }
};

int child(int argc, char *argv[], bool tool)
{
    QApplication app(argc, argv);
    std::unique_ptr<QWidget> window;
    if (tool) {
        window = std::make_unique<Widget>();
    } else {
        window = std::make_unique<QWidget>();
        window->setFixedSize(314, 232);
    }
    FirstPaint filter;
    window->installEventFilter(&filter);
    window->show();
    return app.exec();
}

// Milliseconds from spawning `self --child mode` to its first paint.
double measure(const char *self, const char *mode)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    char *const args[] = {const_cast<char *>(self), const_cast<char *>("--child"),
                          const_cast<char *>(mode), nullptr};
    pid_t pid = 0;
    const long long start = monotonicNs();
    const int spawned = posix_spawn(&pid, self, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    char buffer[64] = {};
    const ssize_t got = spawned == 0 ? read(pipeFds[0], buffer, sizeof buffer - 1) : -1;
    close(pipeFds[0]);
    if (spawned == 0)
        waitpid(pid, nullptr, 0);
    return got > 0 ? (std::stoll(buffer) - start) / 1e6 : -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--child") == 0)
        return child(argc, argv, std::strcmp(argv[2], "tool") == 0);

    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    std::vector<double> tool, bare;
    measure(argv[0], "tool"); // warm the page cache
    measure(argv[0], "bare");
    for (int i = 0; i < runs; ++i) {
        tool.push_back(measure(argv[0], "tool"));
        bare.push_back(measure(argv[0], "bare"));
    }
    std::printf("%.1f %.1f\n", median(tool), median(bare));
    return 0;
}
