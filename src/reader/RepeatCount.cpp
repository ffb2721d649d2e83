#include "RepeatCount.h"

#include <QString>

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {

// The text without the characters the reading skips.
std::string withoutBlanks(QStringView text)
{
    std::string kept;
    for (const QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n'))
            continue;
        // Anything beyond ASCII ends the number; keep a marker that no rule accepts.
        kept += c.unicode() < 0x80 ? char(c.unicode()) : '\x7f';
    }
    return kept;
}

// The value of a digit in any base up to 36; letters count from 10.
int digitValue(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if (std::isdigit(u))
        return c - '0';
    if (std::isalpha(u))
        return std::tolower(u) - 'a' + 10;
    return std::numeric_limits<int>::max();
}

double radixValue(const std::string &text, std::size_t at, int base)
{
    double value = 0;
    for (; at < text.size() && digitValue(text[at]) < base; ++at)
        value = value * base + digitValue(text[at]);
    return value;
}

double decimalValue(const std::string &text)
{
    std::string number;
    std::size_t at = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        number += text[at++];
    bool digits = false;
    bool point = false;
    for (; at < text.size(); ++at) {
        if (std::isdigit(static_cast<unsigned char>(text[at]))) {
            digits = true;
        } else if (text[at] == '.' && !point) {
            point = true;
        } else {
            break;
        }
        number += text[at];
    }
    if (!digits)
        return 0;

    if (at < text.size() && (std::toupper(static_cast<unsigned char>(text[at])) == 'E' ||
                             std::toupper(static_cast<unsigned char>(text[at])) == 'D')) {
        std::string exponent = "e";
        std::size_t next = at + 1;
        if (next < text.size() && (text[next] == '+' || text[next] == '-'))
            exponent += text[next++];
        const std::size_t firstDigit = next;
        while (next < text.size() && std::isdigit(static_cast<unsigned char>(text[next])))
            exponent += text[next++];
        if (next > firstDigit)
            number += exponent;
    }

    double value = 0;
    const char *begin = number.data() + (number.front() == '+' ? 1 : 0);
    const auto [end, error] = std::from_chars(begin, number.data() + number.size(), value);
    if (error == std::errc::result_out_of_range)
        return number.front() == '-' ? -std::numeric_limits<double>::infinity()
                                     : std::numeric_limits<double>::infinity();
    return value;
}

} // namespace

double numericValue(QStringView text)
{
    const std::string kept = withoutBlanks(text);
    if (kept.size() >= 2 && kept[0] == '&') {
        switch (std::toupper(static_cast<unsigned char>(kept[1]))) {
        case 'H':
            return radixValue(kept, 2, 16);
        case 'O':
            return radixValue(kept, 2, 8);
        default:
            return 0;
        }
    }
    return decimalValue(kept);
}

std::optional<qint16> RepeatCount(QStringView text)
{
    const double rounded = std::nearbyint(numericValue(text));
    if (!(rounded >= std::numeric_limits<qint16>::min() &&
          rounded <= std::numeric_limits<qint16>::max()))
        return std::nullopt;
    return static_cast<qint16>(rounded);
}
