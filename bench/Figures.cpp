#include "Figures.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr double GrowthGoal = 3;

QByteArray number(double value, int decimals)
{
    return QByteArray::number(value, 'f', decimals);
}

const char *verdict(bool meets)
{
    return meets ? "meets goal" : "**misses goal**";
}

} // namespace

double Samples::min() const
{
    return *std::min_element(m_values.begin(), m_values.end());
}

double Samples::median() const
{
    std::vector<double> sorted = m_values;
    std::sort(sorted.begin(), sorted.end());
    const size_t middle = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

double Samples::max() const
{
    return *std::max_element(m_values.begin(), m_values.end());
}

QByteArray Samples::spread(int decimals) const
{
    return number(min(), decimals) + " / " + number(median(), decimals) + " / " +
           number(max(), decimals);
}

Figures::Figures()
{
    std::printf("| figure | min / median / max | floor (measured in turns): min / median / max "
                "| ratio of medians | goal | |\n|---|---|---|---|---|---|\n");
    std::fflush(stdout);
}

void Figures::printGrowth() const
{
    std::printf("\n| figure | 1,000 poems: min / median / max | 32,767 poems: min / median / max "
                "| growth of medians | the floor's growth | goal | |\n"
                "|---|---|---|---|---|---|---|\n");
    for (const QByteArray &line : m_growth)
        std::printf("%s\n", line.constData());
}

void Figures::againstFloor(const char *figure, const Samples &measured, const Samples &floor,
                           const char *floorName, const char *unit, double goalRatio)
{
    const double ratio = measured.median() / floor.median();
    const QByteArray inUnit = QByteArray(" ") + unit;
    row(figure, measured.spread(2) + inUnit,
        QByteArray(floorName) + ": " + floor.spread(2) + inUnit, number(ratio, 2),
        "≤ " + QByteArray::number(goalRatio) + " × floor", ratio <= goalRatio);
}

void Figures::absolute(const char *figure, const Samples &measured, const char *unit, double goal)
{
    row(figure, measured.spread(2) + " " + unit, "—", "—", "≤ " + number(goal, 0) + " " + unit,
        measured.median() <= goal);
}

void Figures::row(const QByteArray &figure, const QByteArray &measured, const QByteArray &floor,
                  const QByteArray &ratio, const QByteArray &goal, bool meets)
{
    std::printf("| %s | %s | %s | %s | %s | %s |\n", figure.constData(), measured.constData(),
                floor.constData(), ratio.constData(), goal.constData(), verdict(meets));
    std::fflush(stdout);
}

void Figures::growth(const char *figure, const Samples &small, const Samples &large,
                     const char *unit, std::optional<double> floorGrowth)
{
    const double growth = large.median() / small.median();
    const QByteArray inUnit = QByteArray(" ") + unit;
    m_growth.push_back("| " + QByteArray(figure) + " | " + small.spread(2) + inUnit + " | " +
                       large.spread(2) + inUnit + " | " + number(growth, 2) + " | " +
                       (floorGrowth ? number(*floorGrowth, 2) : QByteArray("—")) + " | ≤ " +
                       QByteArray::number(GrowthGoal) + " | " + verdict(growth <= GrowthGoal) +
                       " |");
}
