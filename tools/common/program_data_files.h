#pragma once
// The data files Larkspur expects beside itself and only ever updates: the
// storage setting "lang/setting.ini", the recent recorders "history.ini", and
// the stores "server.db" and "shared.db" with their table `server`. The build
// lays them into its program folder; a file already there is left as it is,
// since it may hold what a user stored.
#include <string>
#include <vector>

namespace shipped {

// The files, relative to the program folder.
std::vector<std::string> DataFileNames();

// Writes each missing file under program_folder (creating "lang/" when
// needed). False, with the reason in *error, when one cannot be written.
bool LayDataFiles(const std::string& program_folder, std::string* error);

}  // namespace shipped
