#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Conversion between the program's text and code page 936 (GBK), the Chinese ANSI code page of
// the library file and of file names made on old Windows computers.
namespace Cp936 {

// A character with no form in code page 936 is written as "?". When unencodable is given, it
// receives the first such character (empty when there is none).
QByteArray encode(QStringView text, QString *unencodable = nullptr);

// Bytes that do not form a code page 936 character read as U+FFFD; NUL bytes read as spaces, so
// a file made by another program shows what can be shown. When clean is given, it tells whether
// every byte was read as it stands, so that encoding the text again gives back the same bytes.
QString decode(QByteArrayView bytes, bool *clean = nullptr);

// The same, written to out, which has room for a character per byte; returns how many
// characters were written.
qsizetype decode(QByteArrayView bytes, QChar *out, bool *clean = nullptr);

// The first character of text that has no form in code page 936, or the empty text.
QString firstUnencodableCharacter(QStringView text);

} // namespace Cp936
