#include "FakeWaveDevice.h"

#include "SoundPath.h"

using namespace Qt::StringLiterals;

void FakeWaveDevice::setFileName(const QString &fileName)
{
    m_fileName = fileName;
    write(u"FileName="_s + fileName);
}

void FakeWaveDevice::setNotify(bool notify)
{
    m_notify = notify;
    write(u"Notify="_s + (notify ? u"true"_s : u"false"_s));
}

void FakeWaveDevice::setPoemShape(const PoemShape &shape)
{
    QStringList counts{QString::number(shape.title)};
    for (int count : shape.lines)
        counts << QString::number(count);
    write(u"PoemShape="_s + counts.join(u','));
}

void FakeWaveDevice::setCommand(const QString &command)
{
    write(u"Command="_s + command);
    m_error = failures.contains(command) ? std::optional(failures.value(command)) : std::nullopt;
    if (m_error && m_error->kind == DeviceError::Kind::NoSound)
        m_length = 0;
    if (m_error && command != u"close"_s)
        return;
    if (command == u"open"_s) {
        m_hasSound = !locateRecording(m_fileName).isEmpty();
        m_length = 0;
        setMode(Mode::Open);
    } else if (command == u"play"_s) {
        if (!m_hasSound) {
            m_error = DeviceError{DeviceError::Kind::MissingFile, m_fileName};
            return;
        }
        setMode(Mode::Playing);
        if (whilePlaying)
            whilePlaying();
        if (m_mode == Mode::Playing) // unless it was closed meanwhile
            setMode(Mode::Open);
    } else if (command == u"close"_s) {
        m_length = 0;
        setMode(Mode::Closed);
    }
}

bool FakeWaveDevice::CanPlay() const
{
    return m_mode == Mode::Open && (m_length > 0 || !locateRecording(m_fileName).isEmpty());
}

void FakeWaveDevice::record()
{
    write(u"record"_s);
    m_elapsed = 0;
    setMode(Mode::Recording);
}

void FakeWaveDevice::stop()
{
    write(u"stop"_s);
    if (m_mode == Mode::Recording)
        endTake(NotifyAborted);
    setMode(Mode::Open);
}

void FakeWaveDevice::breakOffTake(const DeviceError &error)
{
    m_error = error;
    endTake(NotifyFailure);
}

void FakeWaveDevice::endTake(NotifyCode code)
{
    m_length = std::max<qint64>(m_elapsed, 1);
    setMode(Mode::Open);
    if (m_notify)
        Q_EMIT Done(code);
}

void FakeWaveDevice::listen()
{
    write(u"listen"_s);
    if (CanPlay())
        setMode(Mode::Playing);
}

void FakeWaveDevice::write(const QString &line)
{
    if (journal)
        *journal << line;
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
        device->failures = failures;
        device->whilePlaying = whilePlaying;
        device->journal = &journal;
        made << device.get();
        return std::unique_ptr<WaveDevice>(std::move(device));
    };
}
