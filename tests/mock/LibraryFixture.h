#pragma once

#include <QByteArray>
#include <QStringList>

// Library files written byte by byte for the tests, so that what the program reads is checked
// against bytes that the code under test did not produce.
namespace LibraryFixture {

// The code page 936 bytes of text, by Qt's own converter rather than the program's.
QByteArray gbk(const QString &text);

// One 88-byte record: the title and four lines, each filled with spaces to its width.
QByteArray record(const QByteArray &title, const QByteArray &line1 = {},
                  const QByteArray &line2 = {}, const QByteArray &line3 = {},
                  const QByteArray &line4 = {});

// A record of a title and up to four lines.
QByteArray poem(const QString &title, const QStringList &lines = {});

// A file's bytes, or "<unreadable>".
QByteArray readFile(const QString &path);
// Gives the file at path exactly these bytes.
void writeFile(const QString &path, const QByteArray &bytes);

// Writes Kavendo.dbf into folder, replacing any.
void writeLibrary(const QString &folder, const QByteArray &bytes);

// Creates sound/<name> in folder with a few bytes, as a recording left there.
QString writeRecording(const QString &folder, const QString &name);

} // namespace LibraryFixture
