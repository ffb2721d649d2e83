#include "CallSequences.h"

#include "WaveDeviceControl.h"

namespace {

const QString WaveAudio = QStringLiteral("waveaudio");

// Sends a command; when it fails, closes the device and hands back why.
std::optional<DeviceError> send(WaveDeviceControl &device, const QString &command)
{
    device.setCommand(command);
    std::optional<DeviceError> failure = device.error();
    if (failure && command != QStringLiteral("close"))
        device.setCommand(QStringLiteral("close"));
    return failure;
}

} // namespace

std::optional<DeviceError> playToEnd(WaveDeviceControl &MMControl1, const QString &soundPath)
{
    MMControl1.setNotify(false);
    MMControl1.setFileName(soundPath);
    if (auto failure = send(MMControl1, QStringLiteral("open")))
        return failure;
    MMControl1.setWait(true);
    if (auto failure = send(MMControl1, QStringLiteral("play")))
        return failure;
    return send(MMControl1, QStringLiteral("close"));
}

std::optional<DeviceError> playInPlaybackWindow(WaveDeviceControl &MMControl1,
                                                const QString &soundPath)
{
    MMControl1.setDeviceType(WaveAudio);
    MMControl1.setFileName(soundPath);
    if (auto failure = send(MMControl1, QStringLiteral("open")))
        return failure;
    MMControl1.setNotify(false);
    MMControl1.setWait(true);
    return send(MMControl1, QStringLiteral("play"));
}

std::optional<DeviceError> armRecording(WaveDeviceControl &MMControl1, const QString &soundPath)
{
    MMControl1.setDeviceType(WaveAudio);
    MMControl1.setFileName(soundPath);
    MMControl1.setNotify(false);
    if (auto failure = send(MMControl1, QStringLiteral("open")))
        return failure;
    MMControl1.setNotify(true);
    if (!MMControl1.CanRecord())
        return DeviceError{DeviceError::Kind::NoDevice, QStringLiteral("找不到录音设备")};
    return std::nullopt;
}

std::optional<DeviceError> saveRecording(WaveDeviceControl &MMControl1)
{
    MMControl1.setWait(true);
    MMControl1.setCommand(QStringLiteral("save"));
    if (auto failure = MMControl1.error())
        return failure;
    return send(MMControl1, QStringLiteral("close"));
}

void closeDevice(WaveDeviceControl &MMControl1)
{
    if (MMControl1.mode() != WaveDevice::Mode::Closed)
        MMControl1.setCommand(QStringLiteral("close"));
}
