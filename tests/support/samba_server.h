#pragma once
// A real smbd on a loopback port for the share tests, with a configuration,
// state and password database of its own under a temporary folder. One share
// "data" serves a folder; one user (the account the tests run as) may read it.
#include <sys/types.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_folder.h"

class SambaServer {
public:
    static constexpr char kShare[] = "data";
    static constexpr char kPassword[] = "Share-pw1";

    // Starts smbd serving folder; on failure error() says why and nothing runs.
    explicit SambaServer(const std::string& folder);
    // Stops smbd and every process it started, then removes its files.
    ~SambaServer();
    SambaServer(const SambaServer&) = delete;
    SambaServer& operator=(const SambaServer&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& error() const { return error_; }
    int port() const { return port_; }
    const std::string& user() const { return user_; }
    // The configuration every process of this server was started with.
    const std::string& config_file() const { return config_file_; }
    // "\\127.0.0.1\data" + tail (tail with "\" or "/" separators).
    std::string SharePath(const std::string& tail = "") const;
    // Stops smbd and every process it started, as a server that goes away;
    // its files stay until the destructor.
    void Stop();

private:
    bool Start(const std::string& folder);

    TempFolder tmp_;
    std::string user_;
    std::string error_;
    std::string config_file_;
    int port_ = 0;
    pid_t pid_ = -1;
    // Reads what smbd writes, so that it never blocks on a full pipe.
    std::thread drain_;
};

// Our live processes started with config_file as their configuration.
std::vector<pid_t> SambaServerProcesses(const std::string& config_file);
