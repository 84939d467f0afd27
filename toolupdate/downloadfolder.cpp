#include "toolupdate/downloadfolder.h"

#include "integrity/sha256.h"
#include "preferences/updatepreferences.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#ifdef Q_OS_WIN
#include <aclapi.h>
#include <qt_windows.h>
#include <sddl.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#endif

namespace DownloadFolder {

namespace {

const QString prefix = QStringLiteral("nv38k-update-");

Failure failed(const QString &why)
{
    return {Failure::Kind::Failed, why};
}

#ifdef Q_OS_WIN
const wchar_t *nativePath(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

Failure lastError()
{
    return failed(qt_error_string(int(GetLastError())));
}

// What this process's token says of `what`, or why it says nothing.
Result<QByteArray> tokenInformation(TOKEN_INFORMATION_CLASS what)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return lastError();
    DWORD size = 0;
    GetTokenInformation(token, what, nullptr, 0, &size);
    QByteArray information(int(size), '\0');
    const bool read =
        GetTokenInformation(token, what, information.data(), size, &size) && !information.isEmpty();
    const DWORD why = GetLastError();
    CloseHandle(token);
    if (!read)
        return failed(qt_error_string(int(why)));
    return information;
}

// An access list that gives this user, and no one else, full control, and
// takes nothing from the folder above: "D:P(A;OICI;FA;;;<the user's SID>)".
Result<QString> ownerOnlyDescriptor()
{
    Result<QByteArray> user = tokenInformation(TokenUser);
    if (!user)
        return user.failure();
    wchar_t *sid = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(user->data())->User.Sid, &sid))
        return lastError();
    const QString descriptor =
        QStringLiteral("D:P(A;OICI;FA;;;%1)").arg(QString::fromWCharArray(sid));
    LocalFree(sid);
    return descriptor;
}

// The folder `path` made with `descriptor`'s access list, or why not:
// Refused when the name is taken already.
Result<QString> makeOwnerOnly(const QString &path, const QString &descriptor)
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
    return Failure{why == ERROR_ALREADY_EXISTS ? Failure::Kind::Refused : Failure::Kind::Failed,
                   qt_error_string(int(why))};
}

// Whether `owner` is this user, or the owner this process gives what it
// makes (an elevated administrator's folders belong to Administrators).
bool isThisUser(PSID owner)
{
    Result<QByteArray> user = tokenInformation(TokenUser);
    Result<QByteArray> makes = tokenInformation(TokenOwner);
    return (user && EqualSid(owner, reinterpret_cast<TOKEN_USER *>(user->data())->User.Sid))
           || (makes && EqualSid(owner, reinterpret_cast<TOKEN_OWNER *>(makes->data())->Owner));
}

// The folder `path` opened itself, not what a link or junction there leads
// to, and held without sharing deletion, so that it can be neither renamed
// nor replaced until closed; only if it is a folder this user owns.
HANDLE openOwnFolder(const QString &path)
{
    const HANDLE folder =
        CreateFileW(nativePath(QDir::toNativeSeparators(path)),
                    DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return folder;
    BY_HANDLE_FILE_INFORMATION information;
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    const bool own = GetFileInformationByHandle(folder, &information)
                     && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                     && !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                     && GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                        nullptr, nullptr, nullptr, &security)
                            == ERROR_SUCCESS
                     && isThisUser(owner);
    LocalFree(security);
    if (own)
        return folder;
    CloseHandle(folder);
    return INVALID_HANDLE_VALUE;
}

// Removes the folder `path` with what it holds, if it is this user's own;
// whether any of it stayed.
bool removeOwn(const QString &path)
{
    const HANDLE folder = openOwnFolder(path);
    if (folder == INVALID_HANDLE_VALUE)
        return false;
    // Listed through the handle held: listing by name would open the folder
    // again, which the handle's sharing refuses.
    alignas(8) char listing[16 * 1024];
    auto kind = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(folder, kind, listing, sizeof listing)) {
        kind = FileIdBothDirectoryInfo;
        for (const char *entry = listing;;) {
            const auto *found = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO *>(entry);
            const QString name = QString::fromWCharArray(
                found->FileName, int(found->FileNameLength / sizeof(wchar_t)));
            if (name != QLatin1String(".") && name != QLatin1String("..")) {
                const QString child = QDir::toNativeSeparators(path + QLatin1Char('/') + name);
                const DWORD attributes = found->FileAttributes;
                // A link or junction is removed itself, never entered.
                if ((attributes & FILE_ATTRIBUTE_DIRECTORY)
                    && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                    removeOwn(child);
                else if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveDirectoryW(nativePath(child));
                else
                    DeleteFileW(nativePath(child));
            }
            if (found->NextEntryOffset == 0)
                break;
            entry += found->NextEntryOffset;
        }
    }
    // The folder held, whatever its name leads to now.
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool removed =
        SetFileInformationByHandle(folder, FileDispositionInfo, &disposition, sizeof disposition);
    CloseHandle(folder);
    return !removed;
}

