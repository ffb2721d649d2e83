#pragma once

#include "PoemRecord.h"

#include <QString>
#include <QStringView>

#include <array>
#include <memory>
#include <optional>

class CodePage936;

// A poem as typed into the maintenance window's five entry boxes.
struct PoemEntry
{
    QString title;
    std::array<QString, PoemRecord::LineCount> lines;
};

// Whether every box holds more than spaces: only such an entry can be confirmed. Tabs and
// full-width spaces count as text.
bool isFilled(const PoemEntry &entry);

// Whether the typed title, without the spaces around it, fits the library file's title field, so
// that the stored title and the name of the recording made for it always agree.
bool titleFits(QStringView typed, const CodePage936 &codePage);

// Why the entry cannot become a poem, as a sentence for the user; nothing when it can. The title
// names the recording, and everything goes into a code page 936 file: a title that cannot name a
// file, or text the file cannot hold, is refused before anything changes.
std::optional<QString> refusalOfEntry(const PoemEntry &entry, const CodePage936 &codePage);

// The poem the entry stands for: the title without the spaces around it, the lines as typed.
PoemRecord poemOf(const PoemEntry &entry, std::shared_ptr<const CodePage936> codePage);
