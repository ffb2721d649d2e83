#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Sound as the player plays it and the recorder takes it in.
struct Clip
{
    static constexpr int BytesPerSample = 2;
    // A sample's value at full scale: samples over it are a fraction of 1.
    static constexpr double FullScale = 32768;

    // Interleaved signed 16-bit samples in the machine's byte order.
    QByteArray pcm;
    int sampleRate = 0;
    int channels = 0;

    qint64 frameBytes() const { return qint64(BytesPerSample) * channels; }
    qint64 frames() const { return channels > 0 ? pcm.size() / frameBytes() : 0; }
    qint64 milliseconds() const { return sampleRate > 0 ? frames() * 1000 / sampleRate : 0; }
};

// The longest recording that is played. A poem read aloud takes a minute or two; a file of
// hours is no such recording, would fill the memory, and would keep the window from taking
// input for as long as it plays.
constexpr int LongestRecordingSeconds = 10 * 60;

// Decodes the wave file at nativePath, whatever encoding an old computer gave it, to 16-bit
// samples: mono and stereo stay as they are, more channels are mixed down to mono. Without a
// sound, error receives why, in Chinese: what is no file (a folder, a pipe, a device), a damaged
// file, a format that cannot be played. A file longer than LongestRecordingSeconds is refused
// before it is decoded, or as soon as decoding finds it is, with its length and the limit.
std::optional<Clip> readWaveFile(const QByteArray &nativePath, QString &error);

// The bytes of a 16-bit PCM wave file holding clip; empty, with why in error, when it cannot be
// encoded.
QByteArray encodeWaveFile(const Clip &clip, QString &error);
