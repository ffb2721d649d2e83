#include "PoemRecord.h"

#include "Cp936.h"

#include <QtGlobal>

#include <algorithm>

namespace {

constexpr int lineOffset(int i)
{
    return PoemRecord::TitleLength + (i - 1) * PoemRecord::LineLength;
}

bool isLeadByte(char byte)
{
    const auto value = static_cast<unsigned char>(byte);
    return value >= 0x81 && value <= 0xFE;
}

// A field's text in code page 936, cut to its width in bytes. A two-byte character that the cut
// would split becomes a space, so the file only ever holds whole characters.
void encodeField(QStringView text, char *field, int width)
{
    QByteArray bytes = Cp936::encode(text);
    if (bytes.size() < width)
        bytes.append(width - bytes.size(), ' ');
    for (int at = 0; at < width; ++at) {
        if (isLeadByte(bytes[at]) && at + 1 == width)
            bytes[at] = ' ';
        else if (isLeadByte(bytes[at]))
            ++at;
    }
    std::copy_n(bytes.constData(), width, field);
}

} // namespace

PoemRecord::PoemRecord()
{
    m_bytes.fill(' ');
}

PoemRecord PoemRecord::fromRecord(QByteArrayView bytes)
{
    Q_ASSERT(bytes.size() == RecordSize);
    PoemRecord poem;
    std::copy_n(bytes.data(), RecordSize, poem.m_bytes.data());
    return poem;
}

QString PoemRecord::Title() const
{
    return field(0, TitleLength);
}

void PoemRecord::setTitle(QStringView text)
{
    setField(0, TitleLength, text);
}

QString PoemRecord::Lines(int i) const
{
    Q_ASSERT(i >= 1 && i <= LineCount);
    return field(lineOffset(i), LineLength);
}

void PoemRecord::setLines(int i, QStringView text)
{
    Q_ASSERT(i >= 1 && i <= LineCount);
    setField(lineOffset(i), LineLength, text);
}

bool PoemRecord::operator==(const PoemRecord &other) const
{
    if (Title() != other.Title())
        return false;
    for (int i = 1; i <= LineCount; ++i) {
        if (Lines(i) != other.Lines(i))
            return false;
    }
    return true;
}

QString PoemRecord::field(int offset, int width) const
{
    if (m_text)
        return m_text->sliced(offset, width);
    QString text = Cp936::decode(QByteArrayView(m_bytes.data() + offset, width));
    return text.leftJustified(width, QLatin1Char(' '));
}

void PoemRecord::setField(int offset, int width, QStringView text)
{
    QString all = Title();
    for (int i = 1; i <= LineCount; ++i)
        all += Lines(i);
    all.replace(offset, width, text.left(width).toString().leftJustified(width, QLatin1Char(' ')));
    encodeField(QStringView(all).sliced(offset, width), m_bytes.data() + offset, width);
    m_text = std::make_shared<const QString>(std::move(all));
}

QString trimSpaces(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.sliced(begin, end - begin).toString();
}
