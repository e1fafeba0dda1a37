#include "sources/nas_share_store.h"

std::vector<std::string> ShareStoreColumns::Values(const ServerConnectionRecord& record) {
    return {record.GetSaveEnable(), record.GetIp(), record.GetServerName(), record.GetUser(), record.GetPassword()};
}

void ShareStoreColumns::Read(const SQLite::Table& table, ServerConnectionRecord* record) {
    record->SetSaveEnable(StoredValue(table, "saveenable"));
    record->SetIp(StoredValue(table, "ip"));
    record->SetServerName(StoredValue(table, "entry"));
    record->SetUser(StoredValue(table, "user"));
    record->SetPassword(StoredValue(table, "password"));
}
