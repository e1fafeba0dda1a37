#pragma once
// The backup's copy thread: rewrites the day indexes of the range and copies
// its per-minute files, moving a progress value the progress window shows.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "export/backup_files.h"
#include "platform/cancellable_wait.h"
#include "platform/network_share.h"

// The progress window as the copy thread sees it. Called on the copy thread;
// an implementation queues the work to its window thread.
class BackupProgressSink {
public:
    virtual ~BackupProgressSink() = default;
    virtual void SetBarPosition(int percent) = 0;
    // The window closes itself at the first tick of this 1000 ms timer.
    virtual void StartCloseTimer() = 0;
};

struct BackupTally {
    int days_written = 0;
    int files_copied = 0;
    // Destination files that could not be written (day indexes and minutes).
    int failures = 0;
    // The files written whole, in the order written.
    std::vector<std::string> written;
    // Source files (or folders) that are there, or may be, but could not be
    // read: the copy is not whole. Once the source folder itself is gone the
    // walk ends there.
    std::vector<std::string> unreadable;
};

class BackupWorker {
public:
    static constexpr int kNoDataDelayMs = 1000;

    BackupWorker() = default;
    ~BackupWorker();
    BackupWorker(const BackupWorker&) = delete;
    BackupWorker& operator=(const BackupWorker&) = delete;

    // False while a copy is still running. The sink, when given, must outlive
    // the copy or be detached first.
    bool Start(const BackupJob& job, BackupProgressSink* sink);
    // Clears the running flag, wakes the thread's waits and joins it.
    void Stop();
    // Joins a thread that is ending by itself.
    void Wait();
    // Later calls from the copy thread go nowhere.
    void DetachSink();
    // Called on the copy thread after each minute file; tests hold the copy there.
    void SetAfterFileHook(std::function<void()> hook) { after_file_ = std::move(hook); }
    // Blocks until the copy is told to stop or ms have passed; true when told.
    bool WaitUntilStopped(int ms) { return !Pause(ms); }

    bool Running() const { return running_.load() != 0; }
    // 0-100; 100 only after a complete walk of the range.
    int Progress() const { return progress_.load(); }
    // Set once a day index has been written.
    int DataCopied() const { return data_copied_.load(); }
    // Valid after the thread has ended.
    BackupTally Tally() const { return tally_; }

private:
    void Run();
    // False when the running flag fell to 0 during the wait.
    bool Pause(int ms);
    // Whether the walk of the range will visit any hour folder.
    bool AnyHourFolder() const;
    void ReportProgress(int percent);
    // After a look-up found nothing at path: a gap while the source folder is
    // still there, else the source is lost (path goes to the tally) and the walk ends.
    bool SourceLost(const std::string& path);
    void Finish();

    BackupJob job_;
    std::thread thread_;
    // Lets Stop end the copy thread's wait on a share at once.
    platform::ShareCallAbort share_calls_;
    std::atomic<int> running_{0};
    std::atomic<int> progress_{0};
    std::atomic<int> data_copied_{0};
    BackupTally tally_;

    // Stop ends the copy thread's pauses at once.
    platform::CancellableWait wake_;
    std::function<void()> after_file_;
    std::mutex sink_mutex_;
    BackupProgressSink* sink_ = nullptr;
};
