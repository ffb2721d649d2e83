#include "LibraryFile.h"

#include "AtomicWrite.h"
#include "NativePath.h"
#include "SystemError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype RecordSize = PoemRecord::RecordSize;

QString failure(const char *what, const QString &path, int errnum)
{
    return QStringLiteral("%1：%2（%3）")
        .arg(QString::fromUtf8(what), displayPath(path), reasonText(errnum));
}

// Reads the records of the file into Poems, creating the file empty when it is missing. They
// are taken from a small buffer, so that reading a large library touches little more memory
// than the library itself keeps.
std::optional<int> readRecords(const QString &path, std::vector<PoemRecord> &Poems)
{
    const QByteArray native = nativePath(path);
    int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            return errno;
        ::close(fd);
        return std::nullopt;
    }
    if (fd < 0)
        return errno;

    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        const int error = S_ISDIR(status.st_mode) ? EISDIR : errno;
        ::close(fd);
        return error;
    }
    Poems.reserve(size_t(status.st_size / RecordSize) + 2);
    std::vector<char> buffer(512 * RecordSize);
    qsizetype filled = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - size_t(filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (got == 0)
            break;
        filled += got;
        const qsizetype whole = filled / RecordSize * RecordSize;
        for (qsizetype at = 0; at < whole; at += RecordSize)
            Poems.push_back(PoemRecord::fromRecord({buffer.data() + at, RecordSize}));
        std::memmove(buffer.data(), buffer.data() + whole, size_t(filled - whole));
        filled -= whole;
    }
    ::close(fd);

    // The count is the length / 88 rounded half to even: a partial record at the end is a poem
    // when more than half of it is there, or exactly half after an odd number of records. Its
    // missing bytes read as spaces.
    const auto records = qsizetype(Poems.size()) - 1;
    if (filled > RecordSize / 2 || (filled == RecordSize / 2 && records % 2 == 1)) {
        std::fill(buffer.begin() + filled, buffer.begin() + RecordSize, ' ');
        Poems.push_back(PoemRecord::fromRecord({buffer.data(), RecordSize}));
    }
    return std::nullopt;
}

} // namespace

QString LibraryFile(const QString &applicationFolder)
{
    return applicationFolder + QStringLiteral("/Kavendo.dbf");
}

LoadedLibrary loadLibrary(const QString &path)
{
    LoadedLibrary result;
    if (const auto error = readRecords(path, result.Poems)) {
        result.Poems.resize(1);
        result.error = failure("无法打开诗词库", path, *error);
    }
    return result;
}

LibraryError rewriteLibrary(const QString &path, const std::vector<PoemRecord> &Poems)
{
    QByteArray contents;
    contents.reserve(qsizetype(Poems.size() - 1) * RecordSize);
    for (std::size_t n = 1; n < Poems.size(); ++n)
        contents.append(Poems[n].record());

    if (const auto error = writeFileAtomically(path, contents))
        return failure("无法保存诗词库", path, *error);
    return std::nullopt;
}
