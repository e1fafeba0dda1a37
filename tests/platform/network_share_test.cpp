// The data-folder file layer on a real smbd: what it lists, finds and reads
// on the share equals what the same folder gives on local disk, the
// connection's outcomes, and a wait on a silent server ended by its owner.
#include "platform/network_share.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <atomic>
#include <thread>

#include "platform/data_file.h"
#include "tests/support/samba_server.h"
#include "tests/support/sample_recording.h"
#include "tests/support/skip.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

class NetworkShareTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tree_ = new TempFolder;
        const std::string root = tree_->Sub("share");
        WriteSmallRecording(root, SmallRecording{});
        fs::create_directories(root + "/odd names/sub");
        std::ofstream(root + "/odd names/two words %41 #1.db", std::ios::binary) << "odd";
        ::mkfifo((root + "/odd names/pipe").c_str(), 0644);
        server_ = new SambaServer(root);
        if (server_->Running()) ::setenv(platform::kSharePortVariable, std::to_string(server_->port()).c_str(), 1);
    }
    static void TearDownTestSuite() {
        delete server_;
        delete tree_;
        ::unsetenv(platform::kSharePortVariable);
    }
    void SetUp() override {
        if (!server_->Running()) SKIP_WITHOUT_INSTALLED("smbd cannot start here: " << server_->error());
    }
    static std::string Local(const std::string& tail = "") { return tree_->Sub("share") + tail; }
    static void Connect() {
        ASSERT_EQ(platform::ConnectShare(server_->SharePath(), server_->user(), SambaServer::kPassword),
                  platform::kShareConnected);
    }

    static TempFolder* tree_;
    static SambaServer* server_;
};

TempFolder* NetworkShareTest::tree_ = nullptr;
SambaServer* NetworkShareTest::server_ = nullptr;

TEST_F(NetworkShareTest, PathsMapToUrls) {
    EXPECT_EQ(platform::ShareUrl("\\\\host\\share\\dir"), "smb://host/share/dir");
    EXPECT_EQ(platform::ShareUrl("//host/share/dir/"), "smb://host/share/dir");
    EXPECT_EQ(platform::ShareUrl("\\\\host\\share/avdata\\2012/RecordList.db"),
              "smb://host/share/avdata/2012/RecordList.db");
    EXPECT_EQ(platform::ShareUrl("\\\\host\\a b%?#"), "smb://host/a%20b%25%3F%23");
    EXPECT_EQ(platform::ShareUrl("\\\\"), "");
    EXPECT_FALSE(platform::IsSharePath("/tmp/avdata"));
    EXPECT_FALSE(platform::IsSharePath("\\x"));
}

// "localhost" is a server of its own here, so its credentials start out unset.
TEST_F(NetworkShareTest, ConnectionOutcomes) {
    const std::string share = "\\\\localhost\\data";
    const std::string user = server_->user();
    EXPECT_FALSE(platform::PathExists(share)) << "no guest access";
    struct Case {
        const char* what;
        std::string remote;
        std::string password;
        int code;
    } cases[] = {
        {"wrong password", share, "wrong", platform::kShareLogonFailure},
        {"missing share", "\\\\localhost\\nosuch", SambaServer::kPassword, platform::kShareBadNetName},
        {"closed port", "\\\\127.0.0.2\\data", SambaServer::kPassword, platform::kShareBadNetPath},
        {"right password", share + "\\avdata", SambaServer::kPassword, platform::kShareConnected},
        {"again, same credentials", share, SambaServer::kPassword, platform::kShareConnected},
        {"other credentials", share, "other", platform::kShareCredentialConflict},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::ConnectShare(c.remote, user, c.password), c.code) << c.what;
    // The first connection stays in place.
    EXPECT_TRUE(platform::IsFolder(share + "\\avdata"));
    EXPECT_FALSE(platform::PathExists("\\\\127.0.0.2\\data"));
}

void ExpectSameTree(const std::string& local, const std::string& remote) {
    const std::vector<platform::FolderEntry> here = platform::ListFolder(local);
    const std::vector<platform::FolderEntry> there = platform::ListFolder(remote);
    ASSERT_EQ(there.size(), here.size()) << remote;
    std::vector<std::string> names;
    ASSERT_TRUE(platform::ListFolderNames(remote, &names)) << remote;
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), here.size()) << remote;
    for (size_t i = 0; i < here.size(); ++i) EXPECT_EQ(names[i], here[i].name) << remote;
    for (size_t i = 0; i < here.size(); ++i) {
        EXPECT_EQ(there[i].name, here[i].name) << remote;
        EXPECT_EQ(there[i].is_folder, here[i].is_folder) << remote << "/" << here[i].name;
        const std::string l = local + "/" + here[i].name;
        const std::string r = remote + "/" + here[i].name;
        if (here[i].is_folder) {
            EXPECT_TRUE(platform::IsFolder(r));
            ExpectSameTree(l, r);
            continue;
        }
        if (here[i].name == "pipe") continue;
        EXPECT_TRUE(platform::PathExists(r));
        EXPECT_FALSE(platform::IsFolder(r));
        platform::ReadOnlyFile a, b;
        ASSERT_TRUE(a.Open(l));
        ASSERT_TRUE(b.Open(r)) << r;
        ASSERT_EQ(b.Size(), a.Size()) << r;
        const uint64_t size = static_cast<uint64_t>(a.Size());
        std::vector<char> x(size + 16), y(size + 16);
        ASSERT_EQ(b.ReadAt(0, y.data(), y.size()), size) << r;
        ASSERT_EQ(a.ReadAt(0, x.data(), x.size()), size);
        EXPECT_TRUE(std::equal(x.begin(), x.begin() + static_cast<long>(size), y.begin())) << r;
        // Reads at offsets near and past the end, and far past 4 GiB.
        for (uint64_t at : {size / 2, size > 3 ? size - 3 : 0, size, size + 1, uint64_t{1} << 40, UINT64_MAX}) {
            char p[8] = {}, q[8] = {};
            EXPECT_EQ(b.ReadAt(at, q, sizeof q), a.ReadAt(at, p, sizeof p)) << r << " at " << at;
            EXPECT_EQ(std::string(q, sizeof q), std::string(p, sizeof p));
        }
    }
}