bool removeOwn(const QString &parent, const QString &name)
{
    return removeOwn(parent + QLatin1Char('/') + name);
}
#else

// Removes what the folder open as `folder` holds, each entry by its name in
// that folder: a folder, opened without following a link, is emptied the
// same way; anything else, a link included, is unlinked itself.
void empty(int folder)
{
    // fdopendir() takes over the descriptor it is given.
    const int listed = ::dup(folder);
    DIR *listing = listed < 0 ? nullptr : ::fdopendir(listed);
    if (!listing) {
        if (listed >= 0)
            ::close(listed);
        return;
    }
    std::vector<QByteArray> names;
    while (const dirent *entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(listing);
    for (const QByteArray &name : names) {
        const int child =
            ::openat(folder, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0) {
            ::unlinkat(folder, name.constData(), 0);
            continue;
        }
        empty(child);
        ::close(child);
        ::unlinkat(folder, name.constData(), AT_REMOVEDIR);
    }
}

// Removes the folder `name` in `parent` with what it holds, if it is a
// folder, not a link, that this user owns; whether any of it stayed.
bool removeOwn(const QString &parent, const QString &name)
{
    const int above =
        ::open(QFile::encodeName(parent).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (above < 0)
        return false;
    const QByteArray entry = QFile::encodeName(name);
    const int folder =
        ::openat(above, entry.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat held;
    bool stayed = false;
    if (folder >= 0 && ::fstat(folder, &held) == 0 && S_ISDIR(held.st_mode)
        && held.st_uid == ::geteuid()) {
        empty(folder);
        // Only the folder emptied, should its name lead elsewhere now.
        struct stat named;
        stayed = ::fstatat(above, entry.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
                 && named.st_dev == held.st_dev && named.st_ino == held.st_ino
                 && ::unlinkat(above, entry.constData(), AT_REMOVEDIR) != 0;
    }
    if (folder >= 0)
        ::close(folder);
    ::close(above);
    return stayed;
}
#endif

// Whether `name` is one make() gives, and no path.
bool isFolderName(const QString &name)
{
    return name.startsWith(prefix) && !name.contains(QLatin1Char('/'))
           && !name.contains(QLatin1Char('\\'));
}

// A new folder of make()'s, not yet noted.
Result<QString> makeFolder()
{
#ifdef Q_OS_WIN
    const Result<QString> descriptor = ownerOnlyDescriptor();
    if (!descriptor)
        return descriptor;
    // A name taken already, by chance or planted, is passed over: the folder
    // must be one this call made.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString path = QDir::temp().filePath(
            prefix + QString::number(QRandomGenerator::system()->generate64(), 36));
        const Result<QString> made = makeOwnerOnly(path, *descriptor);
        if (!made.failed(Failure::Kind::Refused))
            return made;
    }
    return failed(QStringLiteral("no free folder name"));
#else
    QTemporaryDir folder(QDir::temp().filePath(prefix + QStringLiteral("XXXXXX")));
    if (!folder.isValid())
        return failed(folder.errorString());
    folder.setAutoRemove(false);
    return folder.path();
#endif
}

} // namespace

Result<QString> make(UpdatePreferenceStore &store)
{
    const Result<QString> made = makeFolder();
    if (!made)
        return made;
    // A folder not kept would never be removed.
    if (!store.keepDownloadFolders(store.downloadFolders() << QFileInfo(*made).fileName())) {
        remove(*made);
        return failed(QStringLiteral("the folder could not be noted in the settings"));
    }
    return made;
}

void remove(const QString &path)
{
    const QFileInfo folder(path);
    removeOwn(folder.absolutePath(), folder.fileName());
}

void removeEarlier(UpdatePreferenceStore &store)
{
    QStringList stayed;
    for (const QString &name : store.downloadFolders()) {
        if (isFolderName(name) && removeOwn(QDir::tempPath(), name))
            stayed << name;
    }
    store.keepDownloadFolders(stayed);
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

Result<> startDetached(const QString &program, const QStringList &arguments, const QString &folder)
{
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(folder);
    if (process.startDetached())
        return {};
    return failed(process.errorString());
}

Result<> HeldFile::start(const QStringList &arguments, const Start &start)
{
    const QString folder = QFileInfo(m_path).absolutePath();
    const Result<> started = start(m_path, arguments, folder);
    if (started)
        return started;
    release();
    remove(folder);
    return started;
}

Result<std::unique_ptr<HeldFile>> HeldFile::hold(const QString &path)
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
        return failed(qt_error_string(errno));
    return std::unique_ptr<HeldFile>(new HeldFile(path, descriptor));
#endif
}

Result<HeldFile::Contents> HeldFile::read()
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
        return failed(qt_error_string(errno));
    ssize_t read;
    while ((read = ::read(int(m_handle), chunk, sizeof chunk)) > 0) {
        hash.addData(chunk, read);
        size += read;
    }
    if (read < 0)
        return failed(qt_error_string(errno));
#endif
    const Result<QByteArray> sha256 = hash.result();
    if (!sha256)
        return sha256.failure();
    return Contents{size, *sha256};
}

} // namespace DownloadFolder
