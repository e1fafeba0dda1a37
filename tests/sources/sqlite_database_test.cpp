#include "sources/sqlite_database.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/support/temp_folder.h"

namespace {

class SqliteDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = folder_.Sub("test.db");
        ASSERT_EQ(db_.Open(path_), SQLITE_OK);
        ASSERT_EQ(db_.Exec("create table t(Name text, ip text, note text);"), SQLITE_OK);
    }

    TempFolder folder_;
    std::string path_;
    SQLite::Database db_;
};

TEST_F(SqliteDatabaseTest, QueryHoldsNamesRowsAndLooksColumnsUpWithoutCase) {
    ASSERT_EQ(db_.Exec("insert into t values('first', '10.0.0.1', null);"
                       "insert into t values('zweite \xC3\xA4\xE6\x97\xA5', '10.0.0.2', '');"),
              SQLITE_OK);
    SQLite::Table table = db_.Query("select * from t;");
    EXPECT_EQ(table.RowCount(), 2);
    EXPECT_EQ(table.ColumnCount(), 3);
    EXPECT_EQ(table.ColumnNames(), (std::vector<std::string>{"Name", "ip", "note"}));
    ASSERT_EQ(table.CurrentRow(), 0);

    ASSERT_NE(table.GetValue("IP"), nullptr);
    EXPECT_EQ(*table.GetValue("IP"), "10.0.0.1");
    EXPECT_EQ(*table.GetValue("name"), "first");
    ASSERT_NE(table.GetValue("note"), nullptr);
    EXPECT_EQ(*table.GetValue("note"), "");  // NULL reads as empty text
    EXPECT_EQ(table.GetValue("port"), nullptr);

    EXPECT_TRUE(table.SetCurrentRow(1));
    EXPECT_EQ(*table.GetValue("Name"), "zweite \xC3\xA4\xE6\x97\xA5");
    EXPECT_FALSE(table.SetCurrentRow(2));
    EXPECT_FALSE(table.SetCurrentRow(-1));
    EXPECT_EQ(table.CurrentRow(), 1);

    // The table is detached from the connection.
    db_.Close();
    EXPECT_EQ(*table.GetValue("ip"), "10.0.0.2");
}

TEST_F(SqliteDatabaseTest, QueryWithoutRowsIsEmptyInBothForms) {
    const SQLite::Table tables[] = {db_.Query("select * from t;"), db_.Query("select * from t where ip = ?;", {"x"})};
    for (const SQLite::Table& table : tables) {
        EXPECT_EQ(table.RowCount(), 0);
        EXPECT_EQ(table.ColumnCount(), 0);
        EXPECT_TRUE(table.ColumnNames().empty());
        EXPECT_EQ(table.CurrentRow(), -1);
        EXPECT_EQ(table.GetValue("ip"), nullptr);
    }
    EXPECT_EQ(db_.LastError(), 0);
}

TEST_F(SqliteDatabaseTest, BoundAndPlainQueriesGiveTheSameTable) {
    ASSERT_EQ(db_.Exec("insert into t values(?, ?, ?);", {"a", "1", "x"}), SQLITE_OK);
    ASSERT_EQ(db_.Exec("insert into t values(?, ?, null);", {"b", "1"}), SQLITE_OK);
    const SQLite::Table plain = db_.Query("select * from t where ip = '1';");
    const SQLite::Table bound = db_.Query("select * from t where ip = ?;", {"1"});
    EXPECT_EQ(bound.ColumnNames(), plain.ColumnNames());
    EXPECT_EQ(bound.Rows(), plain.Rows());
    EXPECT_EQ(bound.Rows(), (std::vector<std::vector<std::string>>{{"a", "1", "x"}, {"b", "1", ""}}));
}

TEST_F(SqliteDatabaseTest, BoundTextIsDataEvenWhenItLooksLikeSql) {
    const std::string hostile[] = {"O'Brien", "x'); drop table t; --", "' or '1'='1", "a;b\"c", std::string("nul\0in", 6)};
    for (const std::string& text : hostile) ASSERT_EQ(db_.Exec("insert into t values(?, ?, ?);", {text, text, text}), SQLITE_OK);
    for (const std::string& text : hostile) {
        SQLite::Table table = db_.Query("select * from t where ip = ?;", {text});
        ASSERT_EQ(table.RowCount(), 1) << text;
        EXPECT_EQ(*table.GetValue("note"), text);
    }
    EXPECT_EQ(db_.Query("select * from t;").RowCount(), 5);
}

TEST_F(SqliteDatabaseTest, BoundFormRefusesMismatchedValuesAndSecondStatements) {
    EXPECT_EQ(db_.Exec("insert into t values(?, ?, ?);", {"only two", "values"}), SQLITE_RANGE);
    EXPECT_EQ(db_.Exec("insert into t values('a', 'b', 'c');", {"extra"}), SQLITE_RANGE);
    // A statement after the first would otherwise be skipped without a word.
    EXPECT_NE(db_.Exec("insert into t values(?, 'b', 'c'); drop table t;", {"a"}), SQLITE_OK);
    EXPECT_EQ(db_.Exec("insert into t values(?, 'b', 'c');;  \n", {"a"}), SQLITE_OK);
    EXPECT_EQ(db_.Query("select * from t;").RowCount(), 1);
}

