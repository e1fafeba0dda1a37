#include "sources/server_manager.h"

std::vector<std::string> RecorderStoreColumns::Values(const ServerConnectionRecord& record) {
    return {record.GetSaveEnable(), record.GetServerName(), record.GetIp(), record.GetPort(), record.GetUser(),
            record.GetPassword()};
}

void RecorderStoreColumns::Read(const SQLite::Table& table, ServerConnectionRecord* record) {
    record->SetIp(StoredValue(table, "ip"));
    record->SetUser(StoredValue(table, "user"));
    record->SetPassword(StoredValue(table, "password"));
    record->SetPort(StoredValue(table, "port"));
    record->SetServerName(StoredValue(table, "server"));
    record->SetSaveEnable(StoredValue(table, "saveenable"));
}
