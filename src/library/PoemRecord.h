#pragma once

#include <QString>
#include <QStringView>

#include <array>

// One poem: a title of exactly 24 characters and four lines of exactly 16. Text stored into a
// field is cut to its width or filled up with spaces on the right; a field never trims.
class PoemRecord final
{
public:
    static constexpr int TitleLength = 24;
    static constexpr int LineLength = 16;
    static constexpr int LineCount = 4;

    PoemRecord();

    QString Title() const;
    void setTitle(QStringView text);

    // i is 1 to 4, as the lines of a poem are counted.
    QString Lines(int i) const;
    void setLines(int i, QStringView text);

    bool operator==(const PoemRecord &other) const = default;

private:
    // Stored inline rather than as QStrings: a school's library of 32,767 poems stays a few
    // megabytes in each window.
    std::array<QChar, TitleLength> m_title;
    std::array<std::array<QChar, LineLength>, LineCount> m_lines;
};

// Removes leading and trailing spaces (code 32) only; tabs and full-width spaces stay.
QString trimSpaces(QStringView text);
