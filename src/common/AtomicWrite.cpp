#include "AtomicWrite.h"

#include "NativePath.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A new file is named "." + the file's name + "." + six letters or digits, as mkstemp names it.
constexpr qsizetype TagLength = 6;
constexpr time_t AbandonedAfterSeconds = 60;

bool isTagCharacter(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

QByteArray folderOf(const QByteArray &file)
{
    const qsizetype slash = file.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : file.left(qMax(slash, 1));
}

QByteArray temporaryName(const QByteArray &target, const QByteArray &tag)
{
    const qsizetype slash = target.lastIndexOf('/');
    return target.left(slash + 1) + '.' + target.sliced(slash + 1) + '.' + tag;
}

QByteArray randomTag()
{
    static constexpr char Characters[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    QByteArray tag(TagLength, '\0');
    for (char &c : tag)
        c = Characters[QRandomGenerator::global()->bounded(int(sizeof Characters) - 1)];
    return tag;
}

bool writeAll(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        bytes = bytes.sliced(written);
    }
    return true;
}

// What a new file takes over from the file it replaces: its permissions, its owner and its
// group. A new file gets the usual permissions.
struct Inherited
{
    mode_t mode = 0;
    uid_t owner = uid_t(-1);
    gid_t group = gid_t(-1);
};

Inherited inheritedFrom(const QByteArray &target)
{
    struct stat status
    {
    };
    if (::stat(target.constData(), &status) == 0 && S_ISREG(status.st_mode))
        return {mode_t(status.st_mode & 07777), status.st_uid, status.st_gid};
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return {mode_t(0666 & ~mask)};
}

bool isReadOnly(const QByteArray &file)
{
    struct stat status
    {
    };
    if (::stat(file.constData(), &status) != 0)
        return false; // a missing file is created
    if ((status.st_mode & S_IWUSR) == 0)
        return true;
    // On a read-only disk the write itself fails and says so.
    return ::faccessat(AT_FDCWD, file.constData(), W_OK, AT_EACCESS) != 0 && errno != EROFS;
}

void syncFolder(const QByteArray &folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Gives the temporary file its name without ever taking that name from another file. A file
// system that cannot rename so (some network ones) can still make a second link.
int renameUnlessExists(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL)
        return errno;
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

// The file that a write to path replaces: path itself, or the file its links lead to.
std::optional<QByteArray> replacedFile(const QString &path, int &error)
{
    const QByteArray file = nativePath(path);
    struct stat status
    {
    };
    if (::lstat(file.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
        return file;
    char *resolved = ::realpath(file.constData(), nullptr);
    if (!resolved) {
        error = errno;
        return std::nullopt;
    }
    const QByteArray target(resolved);
    std::free(resolved);
    return target;
}

// Fills fd with bytes, gives it what it inherits, puts it on the disk and tells its status.
int fill(int fd, QByteArrayView bytes, const Inherited &inherited, struct stat *written)
{
    // Only root may give a file to another user (root rewriting a child's library must leave it
    // the child's); anyone else may at least keep its group.
    if (inherited.owner != uid_t(-1) && ::fchown(fd, inherited.owner, inherited.group) != 0) {
        [[maybe_unused]] const int groupKept = ::fchown(fd, uid_t(-1), inherited.group);
    }
    if (::fchmod(fd, inherited.mode) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0 ||
        (written && ::fstat(fd, written) != 0))
        return errno;
    return 0;
}

// Gives the complete unnamed file fd a temporary name beside target. A name cannot be linked
// over an existing one, so the file takes the target's name by a rename afterwards. ENOENT when
// the system offers no way to name it (no /proc, and no right to link by descriptor).
int nameUnnamed(int fd, const QByteArray &target, QByteArray &temporary)
{
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporaryName(target, randomTag());
        if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, temporary.constData(),
                     AT_SYMLINK_FOLLOW) == 0 ||
            (errno == ENOENT &&
             ::linkat(fd, "", AT_FDCWD, temporary.constData(), AT_EMPTY_PATH) == 0))
            return 0;
        if (errno != EEXIST)
            break;
    }
    const int error = errno;
    temporary.clear();
    return error;
}

// Writes the new contents to a file of their own beside target and names it temporary; an
// unnamed file where the file system offers one. Returns an error number.
int writeNewFile(const QByteArray &target, QByteArrayView bytes, struct stat *written,
                 QByteArray &temporary)
{
    const Inherited inherited = inheritedFrom(target);
    const int unnamed =
        ::open(folderOf(target).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, inherited.mode);
    if (unnamed >= 0) {
        int error = fill(unnamed, bytes, inherited, written);
        if (error == 0)
            error = nameUnnamed(unnamed, target, temporary);
        ::close(unnamed);
        if (error != ENOENT)
            return error;
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return errno;
    }

    temporary = temporaryName(target, QByteArray(TagLength, 'X'));
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        temporary.clear();
        return errno;
    }
    int error = fill(fd, bytes, inherited, written);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

} // namespace

std::optional<int> writeFileAtomically(const QString &path, QByteArrayView bytes,
                                       ExistingFile existing, struct stat *written)
{
    int error = 0;
    const bool replace = existing == ExistingFile::Replace;
    const std::optional<QByteArray> target = replace ? replacedFile(path, error) : nativePath(path);
    if (!target)
        return error;
    if (replace && isReadOnly(*target))
        return EACCES;

    QByteArray temporary;
    error = writeNewFile(*target, bytes, written, temporary);
    if (error == 0 && !replace)
        error = renameUnlessExists(temporary, *target);
    else if (error == 0 && ::rename(temporary.constData(), target->constData()) != 0)
        error = errno;
    if (error != 0) {
        if (!temporary.isEmpty())
            ::unlink(temporary.constData());
        return error;
    }
    syncFolder(folderOf(*target));
    return std::nullopt;
}

FolderLock::FolderLock(const QString &path)
{
    int error = 0;
    const QByteArray file = replacedFile(path, error).value_or(nativePath(path));
    m_fd = ::open(folderOf(file).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

FolderLock::~FolderLock()
{
    if (m_fd >= 0)
        ::close(m_fd); // and with it the lock
}

bool isReadOnlyFile(const QString &path)
{
    return isReadOnly(nativePath(path));
}

void removeAbandonedWrites(const QString &folder,
                           const std::function<bool(QStringView name)> &isOwnName)
{
    DIR *entries = ::opendir(nativePath(folder).constData());
    if (!entries)
        return;
    const time_t abandoned = std::time(nullptr) - AbandonedAfterSeconds;
    while (const dirent *entry = ::readdir(entries)) {
        const QByteArrayView name(entry->d_name);
        const qsizetype baseLength = name.size() - 2 - TagLength;
        if (baseLength < 1 || name[0] != '.' || name[baseLength + 1] != '.' ||
            !std::all_of(name.end() - TagLength, name.end(), isTagCharacter) ||
            !isOwnName(pathFromNative(name.sliced(1, baseLength))))
            continue;
        struct stat status
        {
        };
        if (::fstatat(::dirfd(entries), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_mtime < abandoned)
            ::unlinkat(::dirfd(entries), entry->d_name, 0);
    }
    ::closedir(entries);
}
