#include "sources/recent_server_list.h"

#include <climits>
#include <utility>

#include "platform/data_file.h"
#include "platform/ini_file.h"
#include "platform/program_folder.h"

namespace {

std::string KeyName(int n) { return "history" + std::to_string(n); }

// A line break in a field would split the INI line and plant keys of its own.
std::string OneLine(std::string text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}

std::vector<std::string> SplitAtCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

// The leading decimal number, as atoi reads it, saturated instead of overflowing.
int LeadingNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > INT_MAX) {
            value = INT_MAX;
            break;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

// The IP address field, the only thing entries are matched by.
std::string IpField(const std::string& entry) {
    const size_t first = entry.find(',');
    if (first == std::string::npos) return std::string();
    const size_t second = entry.find(',', first + 1);
    return entry.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

}  // namespace

std::string RecentServerList::DefaultPath() { return platform::ProgramFolder() + "/history.ini"; }

RecentServerList::RecentServerList(std::string path) : path_(std::move(path)) {}

void RecentServerList::Read() {
    entries_.fill(std::string());
    if (!platform::PathExists(path_)) return;
    for (int n = 1; n <= kEntryCount; ++n)
        entries_[static_cast<size_t>(n - 1)] = platform::GetProfileString(kSection, KeyName(n), "", kEntryChars, path_);
}

bool RecentServerList::Write() const {
    if (!platform::PathExists(path_) || platform::IsFolder(path_)) return false;
    bool written = true;
    for (int n = 1; n <= kEntryCount; ++n)
        written = platform::WriteProfileString(kSection, KeyName(n), entries_[static_cast<size_t>(n - 1)], path_) &&
                  written;
    return written;
}

bool RecentServerList::Add(const ServerConnectionRecord& record, int source_mode) {
    std::string text = FormatEntry(record, source_mode);
    if (platform::TruncateUtf8(text, kEntryChars - 1) != text) return false;
    // Matched on the address field as a whole: a substring test would let
    // "10.0.0.1" replace the entry of "10.0.0.15".
    const std::string ip = OneLine(record.GetIp());
    int found = kEntryCount - 1;
    for (int i = 0; i < kEntryCount; ++i) {
        const std::string& entry = entries_[static_cast<size_t>(i)];
        if (entry.find(',') != std::string::npos && IpField(entry) == ip) {
            found = i;
            break;
        }
    }
    for (int i = found; i > 0; --i) entries_[static_cast<size_t>(i)] = std::move(entries_[static_cast<size_t>(i - 1)]);
    entries_[0] = std::move(text);
    return Write();
}

const std::string& RecentServerList::Entry(int index) const {
    static const std::string kEmpty;
    if (index < 0 || index >= kEntryCount) return kEmpty;
    return entries_[static_cast<size_t>(index)];
}

std::vector<RecentServerMenuItem> RecentServerList::MenuItems() const {
    std::vector<RecentServerMenuItem> items;
    for (int i = 0; i < kEntryCount; ++i) {
        const std::string& entry = entries_[static_cast<size_t>(i)];
        const size_t comma = entry.find(',');
        if (comma == std::string::npos) continue;
        items.push_back({kFirstCommandId + i, entry.substr(0, comma) + "(" + IpField(entry) + ")"});
    }
    return items;
}

std::optional<RecentServerEntry> RecentServerList::EntryForCommand(int command_id) const {
    const int index = command_id - kFirstCommandId;
    if (index < 0 || index >= kEntryCount || entries_[static_cast<size_t>(index)].empty()) return std::nullopt;
    return ParseEntry(entries_[static_cast<size_t>(index)]);
}

std::string RecentServerList::FormatEntry(const ServerConnectionRecord& record, int source_mode) {
    const bool recorder = source_mode == kRecorderMode;
    return OneLine(record.GetServerName()) + "," + OneLine(record.GetIp()) + "," +
           (recorder ? OneLine(record.GetPort()) : std::string("1")) + "," + OneLine(record.GetUser()) + "," +
           OneLine(record.GetPassword()) + "," + (recorder ? "0;" : "1;");
}

RecentServerEntry RecentServerList::ParseEntry(const std::string& text) {
    std::vector<std::string> parts = SplitAtCommas(text);
    // The kind is taken after the last comma, so a password holding commas
    // still reads back whole and the kind is not lost in it.
    std::string rest;
    if (parts.size() > 6) {
        rest = parts.back();
        for (size_t i = 5; i + 1 < parts.size(); ++i) parts[4] += "," + parts[i];
    } else if (parts.size() == 6) {
        rest = parts[5];
    }
    parts.resize(5);
    RecentServerEntry entry;
    entry.name = parts[0];
    entry.ip = parts[1];
    entry.port = parts[2];
    entry.user = parts[3];
    entry.password = parts[4];
    entry.kind = LeadingNumber(rest.substr(0, rest.find(';')));
    return entry;
}
