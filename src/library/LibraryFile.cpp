#include "LibraryFile.h"

#include "AtomicWrite.h"
#include "Cp936Codec.h"
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

constexpr qsizetype RecordSize = 88;
constexpr qsizetype TitleBytes = 24;
constexpr qsizetype LineBytes = 16;
static_assert(TitleBytes + PoemRecord::LineCount * LineBytes == RecordSize);

bool isLeadByte(char byte)
{
    const auto value = static_cast<unsigned char>(byte);
    return value >= 0x81 && value <= 0xFE;
}

// The field's text in code page 936, cut to its width in bytes. A two-byte character that the
// cut would split is replaced by a space, so the file only ever holds whole characters.
void appendField(QByteArray &record, Cp936Codec &codec, const QString &value, qsizetype width)
{
    QByteArray bytes = codec.encode(value);
    if (bytes.size() < width)
        bytes.append(width - bytes.size(), ' ');
    qsizetype at = 0;
    while (at < width) {
        if (isLeadByte(bytes[at])) {
            if (at + 1 == width)
                bytes[at] = ' ';
            at += at + 1 == width ? 1 : 2;
        } else {
            ++at;
        }
    }
    record.append(bytes.first(width));
}

QByteArray encodeRecord(const PoemRecord &poem, Cp936Codec &codec)
{
    QByteArray record;
    record.reserve(RecordSize);
    appendField(record, codec, poem.Title(), TitleBytes);
    for (int i = 1; i <= PoemRecord::LineCount; ++i)
        appendField(record, codec, poem.Lines(i), LineBytes);
    return record;
}

PoemRecord decodeRecord(QByteArrayView record, Cp936Codec &codec)
{
    PoemRecord poem;
    poem.setTitle(codec.decode(record.first(TitleBytes)));
    for (int i = 1; i <= PoemRecord::LineCount; ++i)
        poem.setLines(i, codec.decode(record.sliced(TitleBytes + (i - 1) * LineBytes, LineBytes)));
    return poem;
}

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

QString failure(const char *what, const QString &path, int errnum)
{
    return QStringLiteral("%1：%2（%3）")
        .arg(QString::fromUtf8(what), QDir::toNativeSeparators(path), reasonText(errnum));
}

// Reads the whole file, creating it empty when it is missing.
std::optional<int> readOrCreate(const QString &path, QByteArray &contents)
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

    Cp936Codec codec;
    result.Poems.reserve(size_t(count) + 1);
    for (qsizetype n = 1; n <= count; ++n)
        result.Poems.push_back(
            decodeRecord(QByteArrayView(contents).sliced((n - 1) * RecordSize, RecordSize), codec));
    return result;
}

LibraryError rewriteLibrary(const QString &path, const std::vector<PoemRecord> &Poems)
{
    Cp936Codec codec;
    QByteArray contents;
    contents.reserve(qsizetype(Poems.size() - 1) * RecordSize);
    for (std::size_t n = 1; n < Poems.size(); ++n)
        contents.append(encodeRecord(Poems[n], codec));

    if (const auto error = writeFileAtomically(path, contents))
        return failure("无法保存诗词库", path, *error);
    return std::nullopt;
}
