#include "WaveFile.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

struct SndfileCloser
{
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

constexpr sf_count_t ChunkFrames = 4096;

// libsndfile hands floating-point files to sf_readf_short without scaling them (0.5 would read
// as 0), so those are read as floats and scaled here.
bool isFloatingPoint(int format)
{
    const int subtype = format & SF_FORMAT_SUBMASK;
    return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

qint16 toSample(float value)
{
    return qint16(std::clamp(std::lrint(value * 32768.0f), -32768L, 32767L));
}

// Reads every frame as 16-bit samples, interleaved as in the file.
std::vector<qint16> readAllFrames(SNDFILE *file, const SF_INFO &info)
{
    std::vector<qint16> samples;
    std::vector<short> shorts(size_t(ChunkFrames * info.channels));
    std::vector<float> floats;
    if (isFloatingPoint(info.format))
        floats.resize(shorts.size());
    for (;;) {
        const sf_count_t read = floats.empty() ? sf_readf_short(file, shorts.data(), ChunkFrames)
                                               : sf_readf_float(file, floats.data(), ChunkFrames);
        if (read <= 0)
            break;
        const size_t count = size_t(read * info.channels);
        if (floats.empty()) {
            samples.insert(samples.end(), shorts.begin(), shorts.begin() + ptrdiff_t(count));
        } else {
            for (size_t i = 0; i < count; ++i)
                samples.push_back(toSample(floats[i]));
        }
    }
    return samples;
}

QByteArray toPcm(const std::vector<qint16> &samples, int channels)
{
    if (channels <= 2)
        return QByteArray(reinterpret_cast<const char *>(samples.data()),
                          qsizetype(samples.size() * sizeof(qint16)));
    QByteArray pcm(qsizetype(samples.size() / size_t(channels) * sizeof(qint16)),
                   Qt::Uninitialized);
    auto *mono = reinterpret_cast<qint16 *>(pcm.data());
    for (size_t frame = 0; frame * size_t(channels) < samples.size(); ++frame) {
        int sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += samples[frame * size_t(channels) + size_t(c)];
        mono[frame] = qint16(sum / channels);
    }
    return pcm;
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
    SF_INFO info{};
    SndfileHandle file(sf_open(nativePath.constData(), SFM_READ, &info));
    if (!file) {
        error = QString::fromLocal8Bit(sf_strerror(nullptr));
        return std::nullopt;
    }
    if (info.channels <= 0 || info.samplerate <= 0 || info.frames <= 0) {
        error = QStringLiteral("文件里没有声音");
        return std::nullopt;
    }
    const std::vector<qint16> samples = readAllFrames(file.get(), info);
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        error = QString::fromLocal8Bit(sf_strerror(file.get()));
        return std::nullopt;
    }
    if (samples.empty()) {
        error = QStringLiteral("文件里没有声音");
        return std::nullopt;
    }
    return Clip{toPcm(samples, info.channels), info.samplerate, info.channels == 2 ? 2 : 1};
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
        error = QString::fromLocal8Bit(sf_strerror(nullptr));
        return {};
    }
    const sf_count_t frames = clip.frames();
    if (sf_writef_short(file.get(), reinterpret_cast<const short *>(clip.pcm.constData()),
                        frames) != frames) {
        error = QString::fromLocal8Bit(sf_strerror(file.get()));
        return {};
    }
    // Closing writes the final chunk sizes into the header.
    if (const int failure = sf_close(file.release()); failure != SF_ERR_NO_ERROR) {
        error = QString::fromLocal8Bit(sf_error_number(failure));
        return {};
    }
    return memory.bytes;
}
