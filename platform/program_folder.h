#pragma once
#include <string>

namespace platform {

// Folder of the running executable, without trailing separator; data files
// (lang/, images/, setting files) are installed beside it.
std::string ProgramFolder();

}  // namespace platform
