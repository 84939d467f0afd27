// Runs a command RUNS times and prints the median wall time in milliseconds
// and the largest peak resident memory in KiB:
//   bench_command RUNS COMMAND [--vs COMMAND]
// COMMAND is [--fresh FILE] [--fsync FILE] CMD [ARGS...] (see timedcommand.h).
// With --vs, the two commands run in turn, so that both see the machine's
// load alike, and the line holds both: "ms KiB ms KiB".
#include "timedcommand.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

struct Measured
{
    TimedCommand command;
    std::vector<double> times;
    long peakKiB = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3)
        return 64;
    const int runs = std::atoi(argv[1]);
    char **arg = argv + 2;
    std::vector<Measured> all(1);
    if (!all[0].command.parse(arg))
        return 64;
    if (*arg) {
        ++arg; // "--vs"
        all.emplace_back();
        if (!all[1].command.parse(arg))
            return 64;
    }
    for (int run = -1; run < runs; ++run) { // run -1 warms up and is not counted
        for (Measured &measured : all) {
            double ms = 0;
            long peakKiB = 0;
            if (!measured.command.run(ms, peakKiB))
                return 1;
            if (run >= 0) {
                measured.times.push_back(ms);
                measured.peakKiB = std::max(measured.peakKiB, peakKiB);
            }
        }
    }
    for (const Measured &measured : all)
        std::printf("%s%.1f %ld", &measured == &all[0] ? "" : " ", median(measured.times),
                    measured.peakKiB);
    std::printf("\n");
    return 0;
}
