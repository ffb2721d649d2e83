#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

// What several runs of one figure measured.
class Samples final
{
public:
    void add(double value) { m_values.push_back(value); }

    double min() const;
    double median() const;
    double max() const;
    // "min / median / max", each with this many decimals.
    QByteArray spread(int decimals) const;

private:
    std::vector<double> m_values;
};

// The two tables that bench/run prints, as Markdown rows for the README: each figure against its
// floor or its goal, and how the figures grow with the library.
class Figures final
{
    Q_DISABLE_COPY_MOVE(Figures)

public:
    // Prints the first table's head; its rows follow as they are measured.
    Figures();

    // A figure whose goal is a multiple of the floor measured in turns with it.
    void againstFloor(const char *figure, const Samples &measured, const Samples &floor,
                      const char *floorName, const char *unit, double goalRatio);
    // A figure whose goal is a value of its own.
    void absolute(const char *figure, const Samples &measured, const char *unit, double goal);
    // A row written as it stands.
    void row(const QByteArray &figure, const QByteArray &measured, const QByteArray &floor,
             const QByteArray &ratio, const QByteArray &goal, bool meets);

    // A figure at 32,767 poems over the same at 1,000: the goal is at most three times. The
    // floor's own growth, when it has one, shows what no program can avoid.
    void growth(const char *figure, const Samples &small, const Samples &large, const char *unit,
                std::optional<double> floorGrowth = std::nullopt);
    void printGrowth() const;

private:
    std::vector<QByteArray> m_growth;
};
