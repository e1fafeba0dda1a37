#pragma once
// Texts a viewer draws or writes: its two on-screen lines and its snapshot file names.
#include <string>

// The on-screen text state of one viewer, guarded by that viewer's lock.
// Show switches in the viewer's own order.
struct OsdState {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::string camera_name;
    int show_text = 1;
    int show_date = 1;
    int show_time = 1;
    int show_channel = 1;
    int show_camera_name = 1;
};

struct OsdLines {
    std::string first;   // "CH-n " and the camera name
    std::string second;  // date and time
};

// Hours 0-12 are shown as they are with the am text, 13-23 less 12 with the pm text.
OsdLines BuildOsdLines(const OsdState& state, int view_index, const std::string& am_text,
                       const std::string& pm_text);

// "CH01_20240305-90503.jpg": channel, then the local date and time of the snapshot.
std::string SnapshotFileName(int channel, int year, int month, int day, int hour, int minute, int second);
