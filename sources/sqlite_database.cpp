#include "sources/sqlite_database.h"

#include <sqlite3.h>

#include "platform/owner_only_file.h"

#include <utility>

namespace SQLite {
namespace {

std::string TextOrEmpty(const char* text) { return text ? std::string(text) : std::string(); }

// What follows the first statement may only be blanks and semicolons: the
// bound form runs exactly one statement, so nothing after it goes unexecuted.
bool OnlySeparators(const char* tail) {
    for (; tail && *tail; ++tail) {
        if (*tail != ';' && *tail != ' ' && *tail != '\t' && *tail != '\r' && *tail != '\n') return false;
    }
    return true;
}

}  // namespace

Database::~Database() { Close(); }

int Database::Fail(int result) {
    if (result != SQLITE_OK) last_error_ = result;
    return result;
}

int Database::Open(const std::string& file_name) {
    Close();
    // The stores keep saved passwords: the file is made its owner's alone before SQLite
    // writes into it, and SQLite gives its journal the database's permissions.
    if (platform::MakeOwnerOnly(file_name, true) == platform::OwnerOnly::kNotRegularFile)
        return Fail(SQLITE_CANTOPEN);
    const int result =
        sqlite3_open_v2(file_name.c_str(), &handle_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    // A handle from a failed open is good for nothing but closing.
    if (result != SQLITE_OK) Close();
    return Fail(result);
}

void Database::Close() {
    if (handle_) {
        sqlite3_close(handle_);
        handle_ = nullptr;
    }
}

int Database::Exec(const std::string& sql) {
    if (!handle_) return Fail(SQLITE_ERROR);
    char* message = nullptr;
    const int result = sqlite3_exec(handle_, sql.c_str(), nullptr, nullptr, &message);
    sqlite3_free(message);
    return Fail(result);
}

int Database::Transaction(const std::function<int()>& body) {
    int result = Exec("begin;");
    if (result != 0) return result;
    result = body();
    if (result == 0) result = Exec("commit;");
    if (result != 0) Exec("rollback;");
    return result;
}

int Database::Exec(const std::string& sql, const std::vector<std::string>& values) {
    if (!handle_) return Fail(SQLITE_ERROR);
    return Fail(RunBound(sql, values, nullptr));
}

Table Database::Query(const std::string& sql) {
    if (!handle_) {
        Fail(SQLITE_ERROR);
        return Table();
    }
    char** flat = nullptr;
    int rows = 0;
    int columns = 0;
    char* message = nullptr;
    const int result = sqlite3_get_table(handle_, sql.c_str(), &flat, &rows, &columns, &message);
    sqlite3_free(message);
    Fail(result);
    if (result != SQLITE_OK || !flat || rows < 0 || columns < 0) {
        sqlite3_free_table(flat);
        return Table();
    }
    std::vector<std::string> names;
    names.reserve(static_cast<size_t>(columns));
    for (int c = 0; c < columns; ++c) names.push_back(TextOrEmpty(flat[c]));
    std::vector<std::vector<std::string>> table_rows(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        std::vector<std::string>& row = table_rows[static_cast<size_t>(r)];
        row.reserve(static_cast<size_t>(columns));
        const size_t base = static_cast<size_t>(columns) * (static_cast<size_t>(r) + 1);
        for (int c = 0; c < columns; ++c) row.push_back(TextOrEmpty(flat[base + static_cast<size_t>(c)]));
    }
    sqlite3_free_table(flat);
    return Table(std::move(names), std::move(table_rows));
}

Table Database::Query(const std::string& sql, const std::vector<std::string>& values) {
    if (!handle_) {
        Fail(SQLITE_ERROR);
        return Table();
    }
    Table table;
    if (Fail(RunBound(sql, values, &table)) != SQLITE_OK) return Table();
    return table;
}

int Database::RunBound(const std::string& sql, const std::vector<std::string>& values, Table* table) {
    sqlite3_stmt* statement = nullptr;
    const char* tail = nullptr;
    int result = sqlite3_prepare_v2(handle_, sql.c_str(), -1, &statement, &tail);
    if (result != SQLITE_OK) {
        sqlite3_finalize(statement);
        return result;
    }
    if (!OnlySeparators(tail)) {
        sqlite3_finalize(statement);
        return SQLITE_MISUSE;
    }
    if (!statement) return values.empty() ? SQLITE_OK : SQLITE_RANGE;
    if (sqlite3_bind_parameter_count(statement) != static_cast<int>(values.size())) {
        sqlite3_finalize(statement);
        return SQLITE_RANGE;
    }
    for (size_t i = 0; i < values.size(); ++i) {
        result = sqlite3_bind_text64(statement, static_cast<int>(i) + 1, values[i].data(), values[i].size(),
                                     SQLITE_STATIC, SQLITE_UTF8);
        if (result != SQLITE_OK) {
            sqlite3_finalize(statement);
            return result;
        }
    }

    std::vector<std::string> names;
    std::vector<std::vector<std::string>> rows;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        if (!table) continue;
        const int columns = sqlite3_column_count(statement);
        // Column names only with a first row, as a table read whole reports them.
        if (rows.empty()) {
            for (int c = 0; c < columns; ++c) names.push_back(TextOrEmpty(sqlite3_column_name(statement, c)));
        }
        std::vector<std::string>& row = rows.emplace_back();
        row.reserve(static_cast<size_t>(columns));
        for (int c = 0; c < columns; ++c) {
            const unsigned char* text = sqlite3_column_text(statement, c);
            const int bytes = sqlite3_column_bytes(statement, c);
            row.push_back(text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(bytes))
                               : std::string());
        }
    }
    sqlite3_finalize(statement);
    if (result != SQLITE_DONE) return result;
    if (table) *table = Table(std::move(names), std::move(rows));
    return SQLITE_OK;
}

}  // namespace SQLite
