#pragma once

#include "WaveFile.h"

#include <QStringView>

#include <array>
#include <optional>
#include <vector>

// How many characters the title and each line of the poem have that are read aloud: letters and
// digits, not punctuation or spaces ("鹅，鹅，鹅，" has three). Counting punctuation as well
// misleads the analysis on lines such as that one.
struct PoemShape
{
    int title = 0;
    std::array<int, 4> lines{};
};

// The shape of the poem with this title and these lines, as stored or shown.
PoemShape poemShape(QStringView title, const std::array<QStringView, 4> &lines);

// One spoken phrase of a recording.
struct Phrase
{
    int part = 0;       // 0 the title, 1 to 4 the poem's lines
    qint64 startMs = 0; // from the first sample of the clip
    qint64 endMs = 0;
};

// The title and the four lines in order (five phrases), or the four lines alone when the title is
// not read; std::nullopt ("unknown") when no split is clearly better than the others or the
// phrases are implausible. No highlight is better than a wrong one.
std::optional<std::vector<Phrase>> findPhrases(const Clip &clip, const PoemShape &shape);
