// Start-up from starting the process to its first painted frame: the tool
// (its own main(), built with firstpaint.cpp) against a bare QWidget of the
// same size, built with the same Qt and libraries. Both programs lie beside
// this one; it starts them in turn, RUNS times each after one warm-up, and
// prints "tool_ms bare_ms" medians.   bench_startup [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

namespace {

long long steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

#ifdef _WIN32
// The first line `program` writes to its standard output, and when it was started.
bool run(const std::string &program, std::string &output, long long &startedNs)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    std::string commandLine = '"' + program + '"';
    startedNs = steadyNs();
    const bool started = CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    char buffer[64] = {};
    DWORD got = 0;
    if (started) {
        ReadFile(readEnd, buffer, sizeof buffer - 1, &got, nullptr);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(readEnd);
    output.assign(buffer, got);
    return started && got > 0;
}
#else
bool run(const std::string &program, std::string &output, long long &startedNs)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    char *const args[] = {const_cast<char *>(program.c_str()), nullptr};
    pid_t pid = 0;
    startedNs = steadyNs();
    const bool started = posix_spawn(&pid, program.c_str(), &actions, nullptr, args, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    char buffer[64] = {};
    const ssize_t got = started ? read(pipeFds[0], buffer, sizeof buffer - 1) : -1;
    close(pipeFds[0]);
    if (started)
        waitpid(pid, nullptr, 0);
    output.assign(buffer, got > 0 ? size_t(got) : 0);
    return started && got > 0;
}
#endif

// Milliseconds from starting `program` to its first paint.
double measure(const std::string &program)
{
    std::string output;
    long long startedNs = 0;
    if (!run(program, output, startedNs)) {
        std::fprintf(stderr, "%s reported no first frame\n", program.c_str());
        std::exit(1);
    }
    return (std::stoll(output) - startedNs) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    const std::string self = argv[0];
    const std::string directory = self.substr(0, self.find_last_of("/\\") + 1);
#ifdef _WIN32
    const std::string suffix = ".exe";
#else
    const std::string suffix;
#endif
    const std::string toolProgram = directory + "bench_startup_tool" + suffix;
    const std::string bareProgram = directory + "bench_startup_bare" + suffix;

    std::vector<double> tool, bare;
    measure(toolProgram); // warms the file cache
    measure(bareProgram);
    for (int i = 0; i < runs; ++i) {
        tool.push_back(measure(toolProgram));
        bare.push_back(measure(bareProgram));
    }
    std::printf("%.1f %.1f\n", median(tool), median(bare));
    return 0;
}
