#include "testkit/tmpfsmount.h"

#include <QFile>

#ifdef Q_OS_LINUX
#include <sys/mount.h>
#endif

TmpfsMount::TmpfsMount(const QString &directory, const char *options, bool readOnly)
    : m_directory(QFile::encodeName(directory))
{
#ifdef Q_OS_LINUX
    m_mounted =
        ::mount("tmpfs", m_directory.constData(), "tmpfs", readOnly ? MS_RDONLY : 0, options) == 0;
#else
    Q_UNUSED(options)
    Q_UNUSED(readOnly)
#endif
}

TmpfsMount::~TmpfsMount()
{
#ifdef Q_OS_LINUX
    if (m_mounted)
        ::umount2(m_directory.constData(), MNT_DETACH);
#endif
}
