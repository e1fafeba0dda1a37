// A share whose server stops in the middle of a backup or an export: the
// engines of the dialogs and the tools tell it as a failure that names what
// could not be read, and every file they list as written is whole.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "export/backup_files.h"
#include "export/backup_worker.h"
#include "export/local_export.h"
#include "platform/network_share.h"
#include "platform/program_folder.h"
#include "tests/support/samba_server.h"
#include "tests/support/sample_recording.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tool_run.h"
#include "tools/common/avdata_writer.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The port variable for the length of a test.
class SharePort {
public:
    explicit SharePort(int port) { ::setenv(platform::kSharePortVariable, std::to_string(port).c_str(), 1); }
    ~SharePort() { ::unsetenv(platform::kSharePortVariable); }
};

// A day of 20 minute files (14:00-14:19) of distinct bytes, with its index.
constexpr int kMinutes = 20;
void WriteBackupSource(const std::string& data) {
    sample::SampleDay day;
    day.year = 2012, day.month = 3, day.day = 5;
    day.entries = {{14 * 3600, 14 * 3600 + kMinutes * 60 - 1, '1', '1'}};
    std::string error;
    ASSERT_TRUE(sample::WriteDayIndex(data, day, &error)) << error;
    for (int m = 0; m < kMinutes; ++m) {
        char name[32];
        std::snprintf(name, sizeof name, "/2012/03/05/14/REC%.2d.db", m);
        ASSERT_TRUE(sample::WriteFileBytes(data + name, std::vector<uint8_t>(256 * 1024 + m, uint8_t(m + 1)), &error));
    }
}

BackupJob BackupOf(const std::string& source, const std::string& destination) {
    BackupJob job;
    job.source = source;
    job.destination = destination;
    job.range = {2012, 3, 5, 14, 0, 0, 2012, 3, 5, 14, kMinutes - 1, 59};
    job.channel_mask = 1;
    return job;
}

// A tool run whose process can be held while the share goes away.
class ToolProcess {
public:
    explicit ToolProcess(const std::vector<std::string>& args, const std::vector<std::string>& extra_env = {}) {
        std::vector<std::string> env_text(extra_env);
        for (char** e = environ; *e; ++e) env_text.emplace_back(*e);
        std::vector<char*> env;
        for (std::string& e : env_text) env.push_back(e.data());
        env.push_back(nullptr);
        std::vector<char*> argv;
        const std::string program = platform::ProgramFolder() + "/" + args[0];
        argv.push_back(const_cast<char*>(program.c_str()));
        for (size_t i = 1; i < args.size(); ++i) argv.push_back(const_cast<char*>(args[i].c_str()));
        argv.push_back(nullptr);
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), env.data()) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        readers_[0] = std::thread([this, fd = out[0]] { Drain(fd, &out_); });
        readers_[1] = std::thread([this, fd = err[0]] { Drain(fd, &err_); });
    }
    ~ToolProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (std::thread& t : readers_)
            if (t.joinable()) t.join();
    }
    bool Started() const { return pid_ > 0; }
    void Hold() { ::kill(pid_, SIGSTOP); }
    // Until the process has stopped itself; false when it ended instead.
    bool WaitUntilStopped() {
        int status = 0;
        if (::waitpid(pid_, &status, WUNTRACED) != pid_) return false;
        if (WIFSTOPPED(status)) return true;
        pid_ = -1;
        return false;
    }
    void Release() { ::kill(pid_, SIGCONT); }
    // Exit status, -1 when it did not exit normally.
    int Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        for (std::thread& t : readers_)
            if (t.joinable()) t.join();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

private:
    static void Drain(int fd, std::string* text) {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) text->append(buf, static_cast<size_t>(n));
        ::close(fd);
    }
    pid_t pid_ = -1;
    std::thread readers_[2];
    std::string out_, err_;
};

// The first whole column of each line: the paths a tool lists.
std::vector<std::string> ListedPaths(const std::string& out) {
    std::vector<std::string> paths;
    for (const std::string& line : Lines(out)) paths.push_back(line.substr(0, line.find('\t')));
    return paths;
}

class ShareLossTest : public ::testing::Test {
protected:
    void SetUp() override {
        share_root = tmp.Sub("share");
        fs::create_directories(share_root);
        fs::create_directories(tmp.Sub("out"));
    }
    // Starts the server over what the test wrote below share_root and, for
    // the engines, logs this process in. A process keeps the first server it
    // reached at that address, so only one test of a program logs in.
    bool StartServer(bool login) {
        server = std::make_unique<SambaServer>(share_root);
        if (!server->Running()) return false;
        port = std::make_unique<SharePort>(server->port());
        if (!login) return true;
        const int code = platform::ConnectShare(server->SharePath(), server->user(), SambaServer::kPassword);
        if (code != platform::kShareConnected) login_error = "login refused with " + std::to_string(code);
        return code == platform::kShareConnected;
    }
    std::vector<std::string> Login() const {
        return {"--user", server->user(), "--password", SambaServer::kPassword};
    }

