#include "WaveRecorder.h"

#include "AudioError.h"
#include "DeadAir.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QMediaDevices>

#include <cstdlib>

WaveRecorder::WaveRecorder(QObject *parent)
    : QObject(parent)
{
}

WaveRecorder::~WaveRecorder()
{
    release();
}

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
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!input.isFormatSupported(format)) {
        return DeviceError{DeviceError::Kind::NoDevice,
                           QStringLiteral("录音设备不能录 22050 Hz 单声道的声音")};
    }

    auto source = std::make_unique<QAudioSource>(input, format);
    QIODevice *io = source->start();
    if (!io) {
        const DeviceError error = audioDeviceError(source->error(), true);
        source.release()->deleteLater();
        return error;
    }
    m_source = std::move(source);
    m_io = io;
    connect(m_io, &QIODevice::readyRead, this, &WaveRecorder::takeIn);
    // Queued, like the sink's signal: it may come from the sound server's thread. A state change
    // of a source already released finds m_source gone or replaced and in a sound state.
    connect(
        m_source.get(), &QAudioSource::stateChanged, this,
        [this] {
            if (!m_source || m_source->state() != QAudio::StoppedState ||
                m_source->error() == QAudio::NoError)
                return;
            const DeviceError error = audioDeviceError(m_source->error(), true);
            release();
            m_pcm.clear();
            Q_EMIT failed(error);
        },
        Qt::QueuedConnection);
    return std::nullopt;
}

WaveRecorder::Take WaveRecorder::stop()
{
    if (m_source)
        takeIn();
    release();
    const Clip clip{std::exchange(m_pcm, {}), SampleRate, 1};
    const bool silent = m_peak < SilentPeak;
    return {silent ? clip : trimDeadAir(clip), silent};
}

void WaveRecorder::takeIn()
{
    const QByteArray chunk = m_io->readAll();
    if (chunk.size() < 2)
        return;
    const auto *samples = reinterpret_cast<const qint16 *>(chunk.constData());
    int peak = 0;
    for (qsizetype i = 0; i < chunk.size() / 2; ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    m_pcm.append(chunk);
    m_peak = std::max(m_peak, qreal(peak) / 32768);
    Q_EMIT level(qreal(peak) / 32768, qint64(m_pcm.size() / 2) * 1000 / SampleRate);
}

void WaveRecorder::release()
{
    if (!m_source)
        return;
    m_source->disconnect(this);
    m_io->disconnect(this);
    m_source->stop();
    // Destroying a PulseAudio source runs every pending event, clicks and keys included, inside
    // whatever handler stops the recording; the event loop around it destroys the source.
    m_source.release()->deleteLater();
    m_io = nullptr;
}
