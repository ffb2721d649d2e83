#include "ReadingPlan.h"

ReadingPlan::ReadingPlan(std::vector<Phrase> phrases, bool readAfterMe)
    : m_phrases(std::move(phrases))
    , m_readAfterMe(readAfterMe)
{
}

qint64 ReadingPlan::pauseAfter(const Phrase &phrase) const
{
    return m_readAfterMe ? phrase.endMs - phrase.startMs + ExtraPauseMs : 0;
}

Clip ReadingPlan::played(const Clip &recording) const
{
    if (!m_readAfterMe || m_phrases.empty())
        return recording;
    const qint64 frameBytes = recording.frameBytes();
    const auto bytesAt = [&](qint64 ms) {
        return std::clamp(ms * recording.sampleRate / 1000 * frameBytes, qint64(0),
                          qint64(recording.pcm.size()));
    };
    Clip played{QByteArray(), recording.sampleRate, recording.channels};
    qint64 copied = 0;
    for (const Phrase &phrase : m_phrases) {
        const qint64 end = std::max(bytesAt(phrase.endMs), copied);
        played.pcm += recording.pcm.sliced(copied, end - copied);
        played.pcm +=
            QByteArray(pauseAfter(phrase) * recording.sampleRate / 1000 * frameBytes, '\0');
        copied = end;
    }
    played.pcm += recording.pcm.sliced(copied);
    return played;
}

int ReadingPlan::partAt(qint64 playedMs) const
{
    // The pauses before a phrase push it later in the played sound.
    qint64 pausedBefore = 0;
    for (const Phrase &phrase : m_phrases) {
        const qint64 start = phrase.startMs + pausedBefore;
        if (playedMs < start)
            return NoPart;
        const qint64 end = phrase.endMs + pausedBefore + pauseAfter(phrase);
        if (playedMs < end)
            return phrase.part;
        pausedBefore += pauseAfter(phrase);
    }
    return NoPart;
}
