// The data files the build lays beside the programs, laid by the tool as the
// build runs it, then used through the program's own readers and stores.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "mainwindow/storage_location.h"
#include "platform/program_folder.h"
#include "sources/nas_share_store.h"
#include "sources/recent_server_list.h"
#include "sources/server_manager.h"
#include "tests/support/temp_folder.h"

namespace {

int LayWithTool(const std::string& folder) {
    const std::string command = platform::ProgramFolder() + "/data-files '" + folder + "' 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ModeOf(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DataFiles, EveryShippedFileWorksWithTheProgramsReadersAndStores) {
    TempFolder program;
    ASSERT_EQ(LayWithTool(program.path()), 0);

    // The storage folder is remembered: the setting exists, so it is written.
    EXPECT_EQ(ReadStorageLocationIn(program.path()), "");
    EXPECT_TRUE(WriteStorageLocationIn(program.path(), "/srv/exports"));
    EXPECT_EQ(ReadStorageLocationIn(program.path()), "/srv/exports");

    RecentServerList history(program.Sub("history.ini"));
    history.Read();
    EXPECT_EQ(history.Entry(0), "");
    ServerConnectionRecord recorder;
    recorder.SetServerName("Gate");
    recorder.SetIp("10.0.0.7");
    recorder.SetPort("8080");
    recorder.SetUser("admin");
    recorder.SetPassword("pw");
    recorder.SetSaveEnable("1");
    EXPECT_TRUE(history.Add(recorder, RecentServerList::kRecorderMode));
    RecentServerList again(program.Sub("history.ini"));
    again.Read();
    EXPECT_EQ(again.Entry(0), "Gate,10.0.0.7,8080,admin,pw,0;");

    {
        CServerManager store(program.Sub("server.db"));
        EXPECT_EQ(store.Insert(recorder), 0);
        const ServerConnectionRecord back = store.SelectByIp("10.0.0.7");
        EXPECT_EQ(back.GetServerName(), "Gate");
        EXPECT_EQ(back.GetPort(), "8080");
        EXPECT_EQ(back.GetSaveEnable(), "1");
        EXPECT_EQ(store.LastError(), 0);
    }
    {
        ServerConnectionRecord share;
        share.SetIp("nas");
        share.SetServerName("rec\\cam1");
        share.SetUser("guest");
        share.SetSaveEnable("0");
        NasShareStore store(program.Sub("shared.db"));
        EXPECT_EQ(store.Insert(share), 0);
        EXPECT_EQ(store.SelectByIp("nas").GetServerName(), "rec\\cam1");
        EXPECT_EQ(store.LastError(), 0);
    }

    // A second build keeps everything the user stored, and lays again only what went missing.
    const std::string setting = Contents(program.Sub("lang/setting.ini"));
    const std::string recent = Contents(program.Sub("history.ini"));
    std::filesystem::remove(program.Sub("shared.db"));
    ASSERT_EQ(LayWithTool(program.path()), 0);
    EXPECT_EQ(Contents(program.Sub("lang/setting.ini")), setting);
    EXPECT_EQ(Contents(program.Sub("history.ini")), recent);
    EXPECT_EQ(CServerManager(program.Sub("server.db")).SelectByIp("10.0.0.7").GetServerName(), "Gate");
    NasShareStore fresh(program.Sub("shared.db"));
    EXPECT_EQ(fresh.SelectAll().RowCount(), 0);
    EXPECT_EQ(fresh.LastError(), 0);
}

TEST(DataFiles, TheBuildsProgramFolderHoldsThem) {
    for (const char* name : {"lang/setting.ini", "history.ini", "server.db", "shared.db"})
        EXPECT_TRUE(std::filesystem::exists(platform::ProgramFolder() + "/" + name)) << name;
}

// The stores and the recent list keep saved passwords in plain text.
TEST(DataFiles, FilesWithPasswordsAreTheOwnersAlone) {
    TempFolder program;
    ASSERT_EQ(LayWithTool(program.path()), 0);
    for (const char* name : {"history.ini", "server.db", "shared.db"}) EXPECT_EQ(ModeOf(program.Sub(name)), 0600) << name;

    // A user's files found readable by others are kept, narrowed.
    for (const char* name : {"history.ini", "server.db"}) ASSERT_EQ(::chmod(program.Sub(name).c_str(), 0644), 0);
    std::ofstream(program.Sub("history.ini"), std::ios::app) << "; mine\n";
    ASSERT_EQ(LayWithTool(program.path()), 0);
    for (const char* name : {"history.ini", "server.db"}) EXPECT_EQ(ModeOf(program.Sub(name)), 0600) << name;
    EXPECT_NE(Contents(program.Sub("history.ini")).find("; mine"), std::string::npos);
}

TEST(DataFiles, TheBuildsFilesWithPasswordsAreTheOwnersAlone) {
    for (const char* name : {"history.ini", "server.db", "shared.db"})
        EXPECT_EQ(ModeOf(platform::ProgramFolder() + "/" + name), 0600) << name;
}

TEST(DataFiles, AFolderThatCannotBeWrittenFails) {
    TempFolder tmp;
    std::ofstream(tmp.Sub("plain")) << "a file, not a folder";
    EXPECT_NE(LayWithTool(tmp.Sub("plain")), 0);
}

}  // namespace
