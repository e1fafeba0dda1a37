#include "checker/checker_files.h"

#include <filesystem>
#include <system_error>

#include "checker/verification.h"

namespace fs = std::filesystem;

int SplitFilePath(const std::string& path, std::string* name, std::string* folder) {
    const size_t slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
    while (!dir.empty() && dir.back() == '/') dir.pop_back();
    if (name) *name = base;
    if (folder) *folder = dir;
    return 1;
}

std::string JoinFilePath(const std::string& folder, const std::string& name) { return folder + "/" + name; }

static bool EndsWith(const std::string& s, const char* tail) {
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

static void Scan(const fs::path& folder, int depth, int max_depth, std::vector<std::string>* out) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return;
        std::error_code type_ec;
        // Links to folders are not followed: a loop of them would never end.
        if (it->is_directory(type_ec) && !it->is_symlink(type_ec)) {
            if (depth + 1 <= max_depth) Scan(it->path(), depth + 1, max_depth, out);
            continue;
        }
        // A FIFO, socket or device under such a name is no snapshot or export.
        if (!it->is_regular_file(type_ec)) continue;
        const std::string p = it->path().string();
        if (EndsWith(p, ".jpg") || EndsWith(p, ".avi")) out->push_back(p);
    }
}

std::vector<std::string> ScanCheckFolder(const std::string& folder, int max_depth) {
    std::vector<std::string> out;
    if (!folder.empty()) Scan(fs::path(folder), 0, max_depth, &out);
    return out;
}

std::vector<VerifyResult> VerifyFilesThread(const std::vector<VerifyJob>& jobs, const std::atomic<int>& run,
                                            const FileVerifier& verify) {
    std::vector<VerifyResult> results;
    results.reserve(jobs.size());
    for (const VerifyJob& job : jobs) {
        if (!run.load()) break;
        std::string mark = verify ? verify(job.path, run) : VerifyFile(job.path, &run);
        if (mark.empty()) break;
        results.push_back({job.row, std::move(mark)});
    }
    return results;
}
