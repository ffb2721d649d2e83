#pragma once

#include "WaveFile.h"

#include <array>
#include <optional>
#include <vector>

struct PoemShape
{
    int title = 0;
    std::array<int, 4> lines{};
};

struct Phrase
{
    int part = 0;
    qint64 startMs = 0;
    qint64 endMs = 0;
};

std::optional<std::vector<Phrase>> findPhrases(const Clip &clip, const PoemShape &shape);
