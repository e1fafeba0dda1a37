#pragma once
// The share list "shared.db": table `server` with the text columns
// saveenable, ip, entry, user, password, in that order. A share's entry (its
// path on the server) travels in the record's server-name field. The table is
// expected to exist; nothing here creates it.
#include <string>

#include "media/server_connection_record.h"
#include "sources/sqlite_database.h"
#include "sources/sqlite_table.h"

class NasShareStore {
public:
    static constexpr const char* kFileName = "shared.db";

    explicit NasShareStore(const std::string& file_name = kFileName);
    ~NasShareStore();
    NasShareStore(const NasShareStore&) = delete;
    NasShareStore& operator=(const NasShareStore&) = delete;

    // Each returns the SQLite result code, 0 when done.
    int Insert(const ServerConnectionRecord& record);
    int DeleteByIp(const std::string& ip);
    // Removes the rows of old_ip and inserts record as one change: when the
    // insert fails the old rows stay.
    int Replace(const std::string& old_ip, const ServerConnectionRecord& record);

    // The first row with this address; every field empty when none matches.
    ServerConnectionRecord SelectByIp(const std::string& ip);
    SQLite::Table SelectAll();

    // Non-zero once anything on this store failed.
    int LastError() const { return database_.LastError(); }

private:
    SQLite::Database database_;
};
