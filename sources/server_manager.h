#pragma once
// The recorder list "server.db": table `server` with the text columns
// saveenable, server, ip, port, user, password, in that order. The table is
// expected to exist; nothing here creates it.
#include <string>

#include "media/server_connection_record.h"
#include "sources/sqlite_database.h"
#include "sources/sqlite_table.h"

class CServerManager {
public:
    static constexpr const char* kFileName = "server.db";

    // Opens the store; a failed open shows up as failures of the operations.
    explicit CServerManager(const std::string& file_name = kFileName);
    virtual ~CServerManager();
    CServerManager(const CServerManager&) = delete;
    CServerManager& operator=(const CServerManager&) = delete;

    // Each returns the SQLite result code, 0 when done.
    int Insert(const ServerConnectionRecord& record);
    int DeleteByIp(const std::string& ip);
    // Removes the rows of old_ip and inserts record as one change: when the
    // insert fails the old rows stay.
    int Replace(const std::string& old_ip, const ServerConnectionRecord& record);

    // The first row with this IP address; a record with every field empty when
    // none matches or the query fails.
    ServerConnectionRecord SelectByIp(const std::string& ip);
    // Every row, in the order SQLite yields them.
    SQLite::Table SelectAll();

    // Non-zero once anything on this store failed (no file, no table, ...), so
    // an empty list can be told from a failed one.
    int LastError() const { return database_.LastError(); }

private:
    SQLite::Database database_;
};
