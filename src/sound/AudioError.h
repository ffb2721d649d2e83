#pragma once

#include "WaveDevice.h"

#include <QAudio>

// A DeviceError for a sound card that failed, in words a parent can act on.
DeviceError audioDeviceError(QAudio::Error error, bool recording);
