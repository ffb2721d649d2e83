#pragma once

#include <QByteArray>
#include <QList>

#include <sndfile.h>

#include <vector>

// Wave files for the tests, written and read with libsndfile itself rather than with the code
// under test.

// A 440 Hz sine, full scale at amplitude 1, at the given frame.
double toneSample(sf_count_t frame, int sampleRate, double amplitude);

// Writes frames of the tone in format (SF_FORMAT_WAV | subtype), one amplitude per channel.
bool writeTone(const QByteArray &nativePath, int format, int sampleRate,
               const QList<double> &amplitudes, sf_count_t frames);

struct WaveContents
{
    SF_INFO info{};
    std::vector<short> samples; // interleaved, as libsndfile reads them
};

// Empty samples and info when libsndfile cannot read the file.
WaveContents readWave(const QByteArray &nativePath);

// The 44-byte header of a 16-bit PCM wave file, its fields taken as given however absurd.
QByteArray waveHeader(quint16 channels, quint32 sampleRate, quint32 dataBytes);
