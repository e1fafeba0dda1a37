#pragma once
// The checker's file list work that needs no window: splitting a chosen path,
// scanning a folder for files to check, and verifying a list of rows.
#include <atomic>
#include <string>
#include <vector>

// name = the path's last component; folder = what precedes it, trailing
// separators removed (a file in "/" gets an empty folder). Always 1.
int SplitFilePath(const std::string& path, std::string* name, std::string* folder);

// Rebuilds the path of a list row from its folder and name columns.
std::string JoinFilePath(const std::string& folder, const std::string& name);

// Files under folder whose paths end in ".jpg" or ".avi" (case matters), in
// directory order; sub-folders are scanned while their depth is at most
// max_depth (folder itself is depth 0). Unreadable entries are skipped.
std::vector<std::string> ScanCheckFolder(const std::string& folder, int max_depth = 15);

struct VerifyJob {
    int row = 0;
    std::string path;
};

struct VerifyResult {
    int row = 0;
    std::string mark;  // "V" or "X"
};

// The verification thread's body: one verdict per job, in order, while run
// stays set (a cleared flag stops it between files).
std::vector<VerifyResult> VerifyFilesThread(const std::vector<VerifyJob>& jobs, const std::atomic<int>& run);
