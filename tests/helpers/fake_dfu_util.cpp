// Stands in for dfu-util in tests. Prints the file named by FAKE_DFU_LISTING
// byte for byte, then exits with FAKE_DFU_EXIT (default 0); with FAKE_DFU_CRASH
// set it crashes instead. FAKE_DFU_SLEEP_MS makes it take its time first.
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

} // namespace

int main()
{
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY); // no LF to CR LF translation
#endif
    if (const char *sleep = std::getenv("FAKE_DFU_SLEEP_MS"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(sleep)));
    if (std::getenv("FAKE_DFU_CRASH"))
        crash();
    if (const char *path = std::getenv("FAKE_DFU_LISTING")) {
        if (std::FILE *listing = std::fopen(path, "rb")) {
            char buffer[65536];
            for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, listing)) > 0;)
                std::fwrite(buffer, 1, n, stdout);
            std::fclose(listing);
        }
    }
    const char *exitCode = std::getenv("FAKE_DFU_EXIT");
    return exitCode ? std::atoi(exitCode) : 0;
}
