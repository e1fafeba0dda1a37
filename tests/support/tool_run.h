#pragma once
// Runs the programs of the build's bin folder as scripts do, and reads back
// the exported files from outside: ffprobe, ffmpeg, watermark-check.
#include <map>
#include <string>
#include <vector>

struct ToolRun {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// args: the program's name in the bin folder and its arguments, as shell text.
// prefix: shell text put before the program (a ulimit, say).
ToolRun RunTool(const std::string& args, const std::string& prefix = "");
// A command line as it stands; stdout and stderr together in out.
ToolRun RunShell(const std::string& command);
std::vector<std::string> Lines(const std::string& text);
// The text quoted for the shell.
std::string ShellQuote(const std::string& text);

// "key=value" lines of ffprobe's flat streams output, one map per stream.
std::vector<std::map<std::string, std::string>> ProbeStreams(const std::string& path);
// What "ffmpeg -v error" says while decoding every stream of the file.
std::string DecodeErrors(const std::string& path);

// A mount for the length of a test, undone however the test ends, so a failed
// check never leaves a file system mounted in the temporary folder.
class ScopedMount {
public:
    ScopedMount(const std::string& source, const std::string& target, const char* type, unsigned long flags,
                const char* options);
    ~ScopedMount();
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    // False where the test may not mount (then the test skips).
    bool ok() const { return ok_; }

private:
    std::string target_;
    bool ok_ = false;
};
