#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

// File names on Linux are bytes, not text. A folder copied from an old Windows computer may be
// named in code page 936 bytes that are no UTF-8 at all, and such a name must still lead to the
// same folder. The program therefore keeps every path as text in which each byte that is not
// part of a UTF-8 character stands as the character U+DC00 + byte (a lone low surrogate, which
// UTF-8 text can never hold), and turns paths back into bytes with nativePath() wherever it
// hands one to the system. Text and bytes convert both ways without loss.

// The bytes to give the system for path.
QByteArray nativePath(QStringView path);

// The path that the system's bytes name.
QString pathFromNative(QByteArrayView bytes);

// The path as a parent can read it in a message: bytes that are no UTF-8 are read as code page
// 936 where they form its characters, else shown as U+FFFD.
QString displayPath(QStringView path);

// The name's bytes in code page 936, as an old Windows computer wrote it; nothing when one of its
// characters has no form in that code page.
std::optional<QByteArray> codePage936Name(QStringView name);

// The character that keeps text from standing as a file name on Linux or Windows
// (\ / : * ? " < > | or a control character), the whole text when it is "." or "..", and the
// empty text when the text can name a file.
QString characterUnfitForFileName(QStringView name);
