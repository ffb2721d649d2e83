#pragma once

#include "Timer.h"

#include <QString>

#include <functional>
#include <memory>

class WaveDevice;

// What a window needs from the world around it, handed in when it is created: tests give
// a temporary folder and a fake device, the program gives its own folder and the sound card.
struct Environment
{
    // The folder that holds Kavendo.dbf and the sound folder.
    QString applicationFolder;
    std::function<std::unique_ptr<WaveDevice>()> makeWaveDevice;
    // The windows' timers: real time, unless a test keeps the time itself.
    TimerFactory makeTimer = makeSystemTimer;
};
