#include "tmpfsmount.h"

#include <QFile>

#include <sys/mount.h>

TmpfsMount::TmpfsMount(const QString &directory, const char *options, bool readOnly)
    : m_directory(QFile::encodeName(directory))
{
    m_mounted =
        ::mount("tmpfs", m_directory.constData(), "tmpfs", readOnly ? MS_RDONLY : 0, options) == 0;
}

TmpfsMount::~TmpfsMount()
{
    if (m_mounted)
        ::umount2(m_directory.constData(), MNT_DETACH);
}
