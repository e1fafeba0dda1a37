#pragma once
// Text listing of what the engine's disk-copy readers find, one record a line.
#include <ostream>
#include <string>

namespace sample {

// FOLDER may be the "avdata" folder or the folder holding it.
std::string ResolveDataFolder(const std::string& folder);

// "start_second\tend_second\tchannel_mask\trecord_type" per entry; false when the index does not read.
bool DumpDay(const std::string& folder, int year, int month, int day, std::ostream& out, std::string* error);
// One line per readable frame entry; false when the minute file does not open.
bool DumpMinute(const std::string& folder, int year, int month, int day, int hour, int minute, std::ostream& out,
                std::string* error);

}  // namespace sample
