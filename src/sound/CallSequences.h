#pragma once

#include "WaveDevice.h"

#include <QString>

#include <optional>

class WaveDeviceControl;

// The four ways the windows drive their MMControl1, each setting the members in its fixed
// order. A sequence stops at the first command that fails, closes the device and returns why.

// 朗读 in the main window: open, play to the end, close.
std::optional<DeviceError> playToEnd(WaveDeviceControl &MMControl1, const QString &soundPath);

// The playback window: open and play to the end; the window closes the device later.
std::optional<DeviceError> playInPlaybackWindow(WaveDeviceControl &MMControl1,
                                                const QString &soundPath);

// 录入确认 in the maintenance window: opens an empty recording at soundPath and asks to be told
// when the user's recording ends.
std::optional<DeviceError> armRecording(WaveDeviceControl &MMControl1, const QString &soundPath);

// On Done(4) in the maintenance window: writes the recording to the armed path and closes.
std::optional<DeviceError> saveRecording(WaveDeviceControl &MMControl1);
