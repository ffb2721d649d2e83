#pragma once

#include <QByteArray>
#include <QString>

// Where a poem's recording lives: the application folder's sound folder, the title without
// leading and trailing spaces, ".wav". A title that cannot name a file there (one that holds a /
// or a \, is "." or "..", or is empty, see characterUnfitForFileName) has no recording: its
// path is empty, so that no title, whatever a library file holds, leads out of the sound folder.
QString SoundPath(const QString &applicationFolder, const QString &title);

// Whether path names a file directly inside a folder called sound, reached without "." or "..",
// under a name that characterUnfitForFileName accepts: the only places where recordings are
// read, written and deleted.
bool isRecordingPath(const QString &path);

// What holds the recording at soundPath, as the native path to open: the path itself, else the
// same name with ".WAV", else the name in code page 936 bytes (as copying tools leave names made
// on old Windows computers). Whatever has that name is found, a symbolic link as the link, and
// also what is no recording (a folder, a pipe), so that reading it can say what it is. Empty when
// there is nothing or the path is no recording path.
QByteArray locateRecording(const QString &soundPath);

// The title whose recording soundPath is, as the parent reads it.
QString recordingTitle(const QString &soundPath);

// Removes what saves of recordings killed midway left in the application folder's sound folder.
void removeRecordingLeftovers(const QString &applicationFolder);
