#pragma once

#include <vector>

// The level that this share of levels stays below: 0 gives the quietest, 1 the loudest.
double levelAtShare(std::vector<double> levels, double share);
