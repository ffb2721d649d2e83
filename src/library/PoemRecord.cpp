#include "PoemRecord.h"

#include "CodePage936.h"

#include <QtGlobal>

#include <algorithm>

namespace {

constexpr int lineOffset(int i)
{
    return PoemRecord::TitleLength + (i - 1) * PoemRecord::LineLength;
}

// A field's text in code page 936, cut to its width in bytes. A two-byte character that the cut
// would split becomes a space, so the file only ever holds whole characters.
void encodeField(const CodePage936 &codePage, QStringView text, char *field, int width)
{
    QByteArray bytes = codePage.encode(text);
    if (bytes.size() < width)
        bytes.append(width - bytes.size(), ' ');
    for (int at = 0; at < width; ++at) {
        if (isLeadByte(uchar(bytes[at])) && at + 1 == width)
            bytes[at] = ' ';
        else if (isLeadByte(uchar(bytes[at])))
            ++at;
    }
    std::copy_n(bytes.constData(), width, field);
}

} // namespace

PoemRecord::PoemRecord(std::shared_ptr<const CodePage936> codePage)
    : m_codePage(std::move(codePage))
{
}

PoemRecord PoemRecord::fromRecord(QByteArrayView bytes,
                                  const std::shared_ptr<const CodePage936> &codePage)
{
    Q_ASSERT(bytes.size() == RecordSize);
    PoemRecord poem(codePage);
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

QString PoemRecord::field(int offset, int width) const
{
    if (m_text)
        return m_text->sliced(offset, width);
    const QByteArrayView bytes(m_bytes.data() + offset, width);
    // A record without a code page is blank: its bytes are spaces.
    const QString text = m_codePage ? m_codePage->decode(bytes) : QString::fromLatin1(bytes);
    return text.leftJustified(width, u' ');
}

void PoemRecord::setField(int offset, int width, QStringView text)
{
    Q_ASSERT_X(m_codePage, "PoemRecord", "text is stored only into a record with a code page");
    QString all = Title();
    for (int i = 1; i <= LineCount; ++i)
        all += Lines(i);
    all.replace(offset, width, text.left(width).toString().leftJustified(width, u' '));
    encodeField(*m_codePage, QStringView(all).sliced(offset, width), m_bytes.data() + offset,
                width);
    m_text = std::make_shared<const QString>(std::move(all));
}
