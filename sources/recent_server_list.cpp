#include "sources/recent_server_list.h"

#include <climits>
#include <utility>

#include "platform/data_file.h"
#include "platform/ini_file.h"
#include "platform/owner_only_file.h"
#include "platform/program_folder.h"

namespace {

std::string KeyName(int n) { return "history" + std::to_string(n); }

// Marks an entry whose fields are escaped; what follows the kind's ";" is ignored by a
// reader of the plain format, which still finds the kind.
constexpr const char* kEscapedMark = ";%";

// Characters that would shift the fields (","), end the kind (";"), split the INI line
// (line breaks) or be trimmed from the value (leading blanks of the first field).
bool MustEscape(char c) { return c == '%' || c == ',' || c == ';' || c == '\r' || c == '\n'; }

bool NeedsEscaping(const std::string& field, bool first) {
    if (first && !field.empty() && (field.front() == ' ' || field.front() == '\t')) return true;
    for (char c : field)
        if (MustEscape(c)) return true;
    return false;
}

std::string Escape(const std::string& field, bool first) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        const bool leading_blank = first && (c == ' ' || c == '\t') && out.size() == i * 3;
        if (MustEscape(c) || leading_blank) {
            out += '%';
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[static_cast<unsigned char>(c) & 15];
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "%" with two hex digits is one byte; anything else stays as it is.
std::string Unescape(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '%' && i + 2 < field.size() && HexDigit(field[i + 1]) >= 0 && HexDigit(field[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(field[i + 1]) * 16 + HexDigit(field[i + 2]));
            i += 2;
        } else {
            out += field[i];
        }
    }
    return out;
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

}  // namespace

std::string RecentServerList::DefaultPath() { return platform::ProgramFolder() + "/history.ini"; }

RecentServerList::RecentServerList(std::string path) : path_(std::move(path)) {}

void RecentServerList::Read() {
    entries_.fill(std::string());
    if (!platform::PathExists(path_)) return;
    // The entries hold passwords: a list found readable by others is narrowed to its owner.
    platform::MakeOwnerOnly(path_, false);
    for (int n = 1; n <= kEntryCount; ++n)
        entries_[static_cast<size_t>(n - 1)] = platform::GetProfileString(kSection, KeyName(n), "", kEntryChars, path_);
}

bool RecentServerList::Writable() const { return platform::PathExists(path_) && !platform::IsFolder(path_); }

bool RecentServerList::Write() const {
    if (!Writable()) return false;
    // Never created here; the rewrite keeps the file's (narrowed) permissions.
    platform::MakeOwnerOnly(path_, false);
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
    const std::string& ip = record.GetIp();
    int found = kEntryCount - 1;
    for (int i = 0; i < kEntryCount; ++i) {
        const std::string& entry = entries_[static_cast<size_t>(i)];
        if (entry.find(',') != std::string::npos && ParseEntry(entry).ip == ip) {
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
        const RecentServerEntry fields = ParseEntry(entry);
        items.push_back({kFirstCommandId + i, fields.name + "(" + fields.ip + ")"});
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
    const std::string fields[5] = {record.GetServerName(), record.GetIp(), recorder ? record.GetPort() : "1",
                                   record.GetUser(), record.GetPassword()};
    const char* kind = recorder ? "0;" : "1;";
    bool escaped = false;
    for (size_t i = 0; i < 5; ++i) escaped = escaped || NeedsEscaping(fields[i], i == 0);
    // Plain texts keep the plain format, so the file reads as it always did.
    std::string text;
    for (size_t i = 0; i < 5; ++i) text += (escaped ? Escape(fields[i], i == 0) : fields[i]) + ",";
    text += escaped ? std::string(kind, 1) + kEscapedMark : kind;
    return text;
}

RecentServerEntry RecentServerList::ParseEntry(const std::string& text) {
    std::vector<std::string> parts = SplitAtCommas(text);
    RecentServerEntry entry;
    if (parts.size() == 6 && parts[5].find(kEscapedMark) != std::string::npos) {
        entry.name = Unescape(parts[0]);
        entry.ip = Unescape(parts[1]);
        entry.port = Unescape(parts[2]);
        entry.user = Unescape(parts[3]);
        entry.password = Unescape(parts[4]);
        entry.kind = LeadingNumber(parts[5].substr(0, parts[5].find(';')));
        return entry;
    }
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
    entry.name = parts[0];
    entry.ip = parts[1];
    entry.port = parts[2];
    entry.user = parts[3];
    entry.password = parts[4];
    entry.kind = LeadingNumber(rest.substr(0, rest.find(';')));
    return entry;
}
