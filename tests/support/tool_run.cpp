#include "tests/support/tool_run.h"

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/program_folder.h"

namespace {

std::string ReadPipe(FILE* pipe) {
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    return out;
}

int ExitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

ToolRun RunTool(const std::string& args, const std::string& prefix) {
    ToolRun run;
    char err_path[] = "/tmp/larkspur-tool-err-XXXXXX";
    const int fd = mkstemp(err_path);
    if (fd < 0) return run;
    close(fd);
    const std::string command =
        prefix + " " + ShellQuote(platform::ProgramFolder() + "/") + args + " 2>" + ShellQuote(err_path);
    if (FILE* pipe = popen(command.c_str(), "r")) {
        run.out = ReadPipe(pipe);
        run.status = ExitStatus(pclose(pipe));
    }
    std::ifstream err(err_path, std::ios::binary);
    run.err.assign(std::istreambuf_iterator<char>(err), {});
    unlink(err_path);
    return run;
}

ToolRun RunShell(const std::string& command) {
    ToolRun run;
    if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
        run.out = ReadPipe(pipe);
        run.status = ExitStatus(pclose(pipe));
    }
    return run;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::map<std::string, std::string>> ProbeStreams(const std::string& path) {
    std::vector<std::map<std::string, std::string>> streams;
    const ToolRun run = RunShell("ffprobe -v error -show_streams -of default=noprint_wrappers=0 " + ShellQuote(path));
    for (const std::string& line : Lines(run.out)) {
        if (line == "[STREAM]") {
            streams.emplace_back();
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos || streams.empty()) continue;
        streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return streams;
}

std::string DecodeErrors(const std::string& path) {
    // The file's own timing: the null muxer would otherwise re-time the frames
    // to the rate written in an MPEG-4 bitstream and complain about its own work.
    return RunShell("ffmpeg -nostdin -v error -i " + ShellQuote(path) +
                    " -vsync passthrough -enc_time_base -1 -f null -").out;
}

ScopedMount::ScopedMount(const std::string& source, const std::string& target, const char* type, unsigned long flags,
                         const char* options)
    : target_(target), ok_(mount(source.c_str(), target.c_str(), type, flags, options) == 0) {}

ScopedMount::~ScopedMount() {
    if (ok_) umount(target_.c_str());
}
