#pragma once

#include "AudioStream.h"
#include "WaveDevice.h"
#include "WaveFile.h"

#include <QAudio>
#include <QObject>
#include <QTimer>

#include <optional>

class QAudioSink;
class QIODevice;

// Plays one clip on the default sound output. The whole clip is written to the sink up front
// and its end is the sink's first pause for want of data after the last byte: that is when the
// sound has been heard, not when a buffer was emptied early.
class WavePlayer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WavePlayer)

public:
    enum class Ending { Completed, Stopped, Failed };

    // A clip that takes watchdogSlackMs longer than its own length to be heard ends as Failed:
    // the sound output is broken, and a window waiting for the end must not wait for ever.
    explicit WavePlayer(int watchdogSlackMs, QObject *parent = nullptr);
    ~WavePlayer() override;

    // Starts playing; the error says why nothing will be heard.
    std::optional<DeviceError> start(const Clip &clip);
    // Ends playing at once; finished(Stopped) follows when a clip was playing.
    void stop();
    // How much of the clip has been heard, in milliseconds, as the sound output tells.
    qint64 position() const;
    // Why the last clip ended early, after finished(Failed).
    std::optional<DeviceError> failure() const { return m_failure; }

Q_SIGNALS:
    void finished(WavePlayer::Ending ending);

private:
    void feed();
    void checkState(quint64 generation);
    void finish(Ending ending);

    AudioStream<QAudioSink> m_sink;
    QIODevice *m_io = nullptr;
    QByteArray m_pcm;
    qsizetype m_written = 0;
    // Counts the sinks made, so that a state change still queued from an earlier sink is
    // not taken for the present one's.
    quint64 m_generation = 0;
    QTimer m_feedTimer;
    QTimer m_watchdog;
    int m_watchdogSlackMs;
    std::optional<DeviceError> m_failure;
};
