#pragma once
// One small SQLite store of connection records, table `server`. The two stores
// differ only in their columns: Columns gives the file name, the insert with
// its values in column order, and how a row reads back into a record. Every
// value is bound, never put into the SQL. The table is expected to exist;
// nothing here creates it.
#include <string>
#include <vector>

#include "media/server_connection_record.h"
#include "sources/sqlite_database.h"
#include "sources/sqlite_table.h"

template <typename Columns>
class RecordStore {
public:
    static constexpr const char* kFileName = Columns::kFileName;

    // Opens the store; a failed open shows up as failures of the operations.
    explicit RecordStore(const std::string& file_name = kFileName) { database_.Open(file_name); }
    virtual ~RecordStore() { database_.Close(); }
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    // Each returns the SQLite result code, 0 when done.
    int Insert(const ServerConnectionRecord& record) { return database_.Exec(Columns::kInsert, Columns::Values(record)); }
    int DeleteByIp(const std::string& ip) { return database_.Exec("delete from server where ip = ?;", {ip}); }
    // Removes the rows of old_ip and inserts record as one change: when the
    // insert fails the old rows stay.
    int Replace(const std::string& old_ip, const ServerConnectionRecord& record) {
        return database_.Transaction([&] {
            const int result = DeleteByIp(old_ip);
            return result != 0 ? result : Insert(record);
        });
    }

    // The first row with this address; a record with every field empty when
    // none matches or the query fails.
    ServerConnectionRecord SelectByIp(const std::string& ip) {
        ServerConnectionRecord record;
        SQLite::Table table = database_.Query("select * from server where ip = ?;", {ip});
        if (table.RowCount() > 0) {
            table.SetCurrentRow(0);
            Columns::Read(table, &record);
        }
        return record;
    }
    // Every row, in the order SQLite yields them.
    SQLite::Table SelectAll() { return database_.Query("select * from server;"); }

    // Non-zero once anything on this store failed (no file, no table, ...), so
    // an empty list can be told from a failed one.
    int LastError() const { return database_.LastError(); }

private:
    SQLite::Database database_;
};

// A column's text in the table's current row; empty when missing.
inline std::string StoredValue(const SQLite::Table& table, const char* column) {
    const std::string* value = table.GetValue(column);
    return value ? *value : std::string();
}
