#pragma once
// What an export leaves behind for each part file it opened, so the user (or
// a script) learns which files are whole and which are not.
#include <cstdint>
#include <string>
#include <vector>

struct ExportedPart {
    std::string path;
    // Recorded pictures written into the file (the writers' gap fillers and
    // repeats not counted).
    int64_t video_frames = 0;
    // Every write, the close and the trailer (when asked for) succeeded.
    bool whole = false;
};

// The message that tells the user which files are not whole: the translated
// MSG_EXPORT_PART_FAILED and one file name a line. Empty when every part is whole.
std::string FailedPartsText(const std::vector<ExportedPart>& parts);
