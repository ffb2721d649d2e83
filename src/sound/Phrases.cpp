#include "Phrases.h"

#include "Levels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include <QList>

namespace {

// Short enough to place a boundary well within what a listener notices, long enough that a
// frame's level is that of the sound rather than of one wave of it.
constexpr int FrameMs = 10;

// 16-bit samples of a microphone never sit this low; frames below it are the digital silence a
// program writes, and say nothing about the room's noise.
constexpr double DigitalSilenceDb = -80;
// The noise floor is the level that this share of the other frames stays under. Pauses and dead
// air make up far more of a poem's recording than that, so it lands among them, while a few
// frames of dropout cannot drag it down.
constexpr double FloorShare = 0.05;
// The speech level is the level that this share of the frames stays under: the loud vowels.
constexpr double SpeechShare = 0.95;
// Sound is a run of frames that rise WeakRiseDb above the floor, of which one at least rises by
// RiseShare of the way to the speech level, and by MinimumRiseDb: a noise floor's own frames
// wander by a few decibels, so only a rise well clear of them starts a sound, while its soft
// consonants and fading vowels still belong to it.
constexpr double WeakRiseDb = 6;
constexpr double RiseShare = 0.3;
constexpr double MinimumRiseDb = 10;

// Gaps shorter than this are the closures of stops and the joins of syllables inside a phrase;
// even a hurried reader pauses longer between lines.
constexpr int BridgedGapMs = 80;
// Sound that lasts ShortestSoundMs and whose loudest frame comes this close to the speech level
// is speech. Shorter or softer sound is speech only if it is voiced: a syllable's vowel repeats
// itself with the pitch of the voice, correlating with itself one period later by
// VoicedCorrelation at least, while a click, a breath, a rustle or the hiss of the room does not
// repeat itself at all.
constexpr int ShortestSoundMs = 60;
constexpr double SureSpeechBelowDb = 6;
constexpr double VoicedCorrelation = 0.5;
// The pitches of voices, from a low man's to a small child's, and a window that holds at least
// two periods of the lowest.
constexpr int LowestVoiceHz = 60;
constexpr int HighestVoiceHz = 500;
constexpr int VoiceWindowMs = 40;
// Pitch needs no more samples a second than this, however many the recording has.
constexpr int PitchRate = 8000;

// Only the longest pauses can end a line: a recording of a poem has a handful of true pauses,
// and this many candidates leave room for a few mid-line ones while keeping the search small.
constexpr size_t CandidatePauses = 16;
// A pause between lines as a reader makes it for a child; a shorter one is less convincing.
constexpr int ClearPauseMs = 250;
// The longest pause a reader makes between the words of a line; a longer one inside a phrase is
// less convincing.
constexpr int WordPauseMs = 120;

// How far, as natural logarithms, a line strays from the length its characters predict at the
// recording's pace, and a title, which readers say more freely: the widths of the length terms
// of a split's cost. A line whose pace is more than LongestStray from the other lines' (a factor
// of 1.57: three characters read as five), or a title more than LongestTitleStray from the lines'
// (a factor of 2.5), is not that phrase.
constexpr double LineSpread = 0.2;
constexpr double TitleSpread = 0.35;
constexpr double LongestStray = 0.45;
constexpr double LongestTitleStray = 0.92;
// How far, as natural logarithms, chosen pauses stray from a clear pause between lines, and
// pauses left inside phrases from a pause between words: the width of the pause terms.
constexpr double PauseSpread = 0.3;
// Readers take between these times per character read aloud.
constexpr double FastestCharacterMs = 100;
constexpr double SlowestCharacterMs = 1500;
// A split is trusted when every split that places some boundary differently costs this much
// more: close costs mean the recording does not say which is right.
constexpr double ConfidenceMargin = 4;
// Phrases whose lengths fit their characters worse than this are not the poem's, however much
// better they are than the others.
constexpr double HighestFit = 20;
// Splits whose boundaries all lie this close together are the same answer.
constexpr int SameBoundaryMs = 150;

constexpr int LineCount = int(std::tuple_size_v<decltype(PoemShape::lines)>);
constexpr int MaxPhrases = LineCount + 1;

// A stretch of frames [begin, end).
struct Span
{
    int begin = 0;
    int end = 0;
    int length() const { return end - begin; }
};

struct Split
{
    int phrases = 0;
    std::array<Span, MaxPhrases> spans{};
    double fit = 0;  // how well the phrases' lengths fit their characters
    double cost = 0; // fit and pauses together
};

// The level of every whole frame of the clip's channels mixed down, in dB of full scale.
std::vector<double> frameLevels(const Clip &clip, int frameLength)
{
    const int channels = clip.channels;
    const qint64 frames = clip.frames() / frameLength;
    std::vector<qint16> samples(size_t(frameLength * channels));
    std::vector<double> levels;
    levels.reserve(size_t(frames));
    const double fullScale = Clip::FullScale * Clip::FullScale * channels * channels * frameLength;
    for (qint64 frame = 0; frame < frames; ++frame) {
        std::memcpy(samples.data(), clip.pcm.constData() + frame * frameLength * clip.frameBytes(),
                    samples.size() * sizeof(qint16));
        qint64 energy = 0;
        for (size_t i = 0; i < samples.size(); i += size_t(channels)) {
            qint64 mixed = 0;
            for (int c = 0; c < channels; ++c)
                mixed += samples[i + size_t(c)];
            energy += mixed * mixed;
        }
        levels.push_back(10 * std::log10(double(energy) / fullScale + 1e-10));
    }
    return levels;
}

// The clip's channels mixed down over the sample frames [first, first + count), averaged over
// steps of step frames.
std::vector<float> mixedDown(const Clip &clip, qint64 first, qint64 count, int step)
{
    std::vector<qint16> samples(size_t(step * clip.channels));
    std::vector<float> mixed;
    mixed.reserve(size_t(count / step));
    for (qint64 frame = first; frame + step <= first + count; frame += step) {
        std::memcpy(samples.data(), clip.pcm.constData() + frame * clip.frameBytes(),
                    samples.size() * sizeof(qint16));
        mixed.push_back(
            float(std::accumulate(samples.begin(), samples.end(), 0.0) / double(samples.size())));
    }
    return mixed;
}

// How strongly the samples correlate with themselves shifted by a period in [shortest, longest].
double periodicity(const std::vector<float> &samples, int shortest, int longest)
{
    double strongest = 0;
    for (size_t lag = size_t(shortest); lag <= size_t(longest) && lag < samples.size(); ++lag) {
        double both = 0;
        double early = 0;
        double late = 0;
        for (size_t i = 0; i + lag < samples.size(); ++i) {
            both += double(samples[i]) * samples[i + lag];
            early += double(samples[i]) * samples[i];
            late += double(samples[i + lag]) * samples[i + lag];
        }
        if (early > 0 && late > 0)
            strongest = std::max(strongest, both / std::sqrt(early * late));
    }
    return strongest;
}

// Finds the phrases of one recording of one poem.
class PhraseFinder final
{
    Q_DISABLE_COPY_MOVE(PhraseFinder)

public:
    PhraseFinder(const Clip &clip, const PoemShape &shape);
    std::optional<std::vector<Phrase>> find();

private:
    int frames(int ms) const { return int(std::ceil(ms / m_frameMs)); }
    bool findLevels();
    bool isVoiced(int frame) const;
    void findSpeech();
    void findPauses();
    void search(int phrases, const int *characters);
    std::optional<Split> evaluate(const std::vector<size_t> &chosen, const int *characters) const;
    bool sameAnswer(const Split &a, const Split &b) const;

