#include "WavePlayer.h"

#include "AudioError.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QMediaDevices>

namespace {

// How often what the sink had no room for is offered again.
constexpr int FeedIntervalMs = 10;

} // namespace

WavePlayer::WavePlayer(int watchdogSlackMs, QObject *parent)
    : QObject(parent)
    , m_watchdogSlackMs(watchdogSlackMs)
{
    m_feedTimer.setInterval(FeedIntervalMs);
    m_watchdog.setSingleShot(true);
    connect(&m_feedTimer, &QTimer::timeout, this, &WavePlayer::feed);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        m_failure = DeviceError{DeviceError::Kind::NoDevice,
                                QStringLiteral("放音设备没有放完声音，可能出了故障")};
        finish(Ending::Failed);
    });
}

WavePlayer::~WavePlayer() = default;

std::optional<DeviceError> WavePlayer::start(const Clip &clip)
{
    stop();
    m_failure.reset();
    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    if (output.isNull())
        return DeviceError{DeviceError::Kind::NoDevice, QStringLiteral("找不到放音设备")};
    QAudioFormat format;
    format.setSampleRate(clip.sampleRate);
    format.setChannelCount(clip.channels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!output.isFormatSupported(format)) {
        return DeviceError{DeviceError::Kind::NoDevice,
                           QStringLiteral("放音设备不能播放 %1 Hz、%2 声道的声音")
                               .arg(clip.sampleRate)
                               .arg(clip.channels)};
    }

    AudioStream<QAudioSink> sink(new QAudioSink(output, format));
    QIODevice *io = sink->start();
    if (!io)
        return audioDeviceError(sink->error(), false);

    m_sink = std::move(sink);
    m_io = io;
    const quint64 generation = ++m_generation;
    // Queued: the sink signals from the sound server's thread as well as from its own calls.
    connect(
        m_sink.get(), &QAudioSink::stateChanged, this,
        [this, generation] { checkState(generation); }, Qt::QueuedConnection);
    // A clip shorter than the sink's buffer would never be started by the sink.
    m_pcm = clip.pcm;
    if (m_pcm.size() < m_sink->bufferSize())
        m_pcm.append(QByteArray(m_sink->bufferSize() - m_pcm.size(), '\0'));
    m_written = 0;
    feed();
    if (!m_sink)
        return m_failure;
    if (m_written < m_pcm.size())
        m_feedTimer.start();
    const qint64 bytesPerSecond = clip.sampleRate * clip.frameBytes();
    m_watchdog.start(int(m_pcm.size() * 1000 / bytesPerSecond) + m_watchdogSlackMs);
    return std::nullopt;
}

qint64 WavePlayer::position() const
{
    return m_sink ? m_sink->processedUSecs() / 1000 : 0;
}

void WavePlayer::stop()
{
    if (m_sink)
        finish(Ending::Stopped);
}

void WavePlayer::feed()
{
    while (m_sink && m_written < m_pcm.size()) {
        const qint64 written = m_io->write(m_pcm.constData() + m_written, m_pcm.size() - m_written);
        if (written < 0) {
            m_failure = audioDeviceError(m_sink->error(), false);
            finish(Ending::Failed);
            return;
        }
        if (written == 0)
            return;
        m_written += written;
    }
    m_feedTimer.stop();
}

void WavePlayer::checkState(quint64 generation)
{
    // The signal arrives late, maybe from a sink already gone; the present sink's state counts.
    if (!m_sink || generation != m_generation)
        return;
    const QAudio::State state = m_sink->state();
    if (state == QAudio::StoppedState && m_sink->error() != QAudio::NoError) {
        m_failure = audioDeviceError(m_sink->error(), false);
        finish(Ending::Failed);
    } else if (state == QAudio::IdleState && m_written == m_pcm.size()) {
        finish(Ending::Completed);
    }
}

void WavePlayer::finish(Ending ending)
{
    m_feedTimer.stop();
    m_watchdog.stop();
    m_sink.reset();
    m_io = nullptr;
    m_pcm.clear();
    Q_EMIT finished(ending);
}
