// Both stores keep ServerConnectionRecord values in a table `server` whose
// text columns are written by position; the behaviours they share are checked
// once for each, the column layouts separately.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>

#include "sources/nas_share_store.h"
#include "sources/server_manager.h"
#include "sources/sqlite_database.h"
#include "tests/support/temp_folder.h"

namespace {

ServerConnectionRecord MakeRecord(const std::string& ip, const std::string& name = "Depot",
                                  const std::string& password = "secret") {
    ServerConnectionRecord record;
    record.SetSaveEnable("1");
    record.SetServerName(name);
    record.SetIp(ip);
    record.SetPort("80");
    record.SetUser("admin");
    record.SetPassword(password);
    return record;
}

struct RecorderStore {
    using Store = CServerManager;
    static constexpr const char* kCreate =
        "create table server(saveenable text, server text, ip text, port text, user text, password text);";
    // The row as the table holds it, by position.
    static std::vector<std::string> Row(const ServerConnectionRecord& r) {
        return {r.GetSaveEnable(), r.GetServerName(), r.GetIp(), r.GetPort(), r.GetUser(), r.GetPassword()};
    }
    static ServerConnectionRecord Stored(const ServerConnectionRecord& r) { return r; }
};

struct ShareStore {
    using Store = NasShareStore;
    static constexpr const char* kCreate =
        "create table server(saveenable text, ip text, entry text, user text, password text);";
    static std::vector<std::string> Row(const ServerConnectionRecord& r) {
        return {r.GetSaveEnable(), r.GetIp(), r.GetServerName(), r.GetUser(), r.GetPassword()};
    }
    // The share list keeps no port.
    static ServerConnectionRecord Stored(ServerConnectionRecord r) {
        r.SetPort("");
        return r;
    }
};

void ExpectSameTexts(const ServerConnectionRecord& actual, const ServerConnectionRecord& expected) {
    for (int p = 0; p < ServerConnectionRecord::kTextCount; ++p)
        EXPECT_EQ(actual.Text(p), expected.Text(p)) << "position " << p;
}

template <typename Traits>
class StoreTest : public ::testing::Test {
protected:
    using Store = typename Traits::Store;

    void SetUp() override {
        path_ = folder_.Sub("store.db");
        SQLite::Database db;
        ASSERT_EQ(db.Open(path_), SQLITE_OK);
        ASSERT_EQ(db.Exec(Traits::kCreate), SQLITE_OK);
    }

    std::vector<std::vector<std::string>> RawRows() {
        SQLite::Database db;
        EXPECT_EQ(db.Open(path_), SQLITE_OK);
        return db.Query("select * from server;").Rows();
    }

