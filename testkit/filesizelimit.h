#pragma once

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/resource.h>

#include <csignal>

// While alive, no file this process writes may grow past `bytes`: writes
// beyond it fail with EFBIG, as on a full disk, instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    static constexpr bool isSupported = true;

    explicit FileSizeLimit(qint64 bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(bytes), m_previous.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};
#else
// Windows has no per-process limit on file sizes.
class FileSizeLimit
{
public:
    static constexpr bool isSupported = false;
    explicit FileSizeLimit(qint64) { }
};
#endif
