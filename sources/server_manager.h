#pragma once
// The recorder list "server.db": table `server` with the text columns
// saveenable, server, ip, port, user, password, in that order.
#include "sources/record_store.h"

struct RecorderStoreColumns {
    static constexpr const char* kFileName = "server.db";
    static constexpr const char* kInsert = "insert into server values(?,?,?,?,?,?);";
    static std::vector<std::string> Values(const ServerConnectionRecord& record);
    static void Read(const SQLite::Table& table, ServerConnectionRecord* record);
};

class CServerManager : public RecordStore<RecorderStoreColumns> {
public:
    using RecordStore::RecordStore;
};
