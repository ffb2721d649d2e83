#pragma once

#include <QStringView>

#include <optional>

// The number at the start of text, read the way old BASIC reads numbers: blanks, tabs and line
// feeds are ignored anywhere; an optional sign, digits with at most one decimal point and an
// optional exponent (E or D); or "&H" hexadecimal or "&O" octal. Reading stops at the first
// character that cannot continue the number; text that starts with no number is 0. The decimal
// separator is always the full stop, whatever the locale.
double numericValue(QStringView text);

// The repeat count of continuous reading: the numeric value rounded to the nearest integer,
// halves to the even one. Empty when that lies outside -32768 to 32767.
std::optional<qint16> RepeatCount(QStringView text);
