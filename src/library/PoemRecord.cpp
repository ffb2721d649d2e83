#include "PoemRecord.h"

#include <QtGlobal>

#include <algorithm>

namespace {

template<std::size_t N>
void fit(std::array<QChar, N> &field, QStringView text)
{
    const auto kept = std::min<qsizetype>(text.size(), N);
    std::copy_n(text.begin(), kept, field.begin());
    std::fill(field.begin() + kept, field.end(), QLatin1Char(' '));
}

template<std::size_t N>
QString toString(const std::array<QChar, N> &field)
{
    return QString(field.data(), N);
}

} // namespace

PoemRecord::PoemRecord()
{
    fit(m_title, {});
    for (auto &line : m_lines)
        fit(line, {});
}

QString PoemRecord::Title() const
{
    return toString(m_title);
}

void PoemRecord::setTitle(QStringView text)
{
    fit(m_title, text);
}

QString PoemRecord::Lines(int i) const
{
    Q_ASSERT(i >= 1 && i <= LineCount);
    return toString(m_lines[i - 1]);
}

void PoemRecord::setLines(int i, QStringView text)
{
    Q_ASSERT(i >= 1 && i <= LineCount);
    fit(m_lines[i - 1], text);
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
