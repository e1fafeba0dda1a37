#pragma once
// The file side both exports share: a channel's part files are named from its
// base name (then _1, _2, ...), each closed part gets the watermark trailer
// when asked and goes on the list of parts the export opened or tried to open.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "export/exported_part.h"

class ExportOutput {
public:
    // Start of an export: no parts yet.
    void BeginExport();
    // Start of a channel: its parts are named from base_name in folder.
    void BeginChannel(const std::string& folder, const std::string& base_name);
    // The next part's path; extension without its dot.
    std::string NextPartPath(const char* extension);
    // After the writer closed the part at path: a whole part gets the trailer
    // when watermark is on, and is listed. Whether the file is whole.
    bool FinishPart(const std::string& path, bool closed_whole, bool watermark, int64_t frames);
    void AddPart(const std::string& path, int64_t frames, bool whole);
    // Takes a part that was removed from the disk off the list.
    void ForgetPart(const std::string& path);
    // Every part the export opened or tried to open, in order.
    std::vector<ExportedPart> parts() const;

    const std::string& folder() const { return folder_; }
    const std::string& base_name() const { return base_name_; }
    const std::string& current_file_name() const { return current_file_name_; }
    std::string current_path() const { return folder_ + "/" + current_file_name_; }
    int part_counter() const { return part_counter_; }

private:
    std::string folder_;
    std::string base_name_;
    int part_counter_ = 0;
    std::string current_file_name_;
    mutable std::mutex parts_mutex_;
    std::vector<ExportedPart> parts_;
};
