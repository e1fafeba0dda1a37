#include "sources/nas_share_store.h"

namespace {

std::string ValueOrEmpty(const SQLite::Table& table, const char* column) {
    const std::string* value = table.GetValue(column);
    return value ? *value : std::string();
}

}  // namespace

NasShareStore::NasShareStore(const std::string& file_name) { database_.Open(file_name); }

NasShareStore::~NasShareStore() { database_.Close(); }

int NasShareStore::Insert(const ServerConnectionRecord& record) {
    return database_.Exec("insert into server values(?,?,?,?,?);",
                          {record.GetSaveEnable(), record.GetIp(), record.GetServerName(), record.GetUser(),
                           record.GetPassword()});
}

int NasShareStore::DeleteByIp(const std::string& ip) {
    return database_.Exec("delete from server where ip = ?;", {ip});
}

int NasShareStore::Replace(const std::string& old_ip, const ServerConnectionRecord& record) {
    return database_.Transaction([&] {
        const int result = DeleteByIp(old_ip);
        return result != 0 ? result : Insert(record);
    });
}

ServerConnectionRecord NasShareStore::SelectByIp(const std::string& ip) {
    ServerConnectionRecord record;
    SQLite::Table table = database_.Query("select * from server where ip = ?;", {ip});
    if (table.RowCount() > 0) {
        table.SetCurrentRow(0);
        record.SetSaveEnable(ValueOrEmpty(table, "saveenable"));
        record.SetIp(ValueOrEmpty(table, "ip"));
        record.SetServerName(ValueOrEmpty(table, "entry"));
        record.SetUser(ValueOrEmpty(table, "user"));
        record.SetPassword(ValueOrEmpty(table, "password"));
    }
    return record;
}

SQLite::Table NasShareStore::SelectAll() { return database_.Query("select * from server;"); }
