#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <array>
#include <memory>

class CodePage936;

// One poem: a title of exactly 24 characters and four lines of exactly 16. Text stored into a
// field is cut to its width or filled up with spaces on the right; a field never trims.
//
// A record also has its form in the library file, 88 bytes of code page 936 text: 24 for the
// title and 16 for each line, each field cut to its width in bytes without splitting a
// character. A record read from the file keeps the file's bytes and is decoded when its text is
// asked for, so a library of 32,767 poems loads and rewrites at the speed of its bytes, and a
// record that is written back unchanged is written back byte for byte.
class PoemRecord final
{
public:
    static constexpr int TitleLength = 24;
    static constexpr int LineLength = 16;
    static constexpr int LineCount = 4;
    static constexpr int RecordSize = TitleLength + LineCount * LineLength;

    // A blank record (every field spaces), such as element 0 of a library. Text can be stored
    // only into a record that has a code page.
    PoemRecord() = default;
    // A blank record whose text is converted with codePage.
    explicit PoemRecord(std::shared_ptr<const CodePage936> codePage);

    // A record as the library file holds it (exactly RecordSize bytes).
    static PoemRecord fromRecord(QByteArrayView bytes,
                                 const std::shared_ptr<const CodePage936> &codePage);
    QByteArrayView record() const { return {m_bytes.data(), RecordSize}; }

    QString Title() const;
    void setTitle(QStringView text);

    // i is 1 to 4, as the lines of a poem are counted.
    QString Lines(int i) const;
    void setLines(int i, QStringView text);

private:
    // Fields lie at the same offsets, and have the same widths, in characters and in bytes.
    QString field(int offset, int width) const;
    void setField(int offset, int width, QStringView text);

    std::array<char, RecordSize> m_bytes = blankBytes();
    std::shared_ptr<const CodePage936> m_codePage;
    // The characters of all fields, once a field has been given text in the program: a field
    // keeps the characters it was given even where its bytes in the file cannot hold them all.
    // None for a record as read from the file, which then costs no more than its bytes.
    std::shared_ptr<const QString> m_text;

    static constexpr std::array<char, RecordSize> blankBytes()
    {
        std::array<char, RecordSize> bytes{};
        bytes.fill(' ');
        return bytes;
    }
};
