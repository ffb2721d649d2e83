#include "LibraryFile.h"

#include "AtomicWrite.h"
#include "CodePage936.h"
#include "NativePath.h"
#include "SystemError.h"

#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype RecordSize = PoemRecord::RecordSize;
const QString FileName = QStringLiteral("Kavendo.dbf");

QString failure(const char *what, const QString &path, const QString &reason)
{
    return QStringLiteral("%1：%2（%3）").arg(QString::fromUtf8(what), displayPath(path), reason);
}

// A digest of a file's bytes that does not depend on how they are handed in: the bytes are
// taken eight at a time, each word mixed in as in the rounds of common 64-bit hashes. It tells
// whether a file changed, not who changed it, so nothing more is asked of it.
class Digest final
{
public:
    void add(QByteArrayView bytes)
    {
        m_length += quint64(bytes.size());
        while (!bytes.isEmpty()) {
            if (m_filled == 0 && bytes.size() >= 8) {
                m_state = mixed(m_state, word(bytes.data()));
                bytes = bytes.sliced(8);
                continue;
            }
            m_pending[m_filled++] = bytes.front();
            bytes = bytes.sliced(1);
            if (m_filled == 8) {
                m_state = mixed(m_state, word(m_pending));
                m_filled = 0;
            }
        }
    }

    quint64 value() const
    {
        char tail[8] = {};
        std::memcpy(tail, m_pending, size_t(m_filled));
        return mixed(mixed(m_state, word(tail)), m_length);
    }

private:
    static quint64 word(const char *bytes)
    {
        quint64 value = 0;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }
    static quint64 mixed(quint64 state, quint64 word)
    {
        state += word * 0xC2B2AE3D27D4EB4FULL;
        state = (state << 31) | (state >> 33);
        return state * 0x9E3779B185EBCA87ULL;
    }

    quint64 m_state = 0x27D4EB2F165667C5ULL;
    quint64 m_length = 0;
    char m_pending[8] = {};
    int m_filled = 0;
};

LibraryFileState stateOf(const struct stat &status, quint64 digest)
{
    return {quint64(status.st_dev), quint64(status.st_ino), qint64(status.st_size),
            qint64(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec, digest};
}

QString danglingLinkText(const QByteArray &link)
{
    QByteArray target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(link.constData(), target.data(), size_t(target.size()));
    target.truncate(qMax<ssize_t>(length, 0));
    return QStringLiteral("这是一个链接，它指向的“%1”不存在")
        .arg(displayPath(pathFromNative(target)));
}

// Why what the path names cannot be the library, looked at without opening it: a pipe or a
// device may never answer a read, or never stop answering. Nothing when it is a regular file or
// missing.
std::optional<QString> refusalOfPath(const QByteArray &native, bool &missing)
{
    struct stat status
    {
    };
    missing = false;
    if (::stat(native.constData(), &status) == 0)
        return S_ISREG(status.st_mode) ? std::nullopt : std::optional(notAFileText(status.st_mode));
    const int error = errno;
    if (error == ENOENT && ::lstat(native.constData(), &status) == 0 && S_ISLNK(status.st_mode))
        return danglingLinkText(native);
    missing = error == ENOENT;
    return missing ? std::nullopt : std::optional(reasonText(error));
}

QString tooLongText(qint64 size)
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    return QStringLiteral("文件长 %1 字节，超过了诗词库的上限 %2 字节（%3 首诗），不像是诗词库")
        .arg(chinese.toString(size), chinese.toString(LargestLibraryBytes),
             chinese.toString(LargestLibraryBytes / RecordSize));
}

// Reads fd to its end through a small buffer, so that reading a large library touches little
// more memory than the library itself keeps. Whole records go to onRecords; every byte goes into
// the digest; what is left of a partial record at the end stays in tail.
int readRecords(int fd, Digest &digest, const std::function<void(QByteArrayView)> &onRecords,
                QByteArray &tail)
{
    std::vector<char> buffer(512 * RecordSize);
    qsizetype filled = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - size_t(filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            break;
        digest.add({buffer.data() + filled, got});
        filled += got;
        const qsizetype whole = filled / RecordSize * RecordSize;
        onRecords({buffer.data(), whole});
        std::memmove(buffer.data(), buffer.data() + whole, size_t(filled - whole));
        filled -= whole;
    }
    tail = QByteArray(buffer.data(), filled);
    return 0;
}

