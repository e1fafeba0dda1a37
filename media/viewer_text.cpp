#include "media/viewer_text.h"

#include <cstdio>

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char buf[128];
    const int n = std::snprintf(buf, sizeof(buf), format, args...);
    if (n < 0) return {};
    return std::string(buf, static_cast<size_t>(n) < sizeof(buf) ? static_cast<size_t>(n) : sizeof(buf) - 1);
}

}  // namespace

OsdLines BuildOsdLines(const OsdState& state, int view_index, const std::string& am_text,
                       const std::string& pm_text) {
    OsdLines lines;
    if (!state.show_text) return lines;
    if (state.show_date) lines.second = Format("%d/%.2d/%.2d ", state.year, state.month, state.day);
    if (state.show_time) {
        const bool pm = state.hour >= 13;
        lines.second += Format("%.2d:%.2d:%.2d", pm ? state.hour - 12 : state.hour, state.minute, state.second);
        lines.second += pm ? pm_text : am_text;
    }
    if (state.show_channel) lines.first = Format("CH-%d ", view_index + 1);
    if (state.show_camera_name) lines.first += state.camera_name;
    return lines;
}

std::string SnapshotFileName(int channel, int year, int month, int day, int hour, int minute, int second) {
    return Format("CH%.2d_%d%.2d%.2d-%d%.2d%.2d.jpg", channel, year, month, day, hour, minute, second);
}
