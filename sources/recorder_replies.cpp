#include "sources/recorder_replies.h"

#include <climits>
#include <cstdio>

namespace {

constexpr int kCaptionLimit = 18;
constexpr int kCaptionKeep = 16;

int HexMaskDigit(char c) {
    if (c >= '1' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

// Unchecked digit arithmetic, as the day index is read: odd bytes give odd seconds, never a fault.
int HhMmSs(const std::string& line, size_t at) {
    auto two = [&](size_t i) { return (line[at + i] - '0') * 10 + (line[at + i + 1] - '0'); };
    return two(0) * 3600 + two(2) * 60 + two(4);
}

void AppendSegments(int mask, int start, int end, int type, std::vector<TimeLineSegment>* out) {
    for (int k = 1; k <= 4; ++k)
        if (mask & (1 << (k - 1))) out->push_back({k, start, end, type});
}

// Length of the UTF-8 sequence starting at s[i], 0 when it is not well-formed.
size_t Utf8SequenceLength(const std::string& s, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) return 1;
    size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    if (b(i + 1) < low || b(i + 1) > high) return 0;
    for (size_t k = 2; k < n; ++k)
        if (b(i + k) < 0x80 || b(i + k) > 0xBF) return 0;
    return n;
}

}  // namespace

int SplitString(const std::string& text, char separator, std::vector<std::string>* pieces) {
    pieces->clear();
    size_t begin = 0;
    for (;;) {
        const size_t at = text.find(separator, begin);
        if (at == std::string::npos) {
            pieces->push_back(text.substr(begin));
            return static_cast<int>(pieces->size());
        }
        pieces->push_back(text.substr(begin, at - begin));
        begin = at + 1;
    }
}


bool ParseSessionIdReply(const std::string& reply, int* session_id) {
    const size_t equals = reply.find('=');
    if (equals == std::string::npos) return false;
    const std::string rest = reply.substr(equals + 1);
    const size_t lease = rest.find("lease");
    *session_id = lease == std::string::npos ? 0 : LeadingDecimal(rest.substr(0, lease));
    return true;
}

std::vector<int> ParseRecordingDays(const std::string& reply) {
    std::vector<std::string> lines;
    const int n = SplitString(reply, '\n', &lines);
    std::vector<int> days;
    for (int i = 0; i + 1 < n; ++i) {
        const std::string& line = lines[static_cast<size_t>(i)];
        const size_t comma = line.rfind(',');
        const int day = LeadingDecimal(line, comma == std::string::npos ? 0 : comma + 1);
        if (day >= 1 && day <= 31) days.push_back(day);
    }
    return days;
}

RecordListPage ParseRecordListPage(const std::string& reply) {
    RecordListPage page;
    std::vector<std::string> lines;
    const int n = SplitString(reply, '\n', &lines);
    const size_t equals = lines[0].find('=');
    if (equals == std::string::npos) return page;
    page.valid = true;
    page.total = LeadingDecimal(lines[0], equals + 1);
    if (page.total == 0 || n < 5) return page;
    for (int i = 2; i <= n - 3; ++i) {
        const std::string& line = lines[static_cast<size_t>(i)];
        if (line.size() < 13) continue;
        ++page.record_lines;
        const int type = line.size() > 13 && line[13] >= '0' && line[13] <= '9' ? line[13] - '0' : 0;
        AppendSegments(HexMaskDigit(line[12]), HhMmSs(line, 0), HhMmSs(line, 6), type, &page.segments);
    }
    return page;
}

ChannelNameList ParseChannelNames(const std::string& reply) {
    ChannelNameList list;
    std::vector<std::string> lines;
    SplitString(reply, '\n', &lines);
    const size_t p = lines[0].find('=');
    if (p == std::string::npos || p == 0) return list;
    const int count = LeadingDecimal(lines[0], p + 1);
    for (int n = 1; n <= count && n <= 4; ++n) {
        const std::string line = static_cast<size_t>(n) < lines.size() ? lines[static_cast<size_t>(n)] : "";
        if (line.find(';') == std::string::npos) return list;
        const std::string rest = line.size() > p + 1 ? line.substr(p + 1) : "";
        const size_t semicolon = rest.find(';');
        if (semicolon == std::string::npos) return list;
        list.names[static_cast<size_t>(n - 1)] = RecorderChannelCaption(n, RepairUtf8(rest.substr(0, semicolon)));
    }
    list.complete = true;
    return list;
}

std::string RepairUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        const size_t n = Utf8SequenceLength(bytes, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(bytes, i, n);
            i += n;
        }
    }
    return out;
}

std::string ShortenCaption(const std::string& utf8) {
    const std::string text = RepairUtf8(utf8);
    std::vector<size_t> starts;  // byte offset of each character
    for (size_t i = 0; i < text.size(); i += Utf8SequenceLength(text, i)) starts.push_back(i);
    if (starts.size() < static_cast<size_t>(kCaptionLimit)) return text;
    return text.substr(0, starts[kCaptionKeep]) + "...";
}

std::string RecorderChannelCaption(int channel, const std::string& name) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "CH%.2d ", channel);
    return ShortenCaption(prefix + name);
}

std::string FolderChannelCaption(int channel, const std::string& name) {
    return name.empty() ? std::string() : RecorderChannelCaption(channel, name);
}
