#include "export/backup_worker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/stat.h>

#include "platform/data_file.h"

BackupWorker::~BackupWorker() { Stop(); }

bool BackupWorker::Start(const BackupJob& job, BackupProgressSink* sink) {
    if (Running()) return false;
    if (thread_.joinable()) thread_.join();
    job_ = job;
    tally_ = {};
    progress_ = 0;
    data_copied_ = 0;
    {
        std::lock_guard lock(sink_mutex_);
        sink_ = sink;
    }
    wake_.Reset();
    running_ = 1;
    share_calls_.Reset();
    thread_ = std::thread([this] {
        const platform::ScopedShareCallAbort bound(&share_calls_);
        Run();
    });
    return true;
}

void BackupWorker::Stop() {
    running_ = 0;
    platform::StopThread(wake_, thread_, [this] { share_calls_.Abort(); });
}

void BackupWorker::Wait() {
    if (thread_.joinable()) thread_.join();
}

void BackupWorker::DetachSink() {
    std::lock_guard lock(sink_mutex_);
    sink_ = nullptr;
}

bool BackupWorker::Pause(int ms) { return wake_.WaitFor(ms) && running_.load() != 0; }

bool BackupWorker::AnyHourFolder() const {
    bool found = false;
    ForEachDaySlot(job_.range, [&](CivilDate date) {
        if (running_.load() == 0) return false;
        uint64_t size = 0;
        if (!DayIndexMatches(DayIndexPath(job_.source, date.year, date.month, date.day), job_, &size)) return true;
        const uint64_t listed = ListedHours(DayFolderPath(job_.source, date));
        const ClockSpan hours = HourSpan(job_.range, date);
        for (int h = hours.first; h <= hours.last && !found; ++h)
            found = SlotListed(listed, h) && platform::IsFolder(HourFolderPath(job_.source, date, h));
        return !found;
    });
    return found;
}

void BackupWorker::ReportProgress(int percent) {
    std::lock_guard lock(sink_mutex_);
    if (running_.load() == 0) return;
    progress_ = percent;
    if (!sink_) return;
    sink_->SetBarPosition(percent);
    if (percent > 99) sink_->StartCloseTimer();
}

void BackupWorker::Finish() {
    std::lock_guard lock(sink_mutex_);
    if (running_.load() == 0) return;
    progress_ = 100;
    if (!sink_) return;
    sink_->SetBarPosition(100);
    sink_->StartCloseTimer();
}

bool BackupWorker::SourceLost(const std::string& path) {
    // A stop ends the share calls at once: what then fails is not lost.
    if (running_.load() == 0) return true;
    if (platform::IsFolder(job_.source)) return false;
    if (running_.load() == 0) return true;
    tally_.unreadable.push_back(path);
    return true;
}

void BackupWorker::Run() {
    const int64_t total = std::max<int64_t>(job_.range.TotalSeconds(), 1);
    if (!AnyHourFolder()) {
        // A source that vanished is no lack of data.
        if (running_.load() != 0) SourceLost(job_.source);
        if (Pause(kNoDataDelayMs)) Finish();
        running_ = 0;
        return;
    }
    std::vector<uint8_t> buffer;
    bool lost = false;
    ForEachDaySlot(job_.range, [&](CivilDate date) {
        if (running_.load() == 0) return false;
        const BackupWrite index = RewriteDayIndex(job_, date);
        if (index == BackupWrite::kFailed) ++tally_.failures;
        const std::string index_path = DayIndexPath(job_.source, date.year, date.month, date.day);
        if (index == BackupWrite::kUnreadable) tally_.unreadable.push_back(index_path);
        if (index == BackupWrite::kSkipped && SourceLost(index_path)) lost = true;
        if (lost) return false;
        if (index != BackupWrite::kWritten) return true;
        ++tally_.days_written;
        tally_.written.push_back(DayIndexPath(job_.destination, date.year, date.month, date.day));
        data_copied_ = 1;
        const uint64_t listed_hours = ListedHours(DayFolderPath(job_.source, date));
        const ClockSpan hours = HourSpan(job_.range, date);
        for (int h = hours.first; h <= hours.last; ++h) {
            if (running_.load() == 0) return false;
            uint64_t listed_minutes = 0;
            if (!SlotListed(listed_hours, h)) continue;
            const std::string hour_folder = HourFolderPath(job_.source, date, h);
            if (!ListHourFolder(hour_folder, &listed_minutes)) {
                if (SourceLost(hour_folder)) {
                    lost = true;
                    return false;
                }
                continue;
            }
            ::mkdir(HourFolderPath(job_.destination, date, h).c_str(), 0755);
            const ClockSpan minutes = MinuteSpan(job_.range, date, h);
            for (int m = minutes.first; m <= minutes.last; ++m) {
                if (running_.load() == 0) return false;
                // What the listing lacks is not there; the rest is opened, and
                // what then does not open is a gap only while the source is there.
                if (SlotListed(listed_minutes, m)) {
                    const std::string source = MinuteFilePath(job_.source, date.year, date.month, date.day, h, m);
                    const std::string destination =
                        MinuteFilePath(job_.destination, date.year, date.month, date.day, h, m);
                    const BackupWrite copy = CopyBackupFile(source, destination, running_, &buffer);
                    if (copy == BackupWrite::kWritten) {
                        ++tally_.files_copied;
                        tally_.written.push_back(destination);
                    }
                    if (copy == BackupWrite::kFailed) ++tally_.failures;
                    if (copy == BackupWrite::kUnreadable) tally_.unreadable.push_back(source);
                    if (copy == BackupWrite::kSkipped && SourceLost(source)) {
                        lost = true;
                        return false;
                    }
                    if (copy == BackupWrite::kUnreadable && !platform::IsFolder(job_.source)) {
                        lost = true;
                        return false;
                    }
                }
                ReportProgress(static_cast<int>(job_.range.SecondsFromStart(date, h, m) * 100 / total));
                if (after_file_) after_file_();
            }
        }
        return true;
    });
    // Reaching the end of the walk (or losing the source) ends the progress
    // window; a stop left running_ at 0. The tally tells a lost source.
    Finish();
    running_ = 0;
}
