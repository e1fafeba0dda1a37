#include "sources/share_query_worker.h"

uint64_t ShareQueryWorker::Start(std::function<void()> work, std::function<void(uint64_t)> done) {
    std::lock_guard<std::mutex> control(control_);
    AbortLocked();
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        generation = ++generation_;
    }
    share_calls_.Reset();
    running_ = 1;
    thread_ = std::thread([this, generation, work = std::move(work), done = std::move(done)] {
        {
            const platform::ScopedShareCallAbort bound(&share_calls_);
            work();
        }
        bool current = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            // An abort ended the calls early: what they found is no answer.
            current = generation == generation_ && !share_calls_.Aborted();
        }
        running_ = 0;
        if (current && done) done(generation);
    });
    return generation;
}

bool ShareQueryWorker::Finish(uint64_t generation) {
    std::lock_guard<std::mutex> control(control_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation != generation_ || share_calls_.Aborted()) return false;
        // Answers are taken once.
        ++generation_;
    }
    // done was its last step.
    if (thread_.joinable()) thread_.join();
    return true;
}

void ShareQueryWorker::Abort() {
    std::lock_guard<std::mutex> control(control_);
    AbortLocked();
}

void ShareQueryWorker::AbortLocked() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++generation_;
    }
    share_calls_.Abort();
    if (thread_.joinable()) thread_.join();
    running_ = 0;
}
