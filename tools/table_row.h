// How the report's tables line up their columns.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// "  " and each cell padded to its column's width, the space before the next column included (a
// wider text still gets one space): `widths` holds `count` widths, one for each cell but the last,
// which is not padded.
std::string tableRow(const std::vector<std::string>& cells, const std::size_t* widths,
                     std::size_t count);