    const Clip &m_clip;
    PoemShape m_shape;
    int m_frameLength = 1; // samples
    double m_frameMs = FrameMs;
    std::vector<double> m_levels;
    double m_floorDb = 0;
    double m_speechDb = 0;
    std::vector<Span> m_speech;       // the runs of sound that are speech, in order
    std::vector<Span> m_pauses;       // the gaps between them
    std::vector<size_t> m_candidates; // indices into m_pauses, in order
    std::vector<Split> m_splits;      // every plausible split
};

PhraseFinder::PhraseFinder(const Clip &clip, const PoemShape &shape)
    : m_clip(clip)
    , m_shape(shape)
{
}

bool PhraseFinder::findLevels()
{
    if (m_clip.sampleRate <= 0 || m_clip.channels <= 0)
        return false;
    m_frameLength = std::max(1, m_clip.sampleRate * FrameMs / 1000);
    m_frameMs = m_frameLength * 1000.0 / m_clip.sampleRate;
    m_levels = frameLevels(m_clip, m_frameLength);
    std::vector<double> audible;
    std::copy_if(m_levels.begin(), m_levels.end(), std::back_inserter(audible),
                 [](double level) { return level > DigitalSilenceDb; });
    if (audible.empty())
        return false;
    m_floorDb = levelAtShare(std::move(audible), FloorShare);
    m_speechDb = levelAtShare(m_levels, SpeechShare);
    return m_speechDb - m_floorDb >= MinimumRiseDb;
}

void PhraseFinder::findSpeech()
{
    const double weak = m_floorDb + WeakRiseDb;
    const double strong = m_floorDb + std::max(MinimumRiseDb, RiseShare * (m_speechDb - m_floorDb));
    std::vector<Span> sounds;
    for (int frame = 0; frame < int(m_levels.size()); ++frame) {
        if (m_levels[size_t(frame)] <= weak)
            continue;
        if (!sounds.empty() && frame - sounds.back().end < frames(BridgedGapMs))
            sounds.back().end = frame + 1;
        else
            sounds.push_back({frame, frame + 1});
    }
    for (const Span &sound : sounds) {
        const auto loudest =
            std::max_element(m_levels.begin() + sound.begin, m_levels.begin() + sound.end);
        const bool plainlySpeech =
            sound.length() >= frames(ShortestSoundMs) && *loudest >= m_speechDb - SureSpeechBelowDb;
        if (*loudest > strong && (plainlySpeech || isVoiced(int(loudest - m_levels.begin()))))
            m_speech.push_back(sound);
    }
}

// Whether the sound around the frame is a voice.
bool PhraseFinder::isVoiced(int frame) const
{
    const int step = std::max(1, m_clip.sampleRate / PitchRate);
    const qint64 window = qint64(m_clip.sampleRate) * VoiceWindowMs / 1000;
    const qint64 first = std::clamp(qint64(frame) * m_frameLength + m_frameLength / 2 - window / 2,
                                    qint64(0), std::max(qint64(0), m_clip.frames() - window));
    const int rate = m_clip.sampleRate / step;
    return periodicity(mixedDown(m_clip, first, std::min(window, m_clip.frames()), step),
                       rate / HighestVoiceHz, rate / LowestVoiceHz) >= VoicedCorrelation;
}

void PhraseFinder::findPauses()
{
    for (size_t i = 1; i < m_speech.size(); ++i)
        m_pauses.push_back({m_speech[i - 1].end, m_speech[i].begin});
    m_candidates.resize(m_pauses.size());
    std::iota(m_candidates.begin(), m_candidates.end(), 0);
    if (m_candidates.size() > CandidatePauses) {
        std::partial_sort(
            m_candidates.begin(), m_candidates.begin() + CandidatePauses, m_candidates.end(),
            [this](size_t a, size_t b) { return m_pauses[a].length() > m_pauses[b].length(); });
        m_candidates.resize(CandidatePauses);
        std::sort(m_candidates.begin(), m_candidates.end());
    }
}

// Tries every choice of phrases - 1 candidate pauses as the ends of phrases.
void PhraseFinder::search(int phrases, const int *characters)
{
    const size_t pauses = size_t(phrases - 1);
    if (m_candidates.size() < pauses)
        return;
    std::vector<bool> taken(m_candidates.size(), false);
    std::fill(taken.begin(), taken.begin() + std::ptrdiff_t(pauses), true);
    std::vector<size_t> chosen;
    do {
        chosen.clear();
        for (size_t i = 0; i < taken.size(); ++i) {
            if (taken[i])
                chosen.push_back(m_candidates[i]);
        }
        if (std::optional<Split> split = evaluate(chosen, characters))
            m_splits.push_back(*split);
    } while (std::prev_permutation(taken.begin(), taken.end()));
}

// The cost of ending phrases at the chosen pauses: how far the phrases' lengths stray from what
// their characters predict at the recording's own pace, and how much less clear the chosen
// pauses are than a pause between lines, or than a pause left inside a phrase.
std::optional<Split> PhraseFinder::evaluate(const std::vector<size_t> &chosen,
                                            const int *characters) const
{
    Split split;
    split.phrases = int(chosen.size()) + 1;
    int begin = m_speech.front().begin;
    for (size_t i = 0; i < chosen.size(); ++i) {
        split.spans[i] = {begin, m_pauses[chosen[i]].begin};
        begin = m_pauses[chosen[i]].end;
    }
    split.spans[chosen.size()] = {begin, m_speech.back().end};

    // The pace is the lines' own: a title may be said faster or slower.
    const int firstLine = split.phrases - LineCount;
    std::array<double, MaxPhrases> paces{};
    for (int i = 0; i < split.phrases; ++i)
        paces[size_t(i)] = std::log(split.spans[size_t(i)].length() * m_frameMs / characters[i]);
    const double pace =
        std::accumulate(paces.begin() + firstLine, paces.begin() + split.phrases, 0.0) / LineCount;
    if (pace < std::log(FastestCharacterMs) || pace > std::log(SlowestCharacterMs))
        return std::nullopt;
    for (int i = 0; i < split.phrases; ++i) {
        const double stray = std::abs(paces[size_t(i)] - pace);
        const double fromOtherLines = stray * LineCount / (LineCount - 1);
        if (i < firstLine ? stray > LongestTitleStray : fromOtherLines > LongestStray)
            return std::nullopt;
        const double spread = i < firstLine ? TitleSpread : LineSpread;
        split.fit += (stray / spread) * (stray / spread);
    }
    split.cost = split.fit;

    const auto pauseCost = [](double shorter, double longer) {
        const double ratio = std::log(longer / shorter) / PauseSpread;
        return longer > shorter ? ratio * ratio : 0.0;
    };
    int shortest = m_pauses[chosen.front()].length();
    for (const size_t pause : chosen) {
        shortest = std::min(shortest, m_pauses[pause].length());
        split.cost += pauseCost(m_pauses[pause].length(), frames(ClearPauseMs));
    }
    for (const size_t pause : m_candidates) {
        if (std::find(chosen.begin(), chosen.end(), pause) == chosen.end()) {
            split.cost += pauseCost(shortest, m_pauses[pause].length()) +
                          pauseCost(frames(WordPauseMs), m_pauses[pause].length());
        }
    }
    return split;
}

bool PhraseFinder::sameAnswer(const Split &a, const Split &b) const
{
    if (a.phrases != b.phrases)
        return false;
    for (int i = 0; i < a.phrases; ++i) {
        const Span &x = a.spans[size_t(i)];
        const Span &y = b.spans[size_t(i)];
        if (std::abs(x.begin - y.begin) * m_frameMs > SameBoundaryMs ||
            std::abs(x.end - y.end) * m_frameMs > SameBoundaryMs)
            return false;
    }
    return true;
}

std::optional<std::vector<Phrase>> PhraseFinder::find()
{
    if (std::any_of(m_shape.lines.begin(), m_shape.lines.end(), [](int n) { return n <= 0; }))
        return std::nullopt;
    if (!findLevels())
        return std::nullopt;
    findSpeech();
    if (m_speech.empty())
        return std::nullopt;
    findPauses();
    const std::array<int, MaxPhrases> characters{m_shape.title, m_shape.lines[0], m_shape.lines[1],
                                                 m_shape.lines[2], m_shape.lines[3]};
    if (m_shape.title > 0)
        search(MaxPhrases, characters.data());
    search(MaxPhrases - 1, characters.data() + 1);
    if (m_splits.empty())
        return std::nullopt;

    const Split &best =
        *std::min_element(m_splits.begin(), m_splits.end(),
                          [](const Split &a, const Split &b) { return a.cost < b.cost; });
    if (best.fit > HighestFit)
        return std::nullopt;
    for (const Split &other : m_splits) {
        if (other.cost < best.cost + ConfidenceMargin && !sameAnswer(best, other))
            return std::nullopt;
    }

    std::vector<Phrase> phrases;
    const int firstPart = MaxPhrases - best.phrases;
    for (int i = 0; i < best.phrases; ++i) {
        const Span &span = best.spans[size_t(i)];
        phrases.push_back({firstPart + i, qint64(std::llround(span.begin * m_frameMs)),
                           qint64(std::llround(span.end * m_frameMs))});
    }
    return phrases;
}

} // namespace

PoemShape poemShape(QStringView title, const std::array<QStringView, 4> &lines)
{
    const auto spoken = [](QStringView text) {
        const QList<uint> characters = text.toUcs4();
        return int(std::count_if(characters.begin(), characters.end(),
                                 [](uint c) { return QChar::isLetterOrNumber(c); }));
    };
    PoemShape shape{spoken(title), {}};
    std::transform(lines.begin(), lines.end(), shape.lines.begin(), spoken);
    return shape;
}

std::optional<std::vector<Phrase>> findPhrases(const Clip &clip, const PoemShape &shape)
{
    return PhraseFinder(clip, shape).find();
}
