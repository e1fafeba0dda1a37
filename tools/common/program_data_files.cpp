#include "tools/common/program_data_files.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "sources/sqlite_database.h"

namespace fs = std::filesystem;

namespace shipped {
namespace {

struct TextFile {
    const char* name;
    const char* text;
};

// An empty location: the first snapshot or export asks for a folder and keeps it.
constexpr TextFile kTextFiles[] = {
    {"lang/setting.ini", "[setting]\nlocation=\n"},
    {"history.ini",
     "[playbackhistory]\nhistory1=\nhistory2=\nhistory3=\nhistory4=\nhistory5=\nhistory6=\nhistory7=\n"
     "history8=\nhistory9=\nhistory10=\n"},
};

struct Store {
    const char* name;
    const char* create;
};

// Column order is binding: the inserts give their values by position.
constexpr Store kStores[] = {
    {"server.db", "create table server(saveenable text, server text, ip text, port text, user text, password text);"},
    {"shared.db", "create table server(saveenable text, ip text, entry text, user text, password text);"},
};

bool WriteText(const fs::path& path, const char* text, std::string* error) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (out) return true;
    *error = "cannot write " + path.string();
    return false;
}

bool WriteStore(const fs::path& path, const char* create, std::string* error) {
    // Built under another name and renamed, so an interrupted build leaves no store without its table.
    const fs::path partial = path.string() + ".new";
    std::error_code ignored;
    fs::remove(partial, ignored);
    int result = 0;
    {
        SQLite::Database database;
        result = database.Open(partial.string());
        if (result == 0) result = database.Exec(create);
    }
    std::error_code renamed;
    if (result == 0) fs::rename(partial, path, renamed);
    if (result == 0 && !renamed) return true;
    fs::remove(partial, ignored);
    *error = "cannot create " + path.string();
    return false;
}

}  // namespace

std::vector<std::string> DataFileNames() {
    std::vector<std::string> names;
    for (const TextFile& file : kTextFiles) names.push_back(file.name);
    for (const Store& store : kStores) names.push_back(store.name);
    return names;
}

bool LayDataFiles(const std::string& program_folder, std::string* error) {
    const fs::path root(program_folder);
    std::error_code made;
    fs::create_directories(root / "lang", made);
    if (made) {
        *error = "cannot create " + (root / "lang").string();
        return false;
    }
    for (const TextFile& file : kTextFiles) {
        const fs::path path = root / file.name;
        std::error_code probe;
        if (fs::exists(path, probe) || probe) continue;
        if (!WriteText(path, file.text, error)) return false;
    }
    for (const Store& store : kStores) {
        const fs::path path = root / store.name;
        std::error_code probe;
        if (fs::exists(path, probe) || probe) continue;
        if (!WriteStore(path, store.create, error)) return false;
    }
    return true;
}

}  // namespace shipped
