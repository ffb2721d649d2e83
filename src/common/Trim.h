#pragma once

#include <QString>
#include <QStringView>

// Removes leading and trailing spaces (code 32) only; tabs and full-width spaces stay. This is
// how the program takes the bare text of a title or a line from its padded field.
QString trimSpaces(QStringView text);
