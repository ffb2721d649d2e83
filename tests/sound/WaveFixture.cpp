#include "WaveFixture.h"

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
