#include "sources/sqlite_table.h"

#include <utility>

namespace SQLite {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace

Table::Table(std::vector<std::string> column_names, std::vector<std::vector<std::string>> rows)
    : row_count_(static_cast<int>(rows.size())),
      column_count_(static_cast<int>(column_names.size())),
      column_names_(std::move(column_names)),
      rows_(std::move(rows)),
      current_row_(rows_.empty() ? -1 : 0) {}

bool Table::SetCurrentRow(int row) {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return false;
    current_row_ = row;
    return true;
}

const std::string* Table::GetValue(std::string_view column_name) const {
    if (current_row_ < 0 || static_cast<size_t>(current_row_) >= rows_.size()) return nullptr;
    const std::vector<std::string>& row = rows_[static_cast<size_t>(current_row_)];
    for (size_t c = 0; c < column_names_.size(); ++c) {
        if (EqualNoCase(column_names_[c], column_name)) return c < row.size() ? &row[c] : nullptr;
    }
    return nullptr;
}

}  // namespace SQLite
