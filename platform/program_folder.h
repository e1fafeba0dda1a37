#pragma once
#include <string>

namespace platform {

// Folder of the running executable, without trailing separator; data files
// (lang/, images/, setting files) are installed beside it.
std::string ProgramFolder();

// Makes ProgramFolder() answer folder instead; empty restores the executable's
// folder. For tests, which run as programs of their own but must use a program
// folder laid out as the build lays Larkspur's. Returns the previous override.
std::string SetProgramFolder(const std::string& folder);

}  // namespace platform
