#pragma once
// A dialog's reads of a share on a worker of its own, bound to the share
// layer's abort, so the window thread never waits on a share: an abort ends
// the worker's current share call at once and fails every later one, so the
// worker is joined at once. The work leaves its answers where its owner put
// them; the owner reads them only after Finish said they are current.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/network_share.h"

class ShareQueryWorker {
public:
    ShareQueryWorker() = default;
    ~ShareQueryWorker() { Abort(); }
    ShareQueryWorker(const ShareQueryWorker&) = delete;
    ShareQueryWorker& operator=(const ShareQueryWorker&) = delete;

    // Aborts and joins the work still running, then runs work on the worker. done runs on the
    // worker after the work, unless an abort or a later Start replaced it; it gets the generation.
    uint64_t Start(std::function<void()> work, std::function<void(uint64_t)> done);
    // On the owner's thread once done was called: true when generation is still the current
    // one (once: a second call is false), and then the worker has ended and its answers
    // may be read.
    bool Finish(uint64_t generation);
    // Any answer to come is dropped; returns once the worker has ended.
    void Abort();
    bool Running() const { return running_ != 0; }

private:
    void AbortLocked();

    std::mutex control_;  // start and abort
    std::mutex mutex_;
    uint64_t generation_ = 0;
    platform::ShareCallAbort share_calls_;
    std::atomic<int> running_{0};
    std::thread thread_;
};
