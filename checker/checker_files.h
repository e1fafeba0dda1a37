#pragma once
// The checker's file list work that needs no window: splitting a chosen path,
// scanning a folder for files to check, and verifying a list of rows.
#include <atomic>
#include <functional>
#include <string>
#include <vector>

// name = the path's last component; folder = what precedes it, trailing
// separators removed (a file in "/" gets an empty folder). Always 1.
int SplitFilePath(const std::string& path, std::string* name, std::string* folder);

// Rebuilds the path of a list row from its folder and name columns.
std::string JoinFilePath(const std::string& folder, const std::string& name);

// Regular files (links followed) under folder whose paths end in ".jpg" or
// ".avi" (case matters), in directory order; sub-folders are scanned while
// their depth is at most max_depth (folder itself is depth 0). Unreadable
// entries are skipped.
std::vector<std::string> ScanCheckFolder(const std::string& folder, int max_depth = 15);

struct VerifyJob {
    int row = 0;
    std::string path;
};

struct VerifyResult {
    int row = 0;
    std::string mark;  // "V" or "X"
};

// One file's verdict, "V" or "X", or empty when run was cleared before the
// file was done.
using FileVerifier = std::function<std::string(const std::string& path, const std::atomic<int>& run)>;

// The verification thread's body: one verdict per job, in order, while run
// stays set. A cleared flag ends the file in progress, which gets no verdict.
// An empty verifier is VerifyFile.
std::vector<VerifyResult> VerifyFilesThread(const std::vector<VerifyJob>& jobs, const std::atomic<int>& run,
                                            const FileVerifier& verify = {});
