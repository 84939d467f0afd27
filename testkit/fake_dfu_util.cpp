// Stands in for dfu-util in tests. Prints the file named by FAKE_DFU_LISTING
// byte for byte, and the one named by FAKE_DFU_ERRORS to standard error, then
// exits with FAKE_DFU_EXIT (default 0); with FAKE_DFU_CRASH set it crashes
// instead. FAKE_DFU_SLEEP_MS makes it take its time first;
// FAKE_DFU_ERRORS_PAUSE_AT=N pauses after the first N bytes of standard error,
// as dfu-util does between the devices it tries.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

[[noreturn]] void crash()
{
#ifdef _WIN32
    // abort() only exits with code 3 there; a crash ends with an exception code.
    TerminateProcess(GetCurrentProcess(), EXCEPTION_ACCESS_VIOLATION);
#endif
    std::abort();
}

void copy(const char *path, std::FILE *out, long pauseAt = -1)
{
    std::FILE *in = path ? std::fopen(path, "rb") : nullptr;
    if (!in)
        return;
    char buffer[65536];
    long written = 0;
    for (;;) {
        const long room = pauseAt > written ? pauseAt - written : long(sizeof buffer);
        const size_t n = std::fread(buffer, 1, size_t(std::min(room, long(sizeof buffer))), in);
        if (n == 0)
            break;
        std::fwrite(buffer, 1, n, out);
        written += long(n);
        if (written == pauseAt) {
            std::fflush(out);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    }
    std::fclose(in);
}

} // namespace

int main()
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY); // no LF to CR LF translation
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    if (const char *sleep = std::getenv("FAKE_DFU_SLEEP_MS"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(sleep)));
    if (std::getenv("FAKE_DFU_CRASH"))
        crash();
    copy(std::getenv("FAKE_DFU_LISTING"), stdout);
    const char *pauseAt = std::getenv("FAKE_DFU_ERRORS_PAUSE_AT");
    copy(std::getenv("FAKE_DFU_ERRORS"), stderr, pauseAt ? std::atol(pauseAt) : -1);
    const char *exitCode = std::getenv("FAKE_DFU_EXIT");
    return exitCode ? std::atoi(exitCode) : 0;
}
