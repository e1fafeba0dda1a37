#pragma once
// One SQLite connection. Statements come in two forms: fixed SQL text, and SQL
// with "?" placeholders plus the values to bind to them. Any text that came
// from a user goes through the second form only, never into the SQL itself.
#include <functional>
#include <string>
#include <vector>

#include "sources/sqlite_table.h"

struct sqlite3;

namespace SQLite {

class Database {
public:
    Database() = default;
    virtual ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens read-write, creating the file when missing. Closes any open
    // connection first. The file is left readable and writable by its owner
    // only (a wider one is narrowed); a folder, FIFO or device is refused.
    // Returns the SQLite result code (0 = success).
    int Open(const std::string& file_name);
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }

    // Runs fixed SQL text (one or more statements).
    int Exec(const std::string& sql);
    // Runs one statement with each "?" bound, in order, to a text value.
    int Exec(const std::string& sql, const std::vector<std::string>& values);
    // Runs body inside a transaction: committed when it returns 0, else rolled back. Returns body's result.
    int Transaction(const std::function<int()>& body);

    // A failed query gives an empty table; the cause is in LastError().
    Table Query(const std::string& sql);
    Table Query(const std::string& sql, const std::vector<std::string>& values);

    // The code of the latest failure; a later success leaves it as it is.
    int LastError() const { return last_error_; }

private:
    int Fail(int result);
    int RunBound(const std::string& sql, const std::vector<std::string>& values, Table* table);

    sqlite3* handle_ = nullptr;
    int last_error_ = 0;
};

}  // namespace SQLite
