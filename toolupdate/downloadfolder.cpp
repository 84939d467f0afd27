#include "toolupdate/downloadfolder.h"

#include "integrity/sha256.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#include <sddl.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace DownloadFolder {

namespace {

const QString prefix = QStringLiteral("nv38k-update-");

void removeEntry(const QFileInfo &entry)
{
    if (entry.isSymLink() || entry.isJunction()) {
        // A link to a folder is itself removed as a folder, on Windows.
        if (!QFile::remove(entry.filePath()))
            QDir().rmdir(entry.filePath());
        return;
    }
    if (entry.isDir()) {
        const QFileInfoList children = QDir(entry.filePath())
                                           .entryInfoList(QDir::AllEntries | QDir::Hidden
                                                          | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo &child : children)
            removeEntry(child);
        QDir().rmdir(entry.filePath());
        return;
    }
    QFile::remove(entry.filePath());
}

#ifdef Q_OS_WIN
const wchar_t *nativePath(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

FileFailed lastError()
{
    return FileFailed{qt_error_string(int(GetLastError()))};
}

// An access list that gives this user, and no one else, full control, and
// takes nothing from the folder above: "D:P(A;OICI;FA;;;<the user's SID>)".
std::variant<QString, FileFailed> ownerOnlyDescriptor()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return lastError();
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    QByteArray user(int(size), '\0');
    const bool read = GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    wchar_t *sid = nullptr;
    if (!read
        || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid, &sid))
        return lastError();
    const QString descriptor =
        QStringLiteral("D:P(A;OICI;FA;;;%1)").arg(QString::fromWCharArray(sid));
    LocalFree(sid);
    return descriptor;
}

struct NameTaken
{
};

// The folder `path` made with `descriptor`'s access list, or why not.
std::variant<QString, NameTaken, FileFailed> makeOwnerOnly(const QString &path,
                                                           const QString &descriptor)
{
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(nativePath(descriptor),
                                                              SDDL_REVISION_1, &security, nullptr))
        return lastError();
    SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
    const bool made = CreateDirectoryW(nativePath(QDir::toNativeSeparators(path)), &attributes);
    const DWORD why = GetLastError();
    LocalFree(security);
    if (made)
        return path;
    if (why == ERROR_ALREADY_EXISTS)
        return NameTaken{};
    return FileFailed{qt_error_string(int(why))};
}
#endif

} // namespace

std::variant<QString, FileFailed> make()
{
#ifdef Q_OS_WIN
    const std::variant<QString, FileFailed> descriptor = ownerOnlyDescriptor();
    if (const auto *failed = std::get_if<FileFailed>(&descriptor))
        return *failed;
    // A name taken already, by chance or planted, is passed over: the folder
    // must be one this call made.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString path = QDir::temp().filePath(
            prefix + QString::number(QRandomGenerator::system()->generate64(), 36));
        const auto made = makeOwnerOnly(path, std::get<QString>(descriptor));
        if (const auto *folder = std::get_if<QString>(&made))
            return *folder;
        if (const auto *failed = std::get_if<FileFailed>(&made))
            return *failed;
    }
    return FileFailed{QStringLiteral("no free folder name")};
#else
    QTemporaryDir folder(QDir::temp().filePath(prefix + QStringLiteral("XXXXXX")));
    if (!folder.isValid())
        return FileFailed{folder.errorString()};
    folder.setAutoRemove(false);
    return folder.path();
#endif
}

void remove(const QString &path)
{
    removeEntry(QFileInfo(path));
}

void removeEarlier()
{
    const QFileInfoList earlier = QDir::temp().entryInfoList(
        {prefix + QLatin1Char('*')},
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &folder : earlier)
        removeEntry(folder);
}

HeldFile::HeldFile(const QString &path, qintptr handle)
    : m_path(path)
    , m_handle(handle)
{ }

HeldFile::~HeldFile()
{
    release();
}

void HeldFile::release()
{
    if (m_handle == -1)
        return;
#ifdef Q_OS_WIN
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));
#else
    ::close(int(m_handle));
#endif
    m_handle = -1;
}

std::optional<FileFailed> HeldFile::start(const QStringList &arguments)
{
    const QString folder = QFileInfo(m_path).absolutePath();
    QProcess program;
    program.setProgram(m_path);
    program.setArguments(arguments);
    program.setWorkingDirectory(folder);
    if (program.startDetached())
        return std::nullopt;
    release();
    remove(folder);
    return FileFailed{program.errorString()};
}

std::variant<std::unique_ptr<HeldFile>, FileFailed> HeldFile::hold(const QString &path)
{
#ifdef Q_OS_WIN
    // Others may read it, as starting it does, but not write, delete or rename it.
    const HANDLE handle =
        CreateFileW(nativePath(QDir::toNativeSeparators(path)), GENERIC_READ, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return lastError();
    return std::unique_ptr<HeldFile>(new HeldFile(path, reinterpret_cast<qintptr>(handle)));
#else
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0)
        return FileFailed{qt_error_string(errno)};
    return std::unique_ptr<HeldFile>(new HeldFile(path, descriptor));
#endif
}

std::variant<HeldFile::Contents, FileFailed> HeldFile::read()
{
    Sha256 hash;
    qint64 size = 0;
    char chunk[64 * 1024];
#ifdef Q_OS_WIN
    const auto handle = reinterpret_cast<HANDLE>(m_handle);
    if (!SetFilePointerEx(handle, LARGE_INTEGER{}, nullptr, FILE_BEGIN))
        return lastError();
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(handle, chunk, sizeof chunk, &read, nullptr))
            return lastError();
        if (read == 0)
            break;
        hash.addData(chunk, read);
        size += read;
    }
#else
    if (::lseek(int(m_handle), 0, SEEK_SET) != 0)
        return FileFailed{qt_error_string(errno)};
    ssize_t read;
    while ((read = ::read(int(m_handle), chunk, sizeof chunk)) > 0) {
        hash.addData(chunk, read);
        size += read;
    }
    if (read < 0)
        return FileFailed{qt_error_string(errno)};
#endif
    return Contents{size, hash.result()};
}

} // namespace DownloadFolder
