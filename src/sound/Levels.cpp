#include "Levels.h"

#include <algorithm>
#include <cstddef>

double levelAtShare(std::vector<double> levels, double share)
{
    const auto at = levels.begin() + std::ptrdiff_t(share * double(levels.size() - 1));
    std::nth_element(levels.begin(), at, levels.end());
    return *at;
}
