#pragma once

#include "WaveFile.h"

// A parent presses Record, takes a breath, reads, and presses Stop a moment later: what comes
// before the first sound and after the last is dead air, and a child waits through it every
// time the poem is read. trimDeadAir cuts it down to a short pause on each side. What counts as
// sound is measured on the take itself, against its own quietest stretches, so that a noisy room
// and a quiet one are judged alike. Nothing between the first sound and the last is ever cut,
// and a take that is sound from end to end comes back whole.
Clip trimDeadAir(const Clip &take);
