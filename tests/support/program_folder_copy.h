#pragma once
// A fresh program folder laid out as the build lays the programs' own: the
// language texts and skin pictures beside the test program, and the data
// files as the build ships them. While it lives, ProgramFolder() answers it,
// so what a test stores there never reaches the build's folder.
#include <string>

#include "tests/support/temp_folder.h"

class ProgramFolderCopy {
public:
    ProgramFolderCopy();
    ~ProgramFolderCopy();
    ProgramFolderCopy(const ProgramFolderCopy&) = delete;
    ProgramFolderCopy& operator=(const ProgramFolderCopy&) = delete;

    const std::string& path() const { return folder_.path(); }
    std::string Sub(const std::string& name) const { return folder_.Sub(name); }
    // The folder the build laid out (the test program's own).
    const std::string& build_folder() const { return build_folder_; }

private:
    TempFolder folder_;
    std::string build_folder_;
    std::string previous_;
};
