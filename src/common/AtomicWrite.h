#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// Gives the file at path exactly these bytes, or leaves it as it was: the bytes go to a new
// file in the same folder, reach the disk, and only then take the file's name. Returns the
// system's error number when it could not be done; no temporary file is left behind.
std::optional<int> writeFileAtomically(const QString &path, QByteArrayView bytes);
