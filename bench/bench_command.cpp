// Runs a command RUNS times and prints the median wall time in milliseconds
// and the largest peak resident memory in KiB:  bench_command RUNS CMD [ARGS...]
// What the command prints on standard output is thrown away.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

int main(int argc, char *argv[])
{
    if (argc < 3)
        return 64;
    const int runs = std::atoi(argv[1]);
    posix_spawn_file_actions_t discardOutput;
    posix_spawn_file_actions_init(&discardOutput);
    posix_spawn_file_actions_addopen(&discardOutput, 1, "/dev/null", O_WRONLY, 0);
    std::vector<double> times;
    long peakKiB = 0;
    for (int run = -1; run < runs; ++run) { // run -1 warms up and is not counted
        timespec start{}, end{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        pid_t pid = 0;
        if (posix_spawnp(&pid, argv[2], &discardOutput, nullptr, argv + 2, environ) != 0)
            return 1;
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        clock_gettime(CLOCK_MONOTONIC, &end);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return 1;
        if (run >= 0) {
            times.push_back((end.tv_sec - start.tv_sec) * 1e3
                            + (end.tv_nsec - start.tv_nsec) / 1e6);
            peakKiB = std::max(peakKiB, usage.ru_maxrss);
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("%.1f %ld\n", times[times.size() / 2], peakKiB);
    return 0;
}
