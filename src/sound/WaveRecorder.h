#pragma once

#include "WaveDevice.h"
#include "WaveFile.h"

#include <QObject>

#include <memory>
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
    // A take whose loudest sample stays below this (-40 dBFS) is next to silence: most likely
    // the microphone is unplugged or muted.
    static constexpr qreal SilentPeak = 0.01;

    struct Take
    {
        Clip clip;
        bool silent = true;
    };

    explicit WaveRecorder(QObject *parent = nullptr);
    ~WaveRecorder() override;

    std::optional<DeviceError> start();
    // Ends the recording and hands over what was taken in, the dead air around the reading
    // cut short.
    Take stop();
    bool isRecording() const { return m_source != nullptr; }

Q_SIGNALS:
    // For every piece of sound taken in: its loudest sample (0 to 1) and the length so far.
    void level(qreal peak, qint64 elapsedMilliseconds);
    // The input broke off; what was taken in is dropped.
    void failed(const DeviceError &error);

private:
    void takeIn();
    void release();

    std::unique_ptr<QAudioSource> m_source;
    QIODevice *m_io = nullptr;
    QByteArray m_pcm;
    qreal m_peak = 0;
};
