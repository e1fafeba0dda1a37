#pragma once
// The whole result of one query, detached from the connection that made it.
#include <string>
#include <string_view>
#include <vector>

namespace SQLite {

class Table {
public:
    Table() = default;
    Table(std::vector<std::string> column_names, std::vector<std::vector<std::string>> rows);
    virtual ~Table() = default;
    Table(const Table&) = default;
    Table& operator=(const Table&) = default;
    Table(Table&&) = default;
    Table& operator=(Table&&) = default;

    int RowCount() const { return row_count_; }
    int ColumnCount() const { return column_count_; }
    const std::vector<std::string>& ColumnNames() const { return column_names_; }
    const std::vector<std::vector<std::string>>& Rows() const { return rows_; }

    int CurrentRow() const { return current_row_; }
    // Refuses an index outside the stored rows, so GetValue never reads past them.
    bool SetCurrentRow(int row);

    // Text of the named column (case-insensitive) in the current row; null when
    // there is no current row or no such column. A SQL NULL reads as "".
    const std::string* GetValue(std::string_view column_name) const;

private:
    int row_count_ = 0;
    int column_count_ = 0;
    std::vector<std::string> column_names_;
    std::vector<std::vector<std::string>> rows_;
    int current_row_ = -1;
};

}  // namespace SQLite
