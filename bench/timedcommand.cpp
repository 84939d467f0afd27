#include "timedcommand.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

bool TimedCommand::parse(char **&arg)
{
    for (;;) {
        const char **file = nullptr;
        if (*arg && std::strcmp(*arg, "--fresh") == 0)
            file = &removedFile;
        else if (*arg && std::strcmp(*arg, "--fsync") == 0)
            file = &syncedFile;
        else
            break;
        if (!arg[1])
            return false;
        *file = arg[1];
        arg += 2;
    }
    for (; *arg && std::strcmp(*arg, "--vs") != 0; ++arg)
        argv.push_back(*arg);
    argv.push_back(nullptr);
    return argv.size() > 1;
}

bool TimedCommand::run(double &ms, long &peakKiB) const
{
    static posix_spawn_file_actions_t discardOutput = [] {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        return actions;
    }();
    if (removedFile && unlink(removedFile) != 0 && errno != ENOENT)
        return false;
    timespec start{}, end{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &discardOutput, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    if (syncedFile) {
        const int fd = open(syncedFile, O_RDONLY);
        if (fd < 0 || fsync(fd) != 0)
            return false;
        close(fd);
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    ms = (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
    peakKiB = usage.ru_maxrss;
    return true;
}