    TempFolder tmp;
    std::string share_root;
    std::unique_ptr<SambaServer> server;
    std::unique_ptr<SharePort> port;
    std::string login_error;
};

TEST_F(ShareLossTest, BackupEngineTellsTheLostShareAndKeepsOnlyWholeFiles) {
    WriteBackupSource(share_root + "/avdata");
    if (!StartServer(true)) GTEST_SKIP() << "smbd cannot serve here: " << (server ? server->error() : "") << login_error;
    BackupWorker worker;
    int files = 0;
    worker.SetAfterFileHook([&] {
        if (++files == 3) server->Stop();
    });
    const BackupJob job = BackupOf(server->SharePath("\\avdata"), tmp.Sub("out/avdata"));
    ASSERT_TRUE(worker.Start(job, nullptr));
    worker.Wait();
    const BackupTally tally = worker.Tally();
    ASSERT_FALSE(tally.unreadable.empty());
    EXPECT_NE(tally.unreadable[0].find("REC03.db"), std::string::npos) << tally.unreadable[0];
    EXPECT_EQ(tally.files_copied, 3);
    for (const std::string& path : tally.written) {
        const std::string relative = fs::relative(path, job.destination).string();
        if (relative.find("RecordList") != std::string::npos) continue;
        EXPECT_EQ(ReadAll(path), ReadAll(share_root + "/avdata/" + relative)) << relative;
    }
}

TEST_F(ShareLossTest, BackupToolExitsWithFailureAndListsOnlyWholeFiles) {
    WriteBackupSource(share_root + "/avdata");
    if (!StartServer(false)) GTEST_SKIP() << "smbd cannot serve here: " << (server ? server->error() : "") << login_error;
    const std::string out = tmp.Sub("out");
    std::vector<std::string> args = {"avdata-backup", "--data", server->SharePath("\\avdata"), "--date", "2012-03-05",
                                     "--from", "14:00:00", "--to", "14:19:00", "--channels", "1", "--out", out};
    for (const std::string& a : Login()) args.push_back(a);
    // Held after its third minute file, while the share goes away.
    ToolProcess tool(args, {"AVDATA_BACKUP_HOLD_AFTER_FILES=3"});
    ASSERT_TRUE(tool.Started());
    ASSERT_TRUE(tool.WaitUntilStopped()) << tool.err();
    ASSERT_TRUE(fs::exists(out + "/avdata/2012/03/05/14/REC02.db"));
    server->Stop();
    tool.Release();
    EXPECT_EQ(tool.Wait(), 1) << tool.err();
    EXPECT_NE(tool.err().find("cannot read"), std::string::npos) << tool.err();
    const std::vector<std::string> listed = ListedPaths(tool.out());
    EXPECT_LT(listed.size(), static_cast<size_t>(kMinutes + 1));
    for (const std::string& path : listed) {
        const std::string relative = fs::relative(path, out + "/avdata").string();
        if (relative.find("RecordList") != std::string::npos) continue;
        EXPECT_EQ(ReadAll(path), ReadAll(share_root + "/avdata/" + relative)) << relative;
    }
}

// Four minutes of real pictures and sound on channel 1.
SmallRecording LongRecording() {
    SmallRecording r;
    r.start_second = 14 * 3600;
    r.seconds = 240;
    r.fps = 2;
    return r;
}

TEST_F(ShareLossTest, ExportToolExitsWithFailureAndListsOnlyWholeFiles) {
    const SmallRecording recording = LongRecording();
    ASSERT_FALSE(WriteSmallRecording(share_root, recording).empty());
    if (!StartServer(false)) GTEST_SKIP() << "smbd cannot serve here: " << (server ? server->error() : "") << login_error;
    const std::string out = tmp.Sub("out");
    std::vector<std::string> args = {"avdata-export", "--data", server->SharePath("\\avdata"), "--date", "2012-03-05",
                                     "--from", "14:00:00", "--to", "14:03:59", "--channels", "1,2", "--format",
                                     "original", "--out", out};
    for (const std::string& a : Login()) args.push_back(a);
    ToolProcess tool(args);
    ASSERT_TRUE(tool.Started());
    // Held as its first part opens, while the share goes away.
    const int fd = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(fd, 0);
    ::inotify_add_watch(fd, out.c_str(), IN_CREATE);
    std::error_code ec;
    if (fs::is_empty(out, ec)) {
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 60000), 1);
    }
    tool.Hold();
    ::close(fd);
    server->Stop();
    tool.Release();
    EXPECT_EQ(tool.Wait(), 1) << tool.err();
    EXPECT_NE(tool.err().find("cannot read"), std::string::npos) << tool.err();
    const std::vector<std::string> listed = ListedPaths(tool.out());
    ASSERT_FALSE(listed.empty()) << tool.err();
    // The second channel never starts once the first could not be read.
    for (const std::string& path : listed) {
        EXPECT_NE(fs::path(path).filename().string().rfind("CH01_", 0), std::string::npos) << path;
        EXPECT_EQ(DecodeErrors(path), "") << path;
    }
}

}  // namespace
