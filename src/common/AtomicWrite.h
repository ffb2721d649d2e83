#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// What becomes of a file that already has the name.
enum class ExistingFile { Replace, Keep };

// Gives the file at path exactly these bytes, or leaves it as it was: the bytes go to a new
// file in the same folder, reach the disk, and only then take the file's name. Returns the
// system's error number when it could not be done (EEXIST for a file that is kept); no
// temporary file is left behind.
std::optional<int> writeFileAtomically(const QString &path, QByteArrayView bytes,
                                       ExistingFile existing = ExistingFile::Replace);
