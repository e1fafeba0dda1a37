#include "media/status_reply.h"

#include <climits>

int LeadingDecimal(const std::string& text, size_t pos) {
    size_t i = pos;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int>(-value);
    return static_cast<int>(value > INT_MAX ? INT_MAX : value);
}

bool ParseStatusReply(const std::string& reply, RemoteStatus* status) {
    return ReadStatusReply(reply, status) == StatusReplyKind::kStatus;
}

StatusReplyKind ReadStatusReply(const std::string& reply, RemoteStatus* status) {
    if (reply.find("time=") == std::string::npos || reply.find("playop=") == std::string::npos ||
        reply.find("speed=") == std::string::npos)
        return StatusReplyKind::kNotStatus;
    RemoteStatus parsed;
    size_t at = reply.find('=');
    size_t p = at + 1;
    for (size_t i = 0; i < parsed.time.size(); ++i) {
        parsed.time[i] = LeadingDecimal(reply, p);
        const size_t comma = reply.find(',', p);
        if (comma == std::string::npos) break;
        p = comma + 1;
    }
    at = reply.find('=', at + 1);
    if (at == std::string::npos) return StatusReplyKind::kNotStatus;
    parsed.playop = LeadingDecimal(reply, at + 1);
    at = reply.find('=', at + 1);
    if (at == std::string::npos) return StatusReplyKind::kNotStatus;
    parsed.speed_code = LeadingDecimal(reply, at + 1);
    // The time becomes seconds of the day: anything else is damage, not a position.
    const int hour = parsed.time[3], minute = parsed.time[4], second = parsed.time[5];
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return StatusReplyKind::kNoTimeOfDay;
    *status = parsed;
    return StatusReplyKind::kStatus;
}