    TempFolder folder_;
    std::string path_;
};

using StoreKinds = ::testing::Types<RecorderStore, ShareStore>;
TYPED_TEST_SUITE(StoreTest, StoreKinds);

TYPED_TEST(StoreTest, InsertWritesByPositionAndSelectReadsBack) {
    ServerConnectionRecord record = MakeRecord("192.168.0.240");
    ServerConnectionRecord unsaved = MakeRecord("nvr.local", "Yard", "");
    unsaved.SetSaveEnable("0");
    unsaved.SetPort("8080");
    {
        typename TestFixture::Store store(this->path_);
        ASSERT_EQ(store.Insert(record), SQLITE_OK);
        ASSERT_EQ(store.Insert(unsaved), SQLITE_OK);
    }
    EXPECT_EQ(this->RawRows(), (std::vector<std::vector<std::string>>{TypeParam::Row(record), TypeParam::Row(unsaved)}));

    typename TestFixture::Store store(this->path_);
    ExpectSameTexts(store.SelectByIp("192.168.0.240"), TypeParam::Stored(record));
    ExpectSameTexts(store.SelectByIp("nvr.local"), TypeParam::Stored(unsaved));
    SQLite::Table all = store.SelectAll();
    ASSERT_EQ(all.RowCount(), 2);
    ASSERT_TRUE(all.SetCurrentRow(1));
    EXPECT_EQ(*all.GetValue("ip"), "nvr.local");
    EXPECT_EQ(store.LastError(), 0);
}

TYPED_TEST(StoreTest, LookupsAreExactAndAbsentAddressGivesEmptyRecord) {
    typename TestFixture::Store store(this->path_);
    ASSERT_EQ(store.Insert(MakeRecord("Host")), SQLITE_OK);
    ExpectSameTexts(store.SelectByIp("host"), ServerConnectionRecord());
    ExpectSameTexts(store.SelectByIp("Hos"), ServerConnectionRecord());
    ExpectSameTexts(store.SelectByIp(""), ServerConnectionRecord());
    EXPECT_EQ(store.DeleteByIp("host"), SQLITE_OK);
    EXPECT_EQ(store.SelectAll().RowCount(), 1);
    EXPECT_EQ(store.LastError(), 0);
}

TYPED_TEST(StoreTest, DuplicateAddressesAllGoOnDeleteAndFirstIsSelected) {
    typename TestFixture::Store store(this->path_);
    ASSERT_EQ(store.Insert(MakeRecord("10.0.0.5", "first")), SQLITE_OK);
    ASSERT_EQ(store.Insert(MakeRecord("10.0.0.6", "other")), SQLITE_OK);
    ASSERT_EQ(store.Insert(MakeRecord("10.0.0.5", "second")), SQLITE_OK);
    EXPECT_EQ(store.SelectByIp("10.0.0.5").GetServerName(), "first");
    EXPECT_EQ(store.DeleteByIp("10.0.0.5"), SQLITE_OK);
    SQLite::Table all = store.SelectAll();
    ASSERT_EQ(all.RowCount(), 1);
    EXPECT_EQ(*all.GetValue("ip"), "10.0.0.6");
}

TYPED_TEST(StoreTest, HostileTextsAreStoredAsData) {
    const std::string texts[] = {
        "O'Brien",
        "x'); DROP TABLE server; --",
        "'; delete from server; '",
        "' or '1'='1",
        "quote\"semi;colon",
        "\xE5\x80\x89\xE5\xBA\xAB \xC3\xA9",
    };
    typename TestFixture::Store store(this->path_);
    ASSERT_EQ(store.Insert(MakeRecord("10.0.0.1", "keeper")), SQLITE_OK);
    for (const std::string& text : texts) {
        ServerConnectionRecord record;
        record.SetSaveEnable(text);
        record.SetServerName(text);
        record.SetIp(text);
        record.SetPort(text);
        record.SetUser(text);
        record.SetPassword(text);
        ASSERT_EQ(store.Insert(record), SQLITE_OK) << text;
        ExpectSameTexts(store.SelectByIp(text), TypeParam::Stored(record));
    }
    EXPECT_EQ(store.SelectAll().RowCount(), 1 + static_cast<int>(std::size(texts)));

    // A hostile address removes its own row and nothing else.
    for (const std::string& text : texts) EXPECT_EQ(store.DeleteByIp(text), SQLITE_OK) << text;
    SQLite::Table all = store.SelectAll();
    ASSERT_EQ(all.RowCount(), 1);
    EXPECT_EQ(*all.GetValue("ip"), "10.0.0.1");
    EXPECT_EQ(store.LastError(), 0);
}

TYPED_TEST(StoreTest, ReplaceSwapsTheEntryAndKeepsItWhenTheInsertFails) {
    {
        SQLite::Database db;
        ASSERT_EQ(db.Open(this->path_), SQLITE_OK);
        ASSERT_EQ(db.Exec("create trigger refuse before insert on server when new.ip = 'refused' "
                          "begin select raise(abort, 'refused'); end;"),
                  SQLITE_OK);
    }
    typename TestFixture::Store store(this->path_);
    ASSERT_EQ(store.Insert(MakeRecord("10.0.0.1", "old")), SQLITE_OK);
    ASSERT_EQ(store.Replace("10.0.0.1", MakeRecord("10.0.0.2", "new")), SQLITE_OK);
    EXPECT_EQ(store.SelectByIp("10.0.0.1").GetIp(), "");
    EXPECT_EQ(store.SelectByIp("10.0.0.2").GetServerName(), "new");

    EXPECT_NE(store.Replace("10.0.0.2", MakeRecord("refused")), SQLITE_OK);
    EXPECT_EQ(store.SelectByIp("10.0.0.2").GetServerName(), "new");
    EXPECT_EQ(store.SelectAll().RowCount(), 1);
    // The connection is usable after the rollback.
    EXPECT_EQ(store.Insert(MakeRecord("10.0.0.3")), SQLITE_OK);
    EXPECT_EQ(store.SelectAll().RowCount(), 2);
}

TYPED_TEST(StoreTest, MissingTableFailsVisiblyAndIsNeverCreated) {
    const std::string empty_file = this->folder_.Sub("empty.db");
    const std::string missing_file = this->folder_.Sub("missing.db");
    {
        SQLite::Database db;
        ASSERT_EQ(db.Open(empty_file), SQLITE_OK);
    }
    for (const std::string& path : {empty_file, missing_file}) {
        {
            typename TestFixture::Store store(path);
            EXPECT_EQ(store.SelectAll().RowCount(), 0) << path;
            EXPECT_NE(store.LastError(), 0) << path;
            EXPECT_NE(store.Insert(MakeRecord("10.0.0.1")), SQLITE_OK) << path;
            EXPECT_NE(store.DeleteByIp("10.0.0.1"), SQLITE_OK) << path;
            EXPECT_NE(store.Replace("10.0.0.1", MakeRecord("10.0.0.1")), SQLITE_OK) << path;
            ExpectSameTexts(store.SelectByIp("10.0.0.1"), ServerConnectionRecord());
        }
        // Opening leaves a database file behind, but never the table.
        SQLite::Database db;
        ASSERT_EQ(db.Open(path), SQLITE_OK);
        EXPECT_EQ(db.Query("select name from sqlite_master;").RowCount(), 0) << path;
    }
}

TEST(StoreFileNameTest, StoresUseTheirRelativeFileNames) {
    EXPECT_STREQ(CServerManager::kFileName, "server.db");
    EXPECT_STREQ(NasShareStore::kFileName, "shared.db");

    TempFolder folder;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    {
        SQLite::Database db;
        ASSERT_EQ(db.Open("server.db"), SQLITE_OK);
        ASSERT_EQ(db.Exec(RecorderStore::kCreate), SQLITE_OK);
        ASSERT_EQ(db.Open("shared.db"), SQLITE_OK);
        ASSERT_EQ(db.Exec(ShareStore::kCreate), SQLITE_OK);
    }
    int recorder_result = -1, share_result = -1;
    {
        CServerManager recorders;
        recorder_result = recorders.Insert(MakeRecord("10.0.0.1", "recorder"));
        NasShareStore shares;
        share_result = shares.Insert(MakeRecord("10.0.0.1", "share"));
    }
    std::filesystem::current_path(previous);
    EXPECT_EQ(recorder_result, SQLITE_OK);
    EXPECT_EQ(share_result, SQLITE_OK);
    EXPECT_EQ(CServerManager(folder.Sub("server.db")).SelectByIp("10.0.0.1").GetServerName(), "recorder");
    EXPECT_EQ(NasShareStore(folder.Sub("shared.db")).SelectByIp("10.0.0.1").GetServerName(), "share");
}

}  // namespace
