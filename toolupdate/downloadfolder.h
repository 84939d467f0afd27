#pragma once

#include "result/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class UpdatePreferenceStore;

// Where a downloaded installer waits for its start, and what holds it there.
namespace DownloadFolder {

// Starts `program` with `arguments` in `folder`, on its own; why not, when
// it did not start.
using Start = std::function<Result<>(const QString &program, const QStringList &arguments,
                                     const QString &folder)>;
// The system's way: a detached process.
Result<> startDetached(const QString &program, const QStringList &arguments, const QString &folder);

// A new folder in the user's temporary folder, "nv38k-update-" and a random
// name, that only this user may open: on Windows with an access list of its
// own for this user alone (not inherited from %TEMP%, which other users may
// write where TMP is C:\Temp), elsewhere with mode 0700. Its name is kept in
// `store` for removeEarlier(). Its path, or why there is none.
Result<QString> make(UpdatePreferenceStore &store);

// Removes the folder `path` and what it holds, if it is a folder this user
// owns, not a link or a junction; never follows one, at any depth: a link
// is removed, not what it leads to.
void remove(const QString &path);

// Removes, as remove() does, the folders that make() kept in `store`: the
// installers of earlier updates, which run from there. Nothing else in the
// temporary folder, which other users may write, is looked at. Names whose
// folder is gone, or was not this user's, are forgotten.
void removeEarlier(UpdatePreferenceStore &store);

// The installer, open for reading from before it is hashed until after it
// has started: while held, no one can open it for writing, nor delete or
// rename it (on Windows; elsewhere the folder's mode keeps others out).
class HeldFile
{
public:
    ~HeldFile();
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    // The file at `path`, held, or why it cannot be.
    static Result<std::unique_ptr<HeldFile>> hold(const QString &path);

    const QString &path() const { return m_path; }
    // The size and SHA-256 of what the held file holds, read through its
    // handle, or why it cannot be read.
    struct Contents
    {
        qint64 size;
        QByteArray sha256;
    };
    Result<Contents> read();

    // Starts the held file with `arguments` through `start`, in its folder,
    // which no one else can write; when it does not start, lets go of it,
    // removes the folder and says why.
    Result<> start(const QStringList &arguments, const Start &start);

private:
    HeldFile(const QString &path, qintptr handle);
    void release();

    QString m_path;
    qintptr m_handle;
};

} // namespace DownloadFolder
