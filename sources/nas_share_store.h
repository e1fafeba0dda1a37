#pragma once
// The share list "shared.db": table `server` with the text columns
// saveenable, ip, entry, user, password, in that order. A share's entry (its
// path on the server) travels in the record's server-name field.
#include "sources/record_store.h"

struct ShareStoreColumns {
    static constexpr const char* kFileName = "shared.db";
    static constexpr const char* kInsert = "insert into server values(?,?,?,?,?);";
    static std::vector<std::string> Values(const ServerConnectionRecord& record);
    static void Read(const SQLite::Table& table, ServerConnectionRecord* record);
};

class NasShareStore : public RecordStore<ShareStoreColumns> {
public:
    using RecordStore::RecordStore;
};
