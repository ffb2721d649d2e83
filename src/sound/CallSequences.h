#pragma once

#include "WaveDevice.h"

#include <QString>

#include <optional>

class WaveDeviceControl;

// The ways the windows drive their MMControl1, each setting the members in its fixed order.
// A sequence stops at the first command that fails, closes the device and returns why; a failed
// save alone keeps the device open, so that the take can be saved again.

// 朗读 in the main window: open, play to the end, close.
std::optional<DeviceError> playToEnd(WaveDeviceControl &MMControl1, const QString &soundPath);

// The playback window: open and play to the end; the window closes the device later.
std::optional<DeviceError> playInPlaybackWindow(WaveDeviceControl &MMControl1,
                                                const QString &soundPath);

// 录入确认 or a double-click on a poem in the maintenance window: opens the device on soundPath,
// for recording a take and listening to it, and asks to be told when the user's recording ends.
// A computer without a sound input is reported (NoDevice) with the device left open, since the
// recording already there can still be listened to.
std::optional<DeviceError> armRecording(WaveDeviceControl &MMControl1, const QString &soundPath);

// On Done(NotifyAborted) in the maintenance window: writes the take to the armed path and
// closes.
std::optional<DeviceError> saveRecording(WaveDeviceControl &MMControl1);

// Releases the device, its take included, when it is open.
void closeDevice(WaveDeviceControl &MMControl1);