TEST_F(SqliteDatabaseTest, LastErrorStaysAfterLaterSuccess) {
    EXPECT_EQ(db_.LastError(), 0);
    const int failed = db_.Exec("insert into missing values('a');");
    EXPECT_NE(failed, SQLITE_OK);
    EXPECT_EQ(db_.LastError(), failed);
    EXPECT_EQ(db_.Exec("insert into t values('a', 'b', 'c');"), SQLITE_OK);
    EXPECT_EQ(db_.LastError(), failed);

    SQLite::Database other;
    ASSERT_EQ(other.Open(path_), SQLITE_OK);
    EXPECT_EQ(other.Query("select * from missing where ip = ?;", {"a"}).RowCount(), 0);
    EXPECT_NE(other.LastError(), 0);
}

TEST(SqliteDatabaseClosedTest, StatementsOnAClosedConnectionFailWithGenericError) {
    SQLite::Database db;
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(db.Exec("select 1;"), SQLITE_ERROR);
    EXPECT_EQ(db.Exec("select ?;", {"1"}), SQLITE_ERROR);
    const SQLite::Table table = db.Query("select 1;");
    EXPECT_EQ(table.RowCount(), 0);
    EXPECT_EQ(table.CurrentRow(), -1);
    EXPECT_EQ(db.Query("select ?;", {"1"}).RowCount(), 0);
    EXPECT_EQ(db.LastError(), SQLITE_ERROR);
}

TEST(SqliteDatabaseOpenTest, MissingFileIsCreatedWithoutTablesAndReopenMovesOn) {
    TempFolder folder;
    const std::string created = folder.Sub("new.db");
    SQLite::Database db;
    ASSERT_EQ(db.Open(created), SQLITE_OK);
    EXPECT_TRUE(std::filesystem::exists(created));
    EXPECT_EQ(db.Query("select name from sqlite_master;").RowCount(), 0);
    EXPECT_NE(db.Exec("insert into server values('1');"), SQLITE_OK);

    // A second open closes the first connection and works on the new file.
    const std::string second = folder.Sub("second.db");
    ASSERT_EQ(db.Open(second), SQLITE_OK);
    ASSERT_EQ(db.Exec("create table only_here(a text);"), SQLITE_OK);
    db.Close();
    EXPECT_FALSE(db.IsOpen());
    SQLite::Database check;
    ASSERT_EQ(check.Open(created), SQLITE_OK);
    EXPECT_EQ(check.Query("select name from sqlite_master;").RowCount(), 0);

    // A folder where the file would go cannot be opened; the code is kept.
    SQLite::Database bad;
    EXPECT_NE(bad.Open(folder.Sub("no/such/folder.db")), SQLITE_OK);
    EXPECT_NE(bad.LastError(), 0);
    EXPECT_FALSE(bad.IsOpen());
    EXPECT_EQ(bad.Exec("select 1;"), SQLITE_ERROR);
}

int ModeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

// The stores hold saved passwords in plain text.
TEST(SqliteDatabaseModeTest, DatabaseAndJournalAreTheOwnersAlone) {
    TempFolder folder;
    const std::string created = folder.Sub("server.db");
    SQLite::Database db;
    ASSERT_EQ(db.Open(created), SQLITE_OK);
    EXPECT_EQ(ModeOf(created), 0600);
    ASSERT_EQ(db.Exec("create table server(password text);"), SQLITE_OK);
    // Inside a transaction the rollback journal holds the rows as well.
    ASSERT_EQ(db.Exec("begin; insert into server values('secret');"), SQLITE_OK);
    EXPECT_EQ(ModeOf(created + "-journal"), 0600);
    ASSERT_EQ(db.Exec("commit;"), SQLITE_OK);
    db.Close();
    EXPECT_EQ(ModeOf(created), 0600);

    // One found readable by others is narrowed when opened, and keeps its rows.
    const std::string found = folder.Sub("shared.db");
    {
        SQLite::Database make;
        ASSERT_EQ(make.Open(found), SQLITE_OK);
        ASSERT_EQ(make.Exec("create table server(ip text); insert into server values('nas');"), SQLITE_OK);
    }
    ASSERT_EQ(::chmod(found.c_str(), 0644), 0);
    ASSERT_EQ(db.Open(found), SQLITE_OK);
    EXPECT_EQ(ModeOf(found), 0600);
    EXPECT_EQ(db.Query("select * from server;").RowCount(), 1);
}

TEST(SqliteDatabaseModeTest, AFifoUnderTheNameIsRefusedWithoutBlocking) {
    TempFolder folder;
    const std::string fifo = folder.Sub("server.db");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    SQLite::Database db;
    EXPECT_EQ(db.Open(fifo), SQLITE_CANTOPEN);
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(db.LastError(), SQLITE_CANTOPEN);
}

}  // namespace
