#include "platform/program_folder.h"

#include <climits>
#include <mutex>
#include <unistd.h>

namespace platform {
namespace {

std::mutex g_lock;
std::string g_override;

std::string ExecutableFolder() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

std::string ProgramFolder() {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (!g_override.empty()) return g_override;
    }
    return ExecutableFolder();
}

std::string SetProgramFolder(const std::string& folder) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::string previous = g_override;
    g_override = folder;
    return previous;
}

}  // namespace platform
