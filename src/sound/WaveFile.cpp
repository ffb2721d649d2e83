#include "WaveFile.h"

#include "SystemError.h"

#include <QScopeGuard>

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct SndfileCloser
{
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

constexpr sf_count_t ChunkFrames = 4096;

// A sample rate outside these is a broken header, not an old or a very good sound card.
constexpr int LowestSampleRate = 1000;
constexpr int HighestSampleRate = 192000;

// libsndfile's reasons in words a parent can follow: its own are English, and name chunks and
// markers. Its public codes say little, so the rest are told apart by its words.
QString soundLibraryText(int code)
{
    const QByteArray words = QByteArray(sf_error_number(code)).toLower();
    if (code == SF_ERR_SYSTEM)
        return QStringLiteral("读取文件时出错");
    if (code == SF_ERR_UNRECOGNISED_FORMAT || code == SF_ERR_UNSUPPORTED_ENCODING ||
        words.contains("not recognised") || words.contains("unsupported") ||
        words.contains("unimplemented") || words.contains("unknown format"))
        return QStringLiteral("这种声音格式不能播放");
    return QStringLiteral("文件已损坏或不完整");
}

QString tooLongText(sf_count_t frames, int sampleRate)
{
    const QString limit = QStringLiteral("超过了 %1 分钟的上限").arg(LongestRecordingSeconds / 60);
    if (frames < 0)
        return QStringLiteral("这段录音") + limit;
    const qint64 seconds = (frames + sampleRate - 1) / sampleRate;
    return QStringLiteral("这段录音长 %1 分 %2 秒，")
               .arg(seconds / 60)
               .arg(seconds % 60, 2, 10, QLatin1Char('0')) +
           limit;
}

// Opens the file to read, or says why it is no recording: what is no file is refused before it
// is opened, as a pipe named like a recording would keep the window waiting for ever and a
// device would never end.
int openRecording(const QByteArray &nativePath, QString &error)
{
    struct stat status
    {
    };
    if (::stat(nativePath.constData(), &status) != 0) {
        error = reasonText(errno);
        return -1;
    }
    const int fd = S_ISREG(status.st_mode) ? ::open(nativePath.constData(),
                                                    O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
                                           : -1;
    if (fd < 0) {
        error = S_ISREG(status.st_mode) ? reasonText(errno) : notAFileText(status.st_mode);
        return -1;
    }
    // Looked at again, as what was looked at before may have been replaced since.
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size == 0) {
        error =
            S_ISREG(status.st_mode) ? QStringLiteral("文件是空的") : notAFileText(status.st_mode);
        ::close(fd);
        return -1;
    }
    return fd;
}

// libsndfile hands floating-point files to sf_readf_short without scaling them (0.5 would read
// as 0), so those are read as floats and scaled here.
bool isFloatingPoint(int format)
{
    const int subtype = format & SF_FORMAT_SUBMASK;
    return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

qint16 toSample(float value)
{
    return qint16(std::clamp(std::lrint(value * float(Clip::FullScale)),
                             long(std::numeric_limits<qint16>::min()),
                             long(std::numeric_limits<qint16>::max())));
}

// Reads every frame as 16-bit samples: mono and stereo as in the file, more channels mixed
// down to mono. Stops, returning false, as soon as the file holds more than maxFrames, so that
// a file of hours is never decoded, whatever its header claims.
bool readFrames(SNDFILE *file, const SF_INFO &info, sf_count_t maxFrames, QByteArray &pcm)
{
    const int channels = info.channels;
    const int kept = channels <= 2 ? channels : 1;
    std::vector<short> shorts(size_t(ChunkFrames * channels));
    std::vector<float> floats;
    if (isFloatingPoint(info.format))
        floats.resize(shorts.size());
    pcm.reserve(qsizetype(std::min(info.frames, maxFrames) * kept * Clip::BytesPerSample));
    sf_count_t total = 0;
    for (;;) {
        const sf_count_t read = floats.empty() ? sf_readf_short(file, shorts.data(), ChunkFrames)
                                               : sf_readf_float(file, floats.data(), ChunkFrames);
        if (read <= 0)
            return true;
        total += read;
        if (total > maxFrames)
            return false;
        const size_t count = size_t(read * channels);
        if (!floats.empty())
            std::transform(floats.begin(), floats.begin() + ptrdiff_t(count), shorts.begin(),
                           toSample);
        if (channels <= 2) {
            pcm.append(reinterpret_cast<const char *>(shorts.data()),
                       qsizetype(count * sizeof(short)));
            continue;
        }
        for (size_t frame = 0; frame < size_t(read); ++frame) {
            int sum = 0;
            for (int c = 0; c < channels; ++c)
                sum += shorts[frame * size_t(channels) + size_t(c)];
            const auto mono = qint16(sum / channels);
            pcm.append(reinterpret_cast<const char *>(&mono), sizeof mono);
        }
    }
}

// A growing file in memory for libsndfile to write into.
struct MemoryFile
{
    QByteArray bytes;
    sf_count_t position = 0;
};

sf_count_t memoryLength(void *userData)
{
    return static_cast<MemoryFile *>(userData)->bytes.size();
}

sf_count_t memorySeek(sf_count_t offset, int whence, void *userData)
{
    auto *file = static_cast<MemoryFile *>(userData);
    const sf_count_t base = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? file->position
                                                 : file->bytes.size();
    if (base + offset < 0)
        return -1;
    file->position = base + offset;
    return file->position;
}

sf_count_t memoryRead(void *data, sf_count_t count, void *userData)
{
    auto *file = static_cast<MemoryFile *>(userData);
    const sf_count_t available = std::max<sf_count_t>(0, file->bytes.size() - file->position);
    const sf_count_t read = std::min(count, available);
    std::memcpy(data, file->bytes.constData() + file->position, size_t(read));
    file->position += read;
    return read;
}

sf_count_t memoryWrite(const void *data, sf_count_t count, void *userData)
{
    auto *file = static_cast<MemoryFile *>(userData);
    if (file->position + count > file->bytes.size())
        file->bytes.resize(qsizetype(file->position + count));
    std::memcpy(file->bytes.data() + file->position, data, size_t(count));
    file->position += count;
    return count;
}

sf_count_t memoryTell(void *userData)
{
    return static_cast<MemoryFile *>(userData)->position;
}

} // namespace

std::optional<Clip> readWaveFile(const QByteArray &nativePath, QString &error)
{
    const int fd = openRecording(nativePath, error);
    if (fd < 0)
        return std::nullopt;
    const auto closeFile = qScopeGuard([fd] { ::close(fd); }); // after libsndfile let go of it
    SF_INFO info{};
    SndfileHandle file(sf_open_fd(fd, SFM_READ, &info, SF_FALSE));
    if (!file) {
        error =
            QStringLiteral("文件里没有能播放的声音：%1").arg(soundLibraryText(sf_error(nullptr)));
        return std::nullopt;
    }
    if (info.channels <= 0 || info.frames <= 0) {
        error = QStringLiteral("文件里没有声音");
        return std::nullopt;
    }
    if (info.samplerate < LowestSampleRate || info.samplerate > HighestSampleRate) {
        error = QStringLiteral("采样率 %1 Hz 不合常理，文件头可能坏了").arg(info.samplerate);
        return std::nullopt;
    }
    const sf_count_t maxFrames = sf_count_t(LongestRecordingSeconds) * info.samplerate;
    if (info.frames > maxFrames) {
        error = tooLongText(info.frames, info.samplerate);
        return std::nullopt;
    }
    QByteArray pcm;
    if (!readFrames(file.get(), info, maxFrames, pcm)) {
        error = tooLongText(-1, info.samplerate); // longer than its header said
        return std::nullopt;
    }
    if (const int failure = sf_error(file.get()); failure != SF_ERR_NO_ERROR) {
        error = QStringLiteral("文件里没有能播放的声音：%1").arg(soundLibraryText(failure));
        return std::nullopt;
    }
    if (pcm.isEmpty()) {
        error = QStringLiteral("文件里没有声音");
        return std::nullopt;
    }
    return Clip{pcm, info.samplerate, info.channels == 2 ? 2 : 1};
}

QByteArray encodeWaveFile(const Clip &clip, QString &error)
{
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    MemoryFile memory;
    SF_INFO info{};
    info.samplerate = clip.sampleRate;
    info.channels = clip.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SndfileHandle file(sf_open_virtual(&io, SFM_WRITE, &info, &memory));
    if (!file) {
        error = soundLibraryText(sf_error(nullptr));
        return {};
    }
    const sf_count_t frames = clip.frames();
    if (sf_writef_short(file.get(), reinterpret_cast<const short *>(clip.pcm.constData()),
                        frames) != frames) {
        error = soundLibraryText(sf_error(file.get()));
        return {};
    }
    // Closing writes the final chunk sizes into the header.
    if (const int failure = sf_close(file.release()); failure != SF_ERR_NO_ERROR) {
        error = soundLibraryText(failure);
        return {};
    }
    return memory.bytes;
}
