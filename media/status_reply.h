#pragma once
// The recorder's "/play/opstatus" reply, and the saturated number reader every
// reply parser uses. Replies are untrusted: numbers are read saturated and the
// time is checked before it becomes seconds of the day.
#include <array>
#include <cstddef>
#include <string>

// The decimal number at text[pos] as atoi reads it (blanks, sign, digits),
// saturated to the int range; 0 when there are no digits.
int LeadingDecimal(const std::string& text, size_t pos = 0);

struct RemoteStatus {
    std::array<int, 6> time{};  // year, month, day, hour, minute, second
    int playop = 0;
    int speed_code = 0;
};
enum class StatusReplyKind {
    kNotStatus,    // a key is missing: the poll failed
    kNoTimeOfDay,  // a status whose time is no time of a day: nothing to show from it
    kStatus,
};
// "/play/opstatus": the six numbers after the first "=", comma-separated, the number after
// the next "=" (playop) and after the one after it (speed). *status is set only for kStatus.
StatusReplyKind ReadStatusReply(const std::string& reply, RemoteStatus* status);
// True only for kStatus.
bool ParseStatusReply(const std::string& reply, RemoteStatus* status);

