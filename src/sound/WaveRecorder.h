#pragma once

#include "AudioStream.h"
#include "WaveDevice.h"
#include "WaveFile.h"

#include <QObject>
#include <QTimer>

#include <optional>

class QAudioSource;
class QIODevice;

// Takes in sound from the default input as 22,050 Hz mono 16-bit samples, enough for a voice
// reading a poem and half the size of CD quality.
class WaveRecorder final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WaveRecorder)

public:
    static constexpr int SampleRate = 22050;
    static constexpr int Channels = 1;
    // A take whose loudest sample stays below this (-40 dBFS) is next to silence: most likely
    // the microphone is unplugged or muted.
    static constexpr qreal SilentPeak = 0.01;

    struct Take
    {
        Clip clip;
        bool silent = true;
    };

    // An input that sends no sound for stallMs has failed: Qt 6.4 reports a microphone that is
    // unplugged, or a stream that the sound server dropped, by sending nothing more.
    explicit WaveRecorder(int stallMs, QObject *parent = nullptr);
    ~WaveRecorder() override;

    std::optional<DeviceError> start();
    // Ends the recording and hands over what was taken in, the dead air around the reading
    // cut short; also after failed, which keeps what came before the failure.
    Take stop();

Q_SIGNALS:
    // For every piece of sound taken in: its loudest sample (0 to 1) and the length so far.
    void level(qreal peak, qint64 elapsedMilliseconds);
    // The input broke off; no more sound comes in, and stop hands over what did.
    void failed(const DeviceError &error);

private:
    void takeIn();
    void fail(const DeviceError &error);
    void release();

    AudioStream<QAudioSource> m_source;
    QIODevice *m_io = nullptr;
    QByteArray m_pcm;
    qreal m_peak = 0;
    QTimer m_stallTimer;
};
