#pragma once

#include <QString>

// A small tmpfs mounted over a directory while alive, to make a full or a
// read-only disk for real. Needs Linux and root (or CAP_SYS_ADMIN); see
// isMounted().
class TmpfsMount
{
public:
    TmpfsMount(const QString &directory, const char *options, bool readOnly = false);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool isMounted() const { return m_mounted; }

private:
    QByteArray m_directory;
    bool m_mounted = false;
};