TEST_F(NetworkShareTest, ListingStatAndReadsEqualLocalDisk) {
    Connect();
    ExpectSameTree(Local(), "//127.0.0.1/data");
    // Backslashes, mixed separators and a trailing separator name the same places.
    EXPECT_TRUE(platform::IsFolder(server_->SharePath("\\avdata\\2012")));
    EXPECT_TRUE(platform::PathExists(server_->SharePath("\\avdata/2012\\03/05/RecordList.db")));
    EXPECT_TRUE(platform::IsFolder(server_->SharePath("\\avdata\\")));
    EXPECT_FALSE(platform::PathExists(server_->SharePath("\\avdata\\1999")));
    EXPECT_TRUE(platform::ListFolder(server_->SharePath("\\avdata\\1999")).empty());
    std::vector<std::string> names;
    EXPECT_FALSE(platform::ListFolderNames(server_->SharePath("\\avdata\\1999"), &names));
    // The server itself lists its shares.
    const std::vector<platform::FolderEntry> shares = platform::ListFolder("\\\\127.0.0.1");
    const bool listed = std::any_of(shares.begin(), shares.end(), [](const platform::FolderEntry& e) {
        return e.name == SambaServer::kShare && e.is_folder;
    });
    EXPECT_TRUE(listed);
}

TEST_F(NetworkShareTest, OnlyRegularFilesOpen) {
    Connect();
    platform::ReadOnlyFile file;
    for (const char* tail : {"\\avdata", "\\odd names\\missing.db", ""}) {
        EXPECT_FALSE(file.Open(server_->SharePath(tail))) << tail;
        EXPECT_FALSE(file.IsOpen());
    }
    // SMB shows a fifo as a file; what matters is that nothing waits on it.
    if (file.Open(server_->SharePath("\\odd names\\pipe"))) {
        char byte;
        EXPECT_EQ(file.ReadAt(0, &byte, 1), 0u);
    }
    EXPECT_FALSE(file.Open("\\\\127.0.0.1"));
    ASSERT_TRUE(file.Open(server_->SharePath("\\odd names\\two words %41 #1.db")));
    platform::ReadOnlyFile moved = std::move(file);
    char text[4] = {};
    EXPECT_EQ(moved.ReadAt(0, text, sizeof text), 3u);
    EXPECT_STREQ(text, "odd");
    moved.Close();
    EXPECT_EQ(moved.ReadAt(0, text, sizeof text), 0u);
    EXPECT_EQ(moved.Size(), -1);
}

int ListenOn(const char* address, int port) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) return -1;
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, address, &addr.sin_addr);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 8) != 0) {
        ::close(listener);
        return -1;
    }
    return listener;
}

bool Pending(int listener, int ms) {
    pollfd p{listener, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

// A server that hangs up at once: once found unreachable, it is not asked
// again for a while, so a run of calls (a month's day marks) costs one.
TEST_F(NetworkShareTest, AnUnreachableServerIsNotAskedAgainAtOnce) {
    const int listener = ListenOn("127.0.0.4", server_->port());
    ASSERT_GE(listener, 0);
    std::atomic<bool> returned{false};
    bool exists = true;
    std::thread caller([&] {
        exists = platform::PathExists("\\\\127.0.0.4\\data");
        returned = true;
    });
    int hung_up = 0;
    while (!returned) {
        if (!Pending(listener, 50)) continue;
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            ::close(connection);
            ++hung_up;
        }
    }
    caller.join();
    EXPECT_FALSE(exists);
    EXPECT_GE(hung_up, 1);
    for (int day = 1; day <= 31; ++day) EXPECT_FALSE(platform::PathExists("\\\\127.0.0.4\\data\\" + std::to_string(day)));
    EXPECT_FALSE(Pending(listener, 0)) << "the server was asked again";
    ::close(listener);
}

// A server that takes the connection and never answers: the owner's abort
// ends the caller's wait while libsmbclient still waits for the reply.
TEST_F(NetworkShareTest, AbortEndsTheWaitOnASilentServer) {
    Connect();
    platform::ShareCallAbort abort;
    {
        const platform::ScopedShareCallAbort bound(&abort);
        abort.Abort();
        EXPECT_FALSE(platform::PathExists(server_->SharePath()));
        abort.Reset();
        EXPECT_TRUE(platform::PathExists(server_->SharePath()));
    }

    const int listener = ListenOn("127.0.0.3", server_->port());
    ASSERT_GE(listener, 0);

    bool exists = true;
    std::thread caller([&] {
        const platform::ScopedShareCallAbort bound(&abort);
        exists = platform::PathExists("\\\\127.0.0.3\\data");
    });
    ASSERT_TRUE(Pending(listener, 10000)) << "the client never connected";
    const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(connection, 0);
    // Its request arrives; nothing is answered.
    pollfd q{connection, POLLIN, 0};
    EXPECT_EQ(::poll(&q, 1, 10000), 1);
    abort.Abort();
    caller.join();
    EXPECT_FALSE(exists);
    // The client side still waits for its answer (its end is open): the caller came back before it.
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(connection, buf, sizeof buf, MSG_DONTWAIT)) > 0) {
    }
    EXPECT_NE(n, 0) << "the client gave up before its caller";
    ::close(connection);
    ::close(listener);
}

}  // namespace
