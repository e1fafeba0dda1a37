#include "export/export_output.h"

#include <algorithm>

#include "media/watermark_writer.h"

void ExportOutput::BeginExport() {
    std::lock_guard<std::mutex> lock(parts_mutex_);
    parts_.clear();
}

void ExportOutput::BeginChannel(const std::string& folder, const std::string& base_name) {
    folder_ = folder;
    base_name_ = base_name;
    part_counter_ = 0;
    current_file_name_.clear();
}

std::string ExportOutput::NextPartPath(const char* extension) {
    if (part_counter_ <= 0)
        current_file_name_ = base_name_ + "." + extension;
    else
        current_file_name_ = base_name_ + "_" + std::to_string(part_counter_) + "." + extension;
    ++part_counter_;
    return current_path();
}

bool ExportOutput::FinishPart(const std::string& path, bool closed_whole, bool watermark, int64_t frames) {
    bool whole = closed_whole;
    // A cut file must not be vouched for by the trailer.
    if (whole && watermark) whole = AppendWatermarkTrailer(path);
    AddPart(path, frames, whole);
    return whole;
}

void ExportOutput::AddPart(const std::string& path, int64_t frames, bool whole) {
    std::lock_guard<std::mutex> lock(parts_mutex_);
    parts_.push_back({path, frames, whole});
}

void ExportOutput::ForgetPart(const std::string& path) {
    std::lock_guard<std::mutex> lock(parts_mutex_);
    std::erase_if(parts_, [&path](const ExportedPart& part) { return part.path == path; });
}

std::vector<ExportedPart> ExportOutput::parts() const {
    std::lock_guard<std::mutex> lock(parts_mutex_);
    return parts_;
}
