#pragma once
// Shared pieces of the record selection window tests: captured message
// boxes, a store file with its table, and the loopback ping.
#include <sqlite3.h>

#include <string>
#include <utility>
#include <vector>

#include "media/icmp_ping.h"
#include "platform/message_box.h"

namespace sel_test {

using Box = std::pair<std::string, std::string>;  // text, caption

// Records every box for its lifetime; each answers OK.
class BoxRecorder {
public:
    BoxRecorder() {
        previous_ = platform::SetMessageBoxHandler([this](const std::string& text, const std::string& caption, int) {
            boxes.emplace_back(text, caption);
            return platform::kIdOk;
        });
    }
    ~BoxRecorder() { platform::SetMessageBoxHandler(previous_); }
    std::vector<Box> Take() { return std::exchange(boxes, {}); }
    std::vector<Box> boxes;

private:
    platform::MessageBoxHandler previous_;
};

// The program never creates the table; the tests do.
inline bool CreateStore(const std::string& file, const std::string& create) {
    sqlite3* db = nullptr;
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return false;
    const bool ok = sqlite3_exec(db, create.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

constexpr const char* kServerTable =
    "create table server(saveenable text, server text, ip text, port text, user text, password text);";
constexpr const char* kShareTable = "create table server(saveenable text, ip text, entry text, user text, password text);";

// Where ICMP is not permitted the loopback counts as answering.
inline bool LoopbackAnswersPing() {
    IcmpPingResult reply;
    return IcmpPing("127.0.0.1", &reply) == 1;
}

}  // namespace sel_test
