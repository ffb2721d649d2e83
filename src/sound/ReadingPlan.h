#pragma once

#include "Phrases.h"
#include "WaveFile.h"

#include <vector>

// How a poem's recording is played when its phrases are known: as it is, lighting up each phrase
// while it is heard, or, read after me, with a pause after each phrase for the child to say it
// again, the phrase staying lit meanwhile. A recording whose phrases are unknown is played whole
// and lights nothing.
class ReadingPlan final
{
public:
    static constexpr int NoPart = -1;
    // How much longer than the phrase itself the pause after it lasts.
    static constexpr qint64 ExtraPauseMs = 1000;

    ReadingPlan() = default;
    ReadingPlan(std::vector<Phrase> phrases, bool readAfterMe);

    // The sound to play: the recording, with a silence after each phrase when read after me.
    Clip played(const Clip &recording) const;
    // The part heard (0 the title, 1 to 4 the lines) at a time of the played sound; NoPart
    // between phrases.
    int partAt(qint64 playedMs) const;

private:
    qint64 pauseAfter(const Phrase &phrase) const;

    std::vector<Phrase> m_phrases;
    bool m_readAfterMe = false;
};
