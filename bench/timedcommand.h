#pragma once

#include <vector>

// A command line as bench_command and bench_use time it:
//   [--fresh FILE] [--fsync FILE] CMD [ARGS...]
// --fresh removes FILE before each run, untimed, as bench_use removes the
// tool's earlier download: replacing an old file costs time of its own.
// --fsync also flushes FILE to the disk once the command has ended (what
// `sync FILE` does), timed.
struct TimedCommand
{
    const char *removedFile = nullptr;
    const char *syncedFile = nullptr;
    std::vector<char *> argv; // null-terminated

    // Takes the options and the command from `arg` on, up to "--vs" or the
    // end, and leaves `arg` there. False when there is no command.
    bool parse(char **&arg);
    // Runs the command once, its standard output thrown away; false unless
    // it exits with 0.
    bool run(double &ms, long &peakKiB) const;
};
