#include "WaveFixture.h"

#include <QtEndian>

#include <cmath>
#include <numbers>

double toneSample(sf_count_t frame, int sampleRate, double amplitude)
{
    return amplitude * std::sin(2 * std::numbers::pi * 440 * double(frame) / sampleRate);
}

bool writeTone(const QByteArray &nativePath, int format, int sampleRate,
               const QList<double> &amplitudes, sf_count_t frames)
{
    SF_INFO info{0, sampleRate, int(amplitudes.size()), format, 0, 0};
    SNDFILE *file = sf_open(nativePath.constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    std::vector<double> samples;
    for (sf_count_t frame = 0; frame < frames; ++frame) {
        for (const double amplitude : amplitudes)
            samples.push_back(toneSample(frame, sampleRate, amplitude));
    }
    const bool written = sf_writef_double(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && written;
}

WaveContents readWave(const QByteArray &nativePath)
{
    WaveContents contents;
    SNDFILE *file = sf_open(nativePath.constData(), SFM_READ, &contents.info);
    if (!file)
        return {};
    contents.samples.resize(size_t(contents.info.frames * contents.info.channels));
    sf_readf_short(file, contents.samples.data(), contents.info.frames);
    sf_close(file);
    return contents;
}

QByteArray waveHeader(quint16 channels, quint32 sampleRate, quint32 dataBytes)
{
    const auto le = [](quint32 value, int bytes) {
        value = qToLittleEndian(value);
        return QByteArray(reinterpret_cast<const char *>(&value), bytes);
    };
    return "RIFF" + le(36 + dataBytes, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(channels, 2) +
           le(sampleRate, 4) + le(sampleRate * channels * 2, 4) + le(channels * 2u, 2) + le(16, 2) +
           "data" + le(dataBytes, 4);
}
