#pragma once

#include <QString>

#include <optional>

// Where the library and the sound folder live, and making a user's own folder ready.

// The folder the program runs from is the application folder when it already holds a library
// or its user may write it: a portable folder, a USB stick, the build folder. An installed
// program (one with the installed data folder share/kavendo beside its own folder) keeps each
// user's library in that user's data folder instead, even when it could write its own folder:
// root may write /usr/bin, and no library belongs there. So does a program in any other folder
// that its user may not write.
QString applicationFolder(const QString &programFolder, const QString &dataHome);

// $XDG_DATA_HOME, or ~/.local/share when that is not set to an absolute path.
QString userDataHome();

// The demo library and recordings that an installed program brings along.
QString installedDemoFolder(const QString &programFolder);

// Creates the folder and any missing folder above it, private to the user. Returns the message
// for the parent when it cannot.
std::optional<QString> createUserFolder(const QString &folder);

// Puts the demo library and its recordings into a folder that has no library yet, never over
// a file that is there. The library comes last: a copy cut short by a full disk leaves no
// poem without its recording. Returns the message for the parent when it fails.
std::optional<QString> putDemoLibrary(const QString &demoFolder, const QString &folder);
