#pragma once
// The ten recorders and shares last connected successfully, newest first, kept
// in "history.ini" beside the program. The file is only ever updated: when it
// is missing the list starts empty and is never saved.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "media/server_connection_record.h"

// One entry split into its fields; kind 0 is a recorder, anything else a share.
struct RecentServerEntry {
    std::string name;
    std::string ip;
    std::string port;
    std::string user;
    std::string password;
    int kind = 0;
};

struct RecentServerMenuItem {
    int command_id = 0;
    std::string label;  // name + "(" + IP address + ")"
};

class RecentServerList {
public:
    static constexpr int kEntryCount = 10;
    static constexpr int kFirstCommandId = 32777;
    // Room for one entry when read, terminator included. Long names or
    // passwords must not be cut on reading: a cut entry loses its kind.
    static constexpr size_t kEntryChars = 1024;
    static constexpr const char* kSection = "playbackhistory";
    static constexpr int kRecorderMode = 1;

    static std::string DefaultPath();

    explicit RecentServerList(std::string path = DefaultPath());

    // Replaces the list by the file's contents (all empty when the file is missing).
    void Read();
    // Writes all ten entries, empty ones included; false when the file does not
    // exist (it is not created) or cannot be written.
    bool Write() const;
    // The file exists, so the list is kept.
    bool Writable() const;
    // Puts the record on top (source mode 1 recorder, else share), dropping
    // the older entry of the same IP address or else the oldest, then writes.
    // An entry too long to be read back whole is not taken (false).
    bool Add(const ServerConnectionRecord& record, int source_mode);

    // "" for a free entry or an index outside 0-9.
    const std::string& Entry(int index) const;
    // One item per entry that holds a ",", in list order.
    std::vector<RecentServerMenuItem> MenuItems() const;
    // The entry a menu command stands for; none for a foreign id or a free entry.
    std::optional<RecentServerEntry> EntryForCommand(int command_id) const;

    // name,ip,port,user,password,kind; — port "1" and kind 1 for a share.
    static std::string FormatEntry(const ServerConnectionRecord& record, int source_mode);
    static RecentServerEntry ParseEntry(const std::string& text);

private:
    std::string path_;
    std::array<std::string, kEntryCount> entries_;
};
