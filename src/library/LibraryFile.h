#pragma once

#include "PoemRecord.h"

#include <QString>

#include <optional>
#include <vector>

// The library file: 88-byte records of code page 936 text, no header, record N is poem N.
// A window reads the whole file into a copy of its own and the maintenance window writes its
// whole copy back; nothing keeps the file open in between.

// The library's path in the application folder.
QString LibraryFile(const QString &applicationFolder);

// A sentence for the user naming the file and what went wrong; empty when all went well.
using LibraryError = std::optional<QString>;

struct LoadedLibrary
{
    // Element 0 is never a poem; poem N is element N, in file order.
    std::vector<PoemRecord> Poems{1};
    LibraryError error;
};

// Reads the whole library. A missing file is created empty. A file length that is not a whole
// number of records counts as length / 88 rounded half to even; the missing bytes of a counted
// partial record read as spaces. On failure the result holds no poem and says why.
LoadedLibrary loadLibrary(const QString &path);

// Replaces the file's contents with Poems[1 ...]. The new contents go to a temporary file in the
// same folder, reach the disk, and then take the library's name, so a crash, a full disk or a
// refused write leaves the old file as it was.
[[nodiscard]] LibraryError rewriteLibrary(const QString &path,
                                          const std::vector<PoemRecord> &Poems);
