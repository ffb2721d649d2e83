#include "AtomicWrite.h"

#include "NativePath.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

// A replaced file keeps its permissions; a new one gets the usual ones.
mode_t modeFor(const QByteArray &target)
{
    struct stat status
    {
    };
    if (::stat(target.constData(), &status) == 0 && S_ISREG(status.st_mode))
        return status.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
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

} // namespace

std::optional<int> writeFileAtomically(const QString &path, QByteArrayView bytes,
                                       ExistingFile existing)
{
    const QByteArray target = nativePath(path);
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : target.left(qMax(slash, 1));
    QByteArray temporary =
        target.left(slash + 1) + '.' + target.sliced(slash + 1) + QByteArray(".XXXXXX");
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return errno;

    int error = 0;
    if (::fchmod(fd, modeFor(target)) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && existing == ExistingFile::Keep)
        error = renameUnlessExists(temporary, target);
    else if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return error;
    }
    syncFolder(folder);
    return std::nullopt;
}
