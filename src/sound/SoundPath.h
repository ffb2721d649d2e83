#pragma once

#include <QByteArray>
#include <QString>

// Where a poem's recording lives: the application folder's sound folder, the title without
// leading and trailing spaces, ".wav".
QString SoundPath(const QString &applicationFolder, const QString &title);

// The character that keeps text from standing as a file name on Linux or Windows
// (\ / : * ? " < > | or a control character), the whole text when it is "." or "..", and the
// empty text when the text can name a file.
QString characterUnfitForFileName(const QString &name);

// Whether path names a file directly inside a folder called sound, under a name that
// characterUnfitForFileName accepts: the only places where recordings are read, written and
// deleted, so that no title ever leads outside the sound folder.
bool isRecordingPath(const QString &path);

// The file that holds the recording at soundPath, as the native path to open: the path itself,
// else the same name with ".WAV", else the name in code page 936 bytes (as copying tools leave
// names made on old Windows computers). Empty when there is none or the path is no recording path.
QByteArray locateRecording(const QString &soundPath);
