#include "tests/support/samba_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace {

const char* const kSmbd = "/usr/sbin/smbd";
const char* const kSmbpasswd = "/usr/bin/smbpasswd";

int FreeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(s);
    return port;
}

// Waits for the process behind pidfd to end, at most ms.
bool WaitEnded(int pidfd, int ms) {
    pollfd p{pidfd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

// Our own processes started with conf as their configuration file: the server's helpers
// carry it as "--configfile=CONF", smbd itself as "-s CONF".
std::vector<pid_t> ProcessesOf(const std::string& conf) {
    std::vector<pid_t> found;
    const std::string flag = "--configfile=" + conf;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (pid == ::getpid()) continue;
        struct stat st;
        if (::stat(entry.path().c_str(), &st) != 0 || st.st_uid != ::getuid()) continue;
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::vector<std::string> args;
        for (std::string arg; std::getline(in, arg, '\0');) args.push_back(arg);
        for (size_t i = 0; i < args.size(); ++i) {
            if (args[i] == flag || (args[i] == "-s" && i + 1 < args.size() && args[i + 1] == conf)) {
                found.push_back(pid);
                break;
            }
        }
    }
    return found;
}

}  // namespace

std::vector<pid_t> SambaServerProcesses(const std::string& config_file) { return ProcessesOf(config_file); }

SambaServer::SambaServer(const std::string& folder) {
    if (!Start(folder)) Stop();
}

SambaServer::~SambaServer() { Stop(); }

std::string SambaServer::SharePath(const std::string& tail) const {
    return std::string("\\\\127.0.0.1\\") + kShare + tail;
}

bool SambaServer::Start(const std::string& folder) {
    if (::access(kSmbd, X_OK) != 0 || ::access(kSmbpasswd, X_OK) != 0) {
        error_ = "smbd or smbpasswd is not installed (Debian package samba)";
        return false;
    }
    if (const passwd* pw = ::getpwuid(::getuid())) user_ = pw->pw_name;
    port_ = FreeLoopbackPort();
    if (user_.empty() || port_ == 0) {
        error_ = "no user name or no free loopback port";
        return false;
    }
    const std::string root = tmp_.path();
    for (const char* dir : {"private", "lock", "state", "cache", "pid", "ncalrpc", "log"})
        std::filesystem::create_directories(root + "/" + dir);
    const std::string conf = root + "/smb.conf";
    config_file_ = conf;
    {
        std::ofstream out(conf);
        out << "[global]\n"
            << "  smb ports = " << port_ << "\n"
            << "  interfaces = 127.0.0.1\n  bind interfaces only = yes\n"
            << "  private dir = " << root << "/private\n"
            << "  lock directory = " << root << "/lock\n"
            << "  state directory = " << root << "/state\n"
            << "  cache directory = " << root << "/cache\n"
            << "  pid directory = " << root << "/pid\n"
            << "  ncalrpc dir = " << root << "/ncalrpc\n"
            << "  log file = " << root << "/log/smbd.log\n"
            << "  passdb backend = tdbsam:" << root << "/private/passdb.tdb\n"
            << "  server role = standalone server\n  map to guest = never\n  disable netbios = yes\n"
            << "  load printers = no\n  printcap name = /dev/null\n  disable spoolss = yes\n"
            << "[" << kShare << "]\n"
            << "  path = " << folder << "\n  read only = yes\n  valid users = " << user_ << "\n";
    }
    const std::string add_user =
        std::string(kSmbpasswd) + " -c '" + conf + "' -s -a '" + user_ + "' >/dev/null 2>&1";
    FILE* passwd = ::popen(add_user.c_str(), "w");
    if (!passwd) {
        error_ = "smbpasswd does not start";
        return false;
    }
    std::fprintf(passwd, "%s\n%s\n", kPassword, kPassword);
    if (::pclose(passwd) != 0) {
        error_ = "smbpasswd could not add " + user_;
        return false;
    }

    // The helpers that leave smbd's session come back to this process when their parents end,
    // so that it reaps them rather than leaving them to a first process that may never do so.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return false;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    if (pid == 0) {
        // A group of its own, so the server and the children it forks can be ended together;
        // and it ends with the test, should the test be killed before it can stop it.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        ::dup2(out[1], 1);
        ::dup2(out[1], 2);
        ::execl(kSmbd, kSmbd, "--foreground", "--no-process-group", "--debug-stdout", "-d", "2", "-s",
                conf.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::setpgid(pid, pid);
    pid_ = pid;
    ::close(out[1]);
    // Read what it says until it listens (or ends); after that the drain keeps the pipe from filling.
    std::string said;
    bool ready = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!ready) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                               std::chrono::steady_clock::now());
        pollfd p{out[0], POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) break;
        char buf[4096];
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0) break;
        said.append(buf, static_cast<size_t>(n));
        ready = said.find("waiting for connections") != std::string::npos;
    }
    const int fd = out[0];
    drain_ = std::thread([fd] {
        char buf[4096];
        while (::read(fd, buf, sizeof buf) > 0) {
        }
        ::close(fd);
    });
    if (!ready) {
        error_ = "smbd did not start listening: " + said.substr(0, 2000);
        return false;
    }
    return true;
}

void SambaServer::Stop() {
    if (pid_ <= 0) return;
    const pid_t group = pid_;
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    ::kill(-pid_, SIGTERM);
    if (pidfd < 0 || !WaitEnded(pidfd, 10000)) ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    // Children of the server that outlived it.
    ::kill(-pid_, SIGKILL);
    if (pidfd >= 0) ::close(pidfd);
    pid_ = -1;
    // The RPC helper smbd starts on demand puts itself and its workers in a session of their
    // own, out of reach of the group: they are known by this server's configuration file.
    // Each round waits for the ones it ended; a worker its helper forked meanwhile is found
    // by the next.
    for (int round = 0; round < 10; ++round) {
        const std::vector<pid_t> left = ProcessesOf(config_file_);
        if (left.empty()) break;
        for (const pid_t pid : left) {
            const int helper = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
            ::kill(pid, SIGKILL);
            if (helper >= 0) {
                WaitEnded(helper, 5000);
                ::close(helper);
            }
            ::waitpid(pid, nullptr, WNOHANG);  // when it came back to this process
        }
    }
    // smbd's own children that outlived it came back here too.
    while (::waitpid(-group, nullptr, WNOHANG) > 0) {
    }
    if (drain_.joinable()) drain_.join();
}
