#include "FakeWaveDevice.h"

#include "SoundPath.h"

using namespace Qt::StringLiterals;

void FakeWaveDevice::setPoemShape(const PoemShape &shape)
{
    const auto &[first, second, third, fourth] = shape.lines;
    write(u"PoemShape=",
          u"%1,%2,%3,%4,%5"_s.arg(shape.title).arg(first).arg(second).arg(third).arg(fourth));
}

void FakeWaveDevice::setCommand(const QString &command)
{
    write(u"Command=", command);
    m_error = failures.contains(command) ? std::optional(failures.value(command)) : std::nullopt;
    if (m_error && m_error->kind == DeviceError::Kind::NoSound)
        m_length = 0;
    if (m_error && command != u"close"_s)
        return;
    if (command == u"open"_s || command == u"close"_s) {
        m_length = 0;
        setMode(command == u"open"_s ? Mode::Open : Mode::Closed);
    } else if (command == u"play"_s && locateRecording(m_fileName).isEmpty()) {
        m_error = DeviceError{DeviceError::Kind::MissingFile, m_fileName};
    } else if (command == u"play"_s) {
        setMode(Mode::Playing);
        if (whilePlaying)
            whilePlaying();
        if (m_mode == Mode::Playing) // unless it was closed meanwhile
            setMode(Mode::Open);
    }
}

bool FakeWaveDevice::CanPlay() const
{
    return m_mode == Mode::Open && (m_length > 0 || !locateRecording(m_fileName).isEmpty());
}

void FakeWaveDevice::record()
{
    write(u"record");
    setMode(Mode::Recording);
}

void FakeWaveDevice::stop()
{
    write(u"stop");
    if (m_mode == Mode::Recording)
        endTake(NotifyAborted);
    setMode(Mode::Open);
}

void FakeWaveDevice::listen()
{
    write(u"listen");
    if (CanPlay())
        setMode(Mode::Playing);
}

void FakeWaveDevice::endTake(NotifyCode code, std::optional<DeviceError> error)
{
    m_error = std::move(error);
    m_length = 1; // a take is held until it is saved
    setMode(Mode::Open);
    if (m_notify)
        Q_EMIT Done(code);
}

void FakeWaveDevice::setMode(Mode mode)
{
    if (m_mode != mode)
        Q_EMIT modeChanged(m_mode = mode);
}

std::function<std::unique_ptr<WaveDevice>()> FakeDevices::factory()
{
    return [this] {
        auto device = std::make_unique<FakeWaveDevice>();
        device->whilePlaying = whilePlaying;
        device->journal = &journal;
        made << device.get();
        return std::unique_ptr<WaveDevice>(std::move(device));
    };
}
