#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <QtGlobal>

#include <functional>
#include <optional>

struct stat;

// What becomes of a file that already has the name.
enum class ExistingFile { Replace, Keep };

// Gives the file at path exactly these bytes, or leaves it as it was: the bytes go to a new file
// in the same folder, reach the disk, and only then take the file's name. Where the file system
// allows, the new file has no name until it is complete, so a write killed midway leaves nothing
// behind. A file that is replaced and is a symbolic link is followed: the file it leads to is
// replaced, in that file's own folder, and the link stays a link; one marked read-only is not
// replaced (EACCES). Returns the system's error number when it could not be done (EEXIST for a
// file that is kept); written, when given, receives the status of the new file.
std::optional<int> writeFileAtomically(const QString &path, QByteArrayView bytes,
                                       ExistingFile existing = ExistingFile::Replace,
                                       struct stat *written = nullptr);

// Holds an advisory lock on the folder in which writeFileAtomically replaces path (the folder of
// the file a link leads to), from its construction to its destruction. The folder is locked, not
// the file: a rename puts a new file in place of the locked one, and a lock file would be one
// more file in the folder. Where the file system has no locks, nothing is locked.
class FolderLock final
{
    Q_DISABLE_COPY_MOVE(FolderLock)

public:
    explicit FolderLock(const QString &path);
    ~FolderLock();

private:
    int m_fd = -1;
};

// Whether the file at path may not be replaced: its owner marked it read-only, or this user may
// not write it. Root, whom the system lets write any file, respects the owner's mark too.
bool isReadOnlyFile(const QString &path);

// Removes from folder what writes that were killed midway left there: hidden files named as
// writeFileAtomically names its new files, for a file whose name isOwnName accepts, unchanged
// for over a minute (a write in progress changes its file all the time).
void removeAbandonedWrites(const QString &folder,
                           const std::function<bool(QStringView name)> &isOwnName);
