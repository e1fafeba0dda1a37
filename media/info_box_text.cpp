#include "media/info_box_text.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <ctime>

namespace {

std::string CueText(int second, const char* label) {
    if (second < 0) return {};
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%.2d:%.2d:%.2d %s", second / 3600, second % 3600 / 60, second % 60, label);
    return buf;
}

}  // namespace

std::string InfoBoxDateText(int year, int month, int day) {
    char buf[64];
    std::snprintf(buf, sizeof(buf), " %d/%.2d/%.2d", year, month, day);
    return buf;
}

std::string InfoBoxTodayText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return InfoBoxDateText(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

std::string InfoBoxSpeedText(int speed) {
    char buf[32];
    // Negated in 64 bits: INT_MIN has no int negative.
    if (speed >= 1) {
        std::snprintf(buf, sizeof(buf), "%dx", speed);
    } else {
        std::snprintf(buf, sizeof(buf), "1/%" PRId64 "x", -int64_t{speed});
    }
    return buf;
}

std::string InfoBoxCueInText(int second) { return CueText(second, ":  IN"); }
std::string InfoBoxCueOutText(int second) { return CueText(second, ": OUT"); }
