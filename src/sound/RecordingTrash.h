#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Recordings that a new take replaces, or whose poem is deleted, go to the desktop's trash, from
// which a parent who regrets it can restore them with the file manager.

// Moves the file that the system calls nativeFile into the trash and tells where it went there.
// Nothing when there is no trash for it, or when its name is no UTF-8 (Qt's trash cannot name
// such a file): the file then stays where it is.
std::optional<QString> moveToTrash(const QByteArray &nativeFile);

// Puts a file that moveToTrash moved back at nativeFile, as if it had never been moved; where
// that cannot be done, it stays in the trash, where a parent still finds it.
void restoreFromTrash(const QString &inTrash, const QByteArray &nativeFile);

// Deletes the recording at soundPath, under whatever name locateRecording finds it, into the
// trash where there is one. Nothing is deleted outside the sound folder. When the recording
// stays where it is: its file and why, for the parent to read.
std::optional<QString> deleteRecording(const QString &soundPath);
