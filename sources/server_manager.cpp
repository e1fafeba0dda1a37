#include "sources/server_manager.h"

namespace {

std::string ValueOrEmpty(const SQLite::Table& table, const char* column) {
    const std::string* value = table.GetValue(column);
    return value ? *value : std::string();
}

}  // namespace

CServerManager::CServerManager(const std::string& file_name) { database_.Open(file_name); }

CServerManager::~CServerManager() { database_.Close(); }

int CServerManager::Insert(const ServerConnectionRecord& record) {
    return database_.Exec("insert into server values(?,?,?,?,?,?);",
                          {record.GetSaveEnable(), record.GetServerName(), record.GetIp(), record.GetPort(),
                           record.GetUser(), record.GetPassword()});
}

int CServerManager::DeleteByIp(const std::string& ip) {
    return database_.Exec("delete from server where ip = ?;", {ip});
}

int CServerManager::Replace(const std::string& old_ip, const ServerConnectionRecord& record) {
    return database_.Transaction([&] {
        const int result = DeleteByIp(old_ip);
        return result != 0 ? result : Insert(record);
    });
}

ServerConnectionRecord CServerManager::SelectByIp(const std::string& ip) {
    ServerConnectionRecord record;
    SQLite::Table table = database_.Query("select * from server where ip = ?;", {ip});
    if (table.RowCount() > 0) {
        table.SetCurrentRow(0);
        record.SetIp(ValueOrEmpty(table, "ip"));
        record.SetUser(ValueOrEmpty(table, "user"));
        record.SetPassword(ValueOrEmpty(table, "password"));
        record.SetPort(ValueOrEmpty(table, "port"));
        record.SetServerName(ValueOrEmpty(table, "server"));
        record.SetSaveEnable(ValueOrEmpty(table, "saveenable"));
    }
    return record;
}

SQLite::Table CServerManager::SelectAll() { return database_.Query("select * from server;"); }
