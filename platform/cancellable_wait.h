#pragma once
// The one wait of our threads: a stop flag and, when the owner wants, state of
// its own kept under the same lock, with one condition variable for both.
// Every wait ends at its deadline, when its predicate holds, or at once when a
// stop is requested; a stop also makes later waits return at once until Reset.
//
// State a predicate reads is changed through Update (under the lock), or, when
// it lives elsewhere (an atomic), followed by Notify: either way a waiter
// between its check and its sleep cannot miss the change.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <type_traits>

namespace platform {

class CancellableWait {
public:
    using Clock = std::chrono::steady_clock;

    CancellableWait() = default;
    CancellableWait(const CancellableWait&) = delete;
    CancellableWait& operator=(const CancellableWait&) = delete;

    // Ends every wait in progress at once; later waits return at once until Reset.
    void RequestStop() {
        Update([this] { stop_.store(true); });
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(false);
    }
    // Lock-free, for loops that test it between steps.
    bool StopRequested() const { return stop_.load(); }

    // Sleeps until the deadline; true when it passed, false when a stop came
    // (before or during the wait).
    bool WaitUntil(Clock::time_point deadline) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto never = [] { return false; };
        Block(lock, deadline, never);
        return !stop_.load();
    }
    bool WaitFor(std::chrono::milliseconds duration) { return WaitUntil(Clock::now() + duration); }
    bool WaitFor(int64_t ms) { return WaitFor(std::chrono::milliseconds(ms)); }

    // Blocks until ready() holds, a stop is requested or the deadline passes;
    // returns ready() as it is then. ready runs under the lock, so it may read
    // state that Update changes. Clock::time_point::max() waits without a deadline.
    template <typename Ready>
    bool WaitUntil(Clock::time_point deadline, Ready ready) {
        std::unique_lock<std::mutex> lock(mutex_);
        return Block(lock, deadline, ready);
    }
    template <typename Ready>
    bool WaitFor(std::chrono::milliseconds duration, Ready ready) {
        return WaitUntil(Clock::now() + duration, std::move(ready));
    }
    template <typename Ready>
    bool WaitFor(int64_t ms, Ready ready) {
        return WaitFor(std::chrono::milliseconds(ms), std::move(ready));
    }
    // Without a deadline: a thread held until it is let go (ready) or stopped.
    template <typename Ready>
    bool Wait(Ready ready) {
        return WaitUntil(Clock::time_point::max(), std::move(ready));
    }

    // Wakes every waiter to test its predicate again, after a change made
    // outside the lock.
    void Notify() {
        Update([] {});
    }
    // Runs change under the lock, then wakes every waiter; returns what change returns.
    template <typename Change>
    std::invoke_result_t<Change&> Update(Change change) {
        std::unique_lock<std::mutex> lock(mutex_);
        if constexpr (std::is_void_v<std::invoke_result_t<Change&>>) {
            change();
            WakeAfter(lock);
        } else {
            auto result = change();
            WakeAfter(lock);
            return result;
        }
    }
    // Runs read under the lock, waking nobody.
    template <typename Reader>
    std::invoke_result_t<Reader&> Read(Reader read) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return read();
    }

private:
    template <typename Ready>
    bool Block(std::unique_lock<std::mutex>& lock, Clock::time_point deadline, Ready& ready) {
        ++waiters_;
        auto done = [&] { return ready() || stop_.load(); };
        if (deadline == Clock::time_point::max())
            cv_.wait(lock, done);
        else
            cv_.wait_until(lock, deadline, done);
        --waiters_;
        return ready();
    }
    // Nobody waiting (counted under the lock): no wake-up to pay for.
    void WakeAfter(std::unique_lock<std::mutex>& lock) {
        const bool waiting = waiters_ > 0;
        lock.unlock();
        if (waiting) cv_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    // Written under the lock, so a waiter's predicate never misses it.
    std::atomic<bool> stop_{false};
    int waiters_ = 0;
};

// The one way our threads are stopped: the stop ends every wait on the thread's
// CancellableWait at once, wake then ends any other wait it may be in (a network
// call, a queue), and the thread is joined.
template <typename Wake>
void StopThread(CancellableWait& wait, std::thread& thread, Wake wake) {
    wait.RequestStop();
    wake();
    if (thread.joinable()) thread.join();
}
inline void StopThread(CancellableWait& wait, std::thread& thread) {
    StopThread(wait, thread, [] {});
}

}  // namespace platform
