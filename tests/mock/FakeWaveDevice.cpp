#include "FakeWaveDevice.h"

#include "SoundPath.h"

namespace {

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

void FakeWaveDevice::setDeviceType(const QString &type)
{
    write(QStringLiteral("DeviceType=") + type);
}

void FakeWaveDevice::setFileName(const QString &fileName)
{
    m_fileName = fileName;
    write(QStringLiteral("FileName=") + fileName);
}

void FakeWaveDevice::setNotify(bool notify)
{
    m_notify = notify;
    write(QStringLiteral("Notify=") + boolText(notify));
}

void FakeWaveDevice::setWait(bool wait)
{
    write(QStringLiteral("Wait=") + boolText(wait));
}

void FakeWaveDevice::setCommand(const QString &command)
{
    write(QStringLiteral("Command=") + command);
    m_error = failures.contains(command) ? std::optional(failures.value(command)) : std::nullopt;
    if (command == QStringLiteral("open") && !m_error) {
        m_hasSound = !locateRecording(m_fileName).isEmpty();
        setMode(Mode::Open);
    } else if (command == QStringLiteral("play") && !m_error) {
        if (!m_hasSound) {
            m_error = DeviceError{DeviceError::Kind::MissingFile, m_fileName};
            return;
        }
        setMode(Mode::Playing);
        if (whilePlaying)
            whilePlaying();
        if (m_mode == Mode::Playing) // unless it was closed meanwhile
            setMode(Mode::Open);
    } else if (command == QStringLiteral("close")) {
        setMode(Mode::Closed);
    }
}

void FakeWaveDevice::record()
{
    write(QStringLiteral("record"));
    setMode(Mode::Recording);
}

void FakeWaveDevice::stop()
{
    write(QStringLiteral("stop"));
    const bool wasRecording = m_mode == Mode::Recording;
    setMode(Mode::Open);
    if (wasRecording && m_notify)
        Q_EMIT Done(4);
}

void FakeWaveDevice::write(const QString &line)
{
    log << line;
    if (journal)
        *journal << line;
}

void FakeWaveDevice::setMode(Mode mode)
{
    if (m_mode == mode)
        return;
    m_mode = mode;
    Q_EMIT modeChanged(mode);
}

std::function<std::unique_ptr<WaveDevice>()> FakeDevices::factory()
{
    return [this] {
        auto device = std::make_unique<FakeWaveDevice>();
        device->failures = failures;
        device->whilePlaying = whilePlaying;
        device->journal = &journal;
        made << device.get();
        return std::unique_ptr<WaveDevice>(std::move(device));
    };
}
