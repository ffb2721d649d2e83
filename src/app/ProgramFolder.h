#pragma once

#include <QString>

#include <optional>

// The folder that holds the running program, read from the system's own record of the program
// file with its bytes as they are (see NativePath.h), so that a folder named in code page 936
// bytes is found too. Empty when the system does not tell; the program never guesses one.
std::optional<QString> programFolder();
