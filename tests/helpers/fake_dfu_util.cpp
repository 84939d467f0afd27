// Stands in for dfu-util in tests. Prints the file named by FAKE_DFU_LISTING
// byte for byte, then exits with FAKE_DFU_EXIT (default 0); with FAKE_DFU_CRASH
// set it aborts instead. FAKE_DFU_SLEEP_MS makes it take its time first.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main()
{
    if (const char *sleep = std::getenv("FAKE_DFU_SLEEP_MS"))
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(sleep)));
    if (std::getenv("FAKE_DFU_CRASH"))
        std::abort();
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
