#include "tools/table_row.h"

std::string tableRow(const std::vector<std::string>& cells, const std::size_t* widths,
                     std::size_t count) {
    std::string text = "  ";
    for (std::size_t i = 0; i < cells.size(); ++i) {
        text += cells[i];
        if (i < count) {
            text.append(cells[i].size() < widths[i] ? widths[i] - cells[i].size() : 1, ' ');
        }
    }
    return text;
}
