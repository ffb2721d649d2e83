#pragma once

#include "WaveDevice.h"

#include <QHash>
#include <QPointer>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>

// A wave device without sound: it writes down every member set and every command sent, finds
// recordings on disk as the real device does, fails the commands it is told to fail, and breaks
// off a take when told to.
class FakeWaveDevice final : public WaveDevice
{
    Q_OBJECT

public:
    void setDeviceType(const QString &type) override { write(u"DeviceType=", type); }
    void setFileName(const QString &name) override { write(u"FileName=", m_fileName = name); }
    void setNotify(bool notify) override { write(u"Notify=", m_notify = notify); }
    void setWait(bool wait) override { write(u"Wait=", wait); }
    void setPoemShape(const PoemShape &shape) override;
    void setReadAfterMe(bool on) override { write(u"ReadAfterMe=", on); }
    void setCommand(const QString &command) override;
    std::optional<DeviceError> error() const override { return m_error; }
    Mode mode() const override { return m_mode; }
    bool CanPlay() const override;
    bool CanRecord() const override { return m_mode == Mode::Open; }
    qint64 Length() const override { return m_length; }
    qint64 position() const override { return 0; }
    void record() override;
    void stop() override;
    void listen() override;

    // Ends the take as a sound input that breaks off does.
    void breakOffTake(const DeviceError &error) { endTake(NotifyFailure, error); }
    void hearPart(int part) { Q_EMIT partHeard(part); }

    // Where it writes "DeviceType=waveaudio", "FileName=…", "PoemShape=3,5,5,5,5",
    // "Command=open", "listen" …, so that they outlive the device.
    QStringList *journal = nullptr;
    QHash<QString, DeviceError> failures;
    // Runs inside "play", while the sound would be heard.
    std::function<void()> whilePlaying;

private:
    void write(QStringView what, const QVariant &value = {})
    {
        *journal << what.toString() + value.toString();
    }
    void setMode(Mode mode);
    void endTake(NotifyCode code, std::optional<DeviceError> error = std::nullopt);

    QString m_fileName;
    bool m_notify = false;
    qint64 m_length = 0;
    std::optional<DeviceError> m_error;
    Mode m_mode = Mode::Closed;
};

// Makes fake devices for a window's Environment and keeps track of them.
class FakeDevices final
{
public:
    std::function<std::unique_ptr<WaveDevice>()> factory();
    FakeWaveDevice *last() const { return made.isEmpty() ? nullptr : made.last().data(); }

    // The devices made so far, oldest first; null once its window has gone.
    QList<QPointer<FakeWaveDevice>> made;
    // Every line that any of them has written, in order.
    QStringList journal;
    // Handed to every device as it is made.
    std::function<void()> whilePlaying;
};