// Reads the library file at path: its state, and its poems into Poems when given, each sharing
// codePage. A missing file is created empty when create is set, and is otherwise no state at all.
std::optional<LibraryFileState> readLibraryFile(const QString &path, std::vector<PoemRecord> *Poems,
                                                const std::shared_ptr<const CodePage936> &codePage,
                                                bool create, LibraryError &error)
{
    const QByteArray native = nativePath(path);
    bool missing = false;
    if (const auto refusal = refusalOfPath(native, missing)) {
        error = failure("无法打开诗词库", path, *refusal);
        return std::nullopt;
    }
    if (missing && !create)
        return std::nullopt;

    const int fd = missing
                       ? ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666)
                       : ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat status
    {
    };
    std::optional<QString> refusal;
    if (fd < 0 || ::fstat(fd, &status) != 0)
        refusal = reasonText(errno);
    else if (!S_ISREG(status.st_mode)) // replaced since it was looked at
        refusal = notAFileText(status.st_mode);
    else if (status.st_size > LargestLibraryBytes)
        refusal = tooLongText(status.st_size);

    Digest digest;
    QByteArray tail;
    if (!refusal && !missing) {
        const auto onRecords = [Poems, &codePage](QByteArrayView records) {
            if (!Poems)
                return;
            for (qsizetype at = 0; at < records.size(); at += RecordSize)
                Poems->push_back(PoemRecord::fromRecord(records.sliced(at, RecordSize), codePage));
        };
        if (Poems)
            Poems->reserve(size_t(status.st_size / RecordSize) + 2);
        if (const int readError = readRecords(fd, digest, onRecords, tail))
            refusal = reasonText(readError);
    }
    if (fd >= 0)
        ::close(fd);
    if (refusal) {
        error = failure("无法打开诗词库", path, *refusal);
        return std::nullopt;
    }

    // The count is the length / 88 rounded half to even: a partial record at the end is a poem
    // when more than half of it is there, or exactly half after an odd number of records. Its
    // missing bytes read as spaces.
    const qsizetype records = Poems ? qsizetype(Poems->size()) - 1 : 0;
    if (Poems &&
        (tail.size() > RecordSize / 2 || (tail.size() == RecordSize / 2 && records % 2 == 1)))
        Poems->push_back(PoemRecord::fromRecord(tail.leftJustified(RecordSize, ' '), codePage));
    return stateOf(status, digest.value());
}

} // namespace

QString LibraryFile(const QString &applicationFolder)
{
    return applicationFolder + u'/' + FileName;
}

LoadedLibrary loadLibrary(const QString &path, const std::shared_ptr<const CodePage936> &codePage)
{
    LoadedLibrary result;
    if (!codePage->isAvailable()) {
        result.error = failure("无法打开诗词库", path,
                               QStringLiteral("系统缺少 GBK 编码的转换程序，读不出库中的中文"));
    } else if (const auto file =
                   readLibraryFile(path, &result.Poems, codePage, true, result.error)) {
        result.file = *file;
    } else {
        result.Poems.resize(1);
    }
    return result;
}

std::optional<LibraryFileState> libraryFileState(const QString &path, LibraryError &error)
{
    return readLibraryFile(path, nullptr, nullptr, false, error);
}

LibraryError writeLibrary(const QString &path, QByteArrayView records, LibraryFileState *written)
{
    bool missing = false;
    if (const auto refusal = refusalOfPath(nativePath(path), missing))
        return failure("无法保存诗词库", path, *refusal);
    if (isReadOnlyFile(path)) {
        return QStringLiteral("诗词库文件是只读的，不能改动：%1\n要改动诗词库，请先让它可以写入。")
            .arg(displayPath(path));
    }
    struct stat status
    {
    };
    if (const auto error = writeFileAtomically(path, records, ExistingFile::Replace, &status))
        return failure("无法保存诗词库", path, reasonText(*error));
    if (written) {
        Digest digest;
        digest.add(records);
        *written = stateOf(status, digest.value());
    }
    return std::nullopt;
}

LibraryError rewriteLibrary(const QString &path, const std::vector<PoemRecord> &Poems)
{
    return writeLibrary(path, libraryRecords(Poems));
}

QByteArray libraryRecords(const std::vector<PoemRecord> &Poems, qsizetype skipped)
{
    QByteArray records;
    records.reserve(qsizetype(Poems.size() - 1) * RecordSize);
    for (std::size_t n = 1; n < Poems.size(); ++n) {
        if (qsizetype(n) != skipped)
            records.append(Poems[n].record());
    }
    return records;
}

void removeLibraryLeftovers(const QString &applicationFolder)
{
    removeAbandonedWrites(applicationFolder, [](QStringView name) { return name == FileName; });
}
