#include "tests/support/program_folder_copy.h"

#include <filesystem>
#include <stdexcept>

#include "platform/program_folder.h"
#include "tools/common/program_data_files.h"

namespace fs = std::filesystem;

ProgramFolderCopy::ProgramFolderCopy() {
    previous_ = platform::SetProgramFolder("");
    build_folder_ = platform::ProgramFolder();
    const fs::path from(build_folder_);
    const fs::path to(folder_.path());
    fs::create_directories(to / "lang");
    // Only the language texts: the build's own setting file may hold what someone stored.
    for (const auto& entry : fs::directory_iterator(from / "lang")) {
        if (entry.path().extension() == ".txt") fs::copy_file(entry.path(), to / "lang" / entry.path().filename());
    }
    fs::copy(from / "images", to / "images", fs::copy_options::recursive);
    std::string error;
    if (!shipped::LayDataFiles(folder_.path(), &error)) throw std::runtime_error(error);
    platform::SetProgramFolder(folder_.path());
}

ProgramFolderCopy::~ProgramFolderCopy() { platform::SetProgramFolder(previous_); }
