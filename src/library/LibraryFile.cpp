#include "LibraryFile.h"

#include "AtomicWrite.h"
#include "SystemError.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype RecordSize = PoemRecord::RecordSize;

QString failure(const char *what, const QString &path, int errnum)
{
    return QStringLiteral("%1：%2（%3）")
        .arg(QString::fromUtf8(what), QDir::toNativeSeparators(path), reasonText(errnum));
}

// Reads the whole file, creating it empty when it is missing.
std::optional<int> readOrCreate(const QString &path, QByteArray &contents)
{
    const QByteArray native = QFile::encodeName(path);
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
    contents.resize(status.st_size);
    qsizetype done = 0;
    for (;;) {
        if (done == contents.size())
            contents.resize(done + 64 * 1024); // the file grew while we read it
        const ssize_t got = ::read(fd, contents.data() + done, size_t(contents.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return error;
        }
        if (got == 0)
            break;
        done += got;
    }
    contents.truncate(done);
    ::close(fd);
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
    QByteArray contents;
    if (const auto error = readOrCreate(path, contents)) {
        result.error = failure("无法打开诗词库", path, *error);
        return result;
    }

    const auto count = static_cast<qsizetype>(std::nearbyint(double(contents.size()) / RecordSize));
    // The missing bytes of a counted partial record read as spaces.
    contents.append(count * RecordSize - std::min(contents.size(), count * RecordSize), ' ');

    result.Poems.reserve(size_t(count) + 1);
    for (qsizetype n = 1; n <= count; ++n)
        result.Poems.push_back(PoemRecord::fromRecord(
            QByteArrayView(contents).sliced((n - 1) * RecordSize, RecordSize)));
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
