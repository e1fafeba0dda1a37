#pragma once
// Waits of the export threads that end as soon as their run flag is cleared.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

class ThreadWake {
public:
    // Waits up to ms while flag stays set; returns whether it is still set.
    bool Pause(const std::atomic<int>& flag, int ms) {
        if (ms > 0) {
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait_for(lock, std::chrono::milliseconds(ms), [&flag] { return flag.load() == 0; });
        }
        return flag.load() != 0;
    }
    // Called after clearing a flag, so waiting threads notice at once.
    void WakeAll() {
        { std::lock_guard<std::mutex> lock(mutex_); }
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
};
