#include "DeadAir.h"

#include "Levels.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Loudness is judged window by window.
constexpr int WindowMs = 10;
// The take's noise floor: the level that this share of its windows stays below.
constexpr double NoiseFloorShare = 0.1;
// Sound stands at least this far above the noise floor (12 dB).
constexpr double SoundOverNoise = 4.0;
// Digital silence has no floor to measure against: nothing below -60 dBFS counts as sound.
constexpr double QuietestSound = 0.001;
// Nor must the threshold rise above a quarter of the loudest window (-12 dB), so that a take
// that is sound from end to end, whose floor is the sound itself, keeps every window.
constexpr double LoudestShare = 0.25;
// A shorter sound, such as the click of the mouse that pressed Record, is not yet the reading.
constexpr int ShortestSoundMs = 30;
// How much of the air before the first sound and after the last is kept.
constexpr int KeptAirMs = 250;

// The root mean square of each window of the take, full scale being 1.
std::vector<double> windowLevels(const Clip &take, qint64 windowFrames)
{
    const auto *samples = reinterpret_cast<const qint16 *>(take.pcm.constData());
    const qint64 frames = take.frames();
    std::vector<double> levels;
    levels.reserve(size_t(frames / windowFrames + 1));
    for (qint64 first = 0; first < frames; first += windowFrames) {
        const qint64 count = std::min(windowFrames, frames - first) * take.channels;
        double squares = 0;
        for (qint64 i = 0; i < count; ++i) {
            const double sample = samples[first * take.channels + i] / Clip::FullScale;
            squares += sample * sample;
        }
        levels.push_back(std::sqrt(squares / double(count)));
    }
    return levels;
}

double soundThreshold(const std::vector<double> &levels)
{
    const double loudest = *std::max_element(levels.begin(), levels.end());
    const double floor = levelAtShare(levels, NoiseFloorShare);
    return std::min(std::max(floor * SoundOverNoise, QuietestSound), loudest * LoudestShare);
}

} // namespace

Clip trimDeadAir(const Clip &take)
{
    if (take.frames() == 0)
        return take;
    const qint64 windowFrames = std::max<qint64>(1, qint64(take.sampleRate) * WindowMs / 1000);
    const std::vector<double> levels = windowLevels(take, windowFrames);
    const double threshold = soundThreshold(levels);
    const qsizetype run = ShortestSoundMs / WindowMs;
    const qsizetype count = qsizetype(levels.size());

    // The first and the last window of the runs of sound long enough to be more than a click.
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < count;) {
        qsizetype end = i;
        while (end < count && levels[size_t(end)] >= threshold)
            ++end;
        if (end - i >= run) {
            first = first < 0 ? i : first;
            last = end - 1;
        }
        i = std::max(end, i + 1);
    }
    if (first < 0)
        return take;

    const qint64 kept = qint64(take.sampleRate) * KeptAirMs / 1000;
    const qint64 start = std::max<qint64>(0, first * windowFrames - kept);
    const qint64 end = std::min(take.frames(), (last + 1) * windowFrames + kept);
    return Clip{take.pcm.mid(start * take.frameBytes(), (end - start) * take.frameBytes()),
                take.sampleRate, take.channels};
}
