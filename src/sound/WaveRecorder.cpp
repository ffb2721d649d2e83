#include "WaveRecorder.h"

#include "AudioError.h"
#include "DeadAir.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QMediaDevices>

#include <cstdlib>

WaveRecorder::WaveRecorder(int stallMs, QObject *parent)
    : QObject(parent)
{
    m_stallTimer.setInterval(stallMs);
    m_stallTimer.setSingleShot(true);
    connect(&m_stallTimer, &QTimer::timeout, this, [this] {
        fail({DeviceError::Kind::NoDevice, QStringLiteral("录音设备不再送来声音，可能已被拔出")});
    });
}

WaveRecorder::~WaveRecorder() = default;

std::optional<DeviceError> WaveRecorder::start()
{
    release();
    m_pcm.clear();
    m_peak = 0;
    const QAudioDevice input = QMediaDevices::defaultAudioInput();
    if (input.isNull())
        return DeviceError{DeviceError::Kind::NoDevice, QStringLiteral("找不到录音设备")};
    QAudioFormat format;
    format.setSampleRate(SampleRate);
    format.setChannelCount(Channels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!input.isFormatSupported(format)) {
        return DeviceError{DeviceError::Kind::NoDevice,
                           QStringLiteral("录音设备不能录 %1 Hz 单声道的声音").arg(SampleRate)};
    }

    AudioStream<QAudioSource> source(new QAudioSource(input, format));
    QIODevice *io = source->start();
    if (!io)
        return audioDeviceError(source->error(), true);
    m_source = std::move(source);
    m_io = io;
    connect(m_io, &QIODevice::readyRead, this, &WaveRecorder::takeIn);
    // Queued, like the sink's signal: it may come from the sound server's thread. A state change
    // of a source already let go finds it gone or replaced, and in a sound state.
    connect(
        m_source.get(), &QAudioSource::stateChanged, this,
        [this] {
            if (m_source && m_source->state() == QAudio::StoppedState &&
                m_source->error() != QAudio::NoError)
                fail(audioDeviceError(m_source->error(), true));
        },
        Qt::QueuedConnection);
    m_stallTimer.start();
    return std::nullopt;
}

WaveRecorder::Take WaveRecorder::stop()
{
    if (m_io)
        takeIn();
    release();
    const Clip clip{std::exchange(m_pcm, {}), SampleRate, Channels};
    const bool silent = m_peak < SilentPeak;
    return {silent ? clip : trimDeadAir(clip), silent};
}

void WaveRecorder::takeIn()
{
    const QByteArray chunk = m_io->readAll();
    if (chunk.size() < Clip::BytesPerSample)
        return;
    m_stallTimer.start();
    const auto *samples = reinterpret_cast<const qint16 *>(chunk.constData());
    int peak = 0;
    for (qsizetype i = 0; i < chunk.size() / Clip::BytesPerSample; ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    m_pcm.append(chunk);
    m_peak = std::max(m_peak, peak / Clip::FullScale);
    Q_EMIT level(peak / Clip::FullScale,
                 qint64(m_pcm.size() / Clip::BytesPerSample) * 1000 / SampleRate);
}

void WaveRecorder::fail(const DeviceError &error)
{
    // What came in before is kept for stop.
    release();
    Q_EMIT failed(error);
}

void WaveRecorder::release()
{
    m_stallTimer.stop();
    if (m_io)
        m_io->disconnect(this);
    m_io = nullptr;
    m_source.reset();
}
