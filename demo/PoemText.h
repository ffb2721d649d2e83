#pragma once

#include "PoemRecord.h"

#include <QString>

#include <optional>
#include <vector>

// Reads poems written as UTF-8 text: a title and four lines per block, blocks separated by blank
// lines, # starting a comment. The poems in file order after an element 0 that is none, as a
// library holds them; without them, error says what is wrong.
std::optional<std::vector<PoemRecord>> readPoemText(const QString &path, QString &error);
