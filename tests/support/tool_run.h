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
