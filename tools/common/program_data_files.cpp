#include "tools/common/program_data_files.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/owner_only_file.h"
#include "sources/sqlite_database.h"

namespace fs = std::filesystem;

namespace shipped {
namespace {

struct TextFile {
    const char* name;
    const char* text;
    bool owner_only;  // holds saved passwords
};

// An empty location: the first snapshot or export asks for a folder and keeps it.
constexpr TextFile kTextFiles[] = {
    {"lang/setting.ini", "[setting]\nlocation=\n", false},
    {"history.ini",
     "[playbackhistory]\nhistory1=\nhistory2=\nhistory3=\nhistory4=\nhistory5=\nhistory6=\nhistory7=\n"
     "history8=\nhistory9=\nhistory10=\n",
     true},
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

bool WriteText(const fs::path& path, const char* text, bool owner_only, std::string* error) {
    // Made empty at 0600 first, so the passwords later written into it were never readable by others.
    if (owner_only && platform::MakeOwnerOnly(path.string(), true) != platform::OwnerOnly::kDone) {
        *error = "cannot create " + path.string();
        return false;
    }
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
        if (fs::exists(path, probe) || probe) {
            // A user's file is kept, but no longer readable by others.
            if (file.owner_only) platform::MakeOwnerOnly(path.string(), false);
            continue;
        }
        if (!WriteText(path, file.text, file.owner_only, error)) return false;
    }
    for (const Store& store : kStores) {
        const fs::path path = root / store.name;
        std::error_code probe;
        if (fs::exists(path, probe) || probe) {
            platform::MakeOwnerOnly(path.string(), false);
            continue;
        }
        // The store is opened through the database wrapper, which makes it 0600.
        if (!WriteStore(path, store.create, error)) return false;
    }
    return true;
}

}  // namespace shipped
