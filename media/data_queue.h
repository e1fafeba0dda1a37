#pragma once
// FIFO between a reader thread and one consumer. It owns what it holds; a popped
// record belongs to the caller. No capacity bound: producers that need one wait
// for space themselves.
//
// Threads that must not spin wait on the queue itself: for a record, for space,
// or for any condition on the count, always with a deadline. A waiter also wakes
// on Wake (a nudge, e.g. a new speed) and at once while the queue is stopped, so
// an owner that stops its threads never waits out a deadline.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

template <typename T>
class DataQueue {
public:
    using Clock = std::chrono::steady_clock;

    DataQueue() = default;
    virtual ~DataQueue() { Clear(); }
    DataQueue(const DataQueue&) = delete;
    DataQueue& operator=(const DataQueue&) = delete;

    void Push(std::unique_ptr<T> record) {
        if (!record) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            records_.push_back(std::move(record));
            if (waiters_ == 0) return;
        }
        changed_.notify_all();
    }

    // Appends every record of the batch in order with one lock and one wake-up:
    // a consumer waiting for records wakes once per batch, not once per record.
    // The batch is left empty.
    void PushAll(std::vector<std::unique_ptr<T>>& batch) {
        if (batch.empty()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (std::unique_ptr<T>& record : batch)
                if (record) records_.push_back(std::move(record));
            batch.clear();
            if (waiters_ == 0) return;
        }
        changed_.notify_all();
    }

    // Null when empty; never blocks.
    std::unique_ptr<T> Pop() {
        std::unique_ptr<T> first;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (records_.empty()) return nullptr;
            first = std::move(records_.front());
            records_.pop_front();
            if (waiters_ == 0) return first;
        }
        changed_.notify_all();
        return first;
    }

    // Moves every queued record, in order, to the back of out (one lock, one
    // wake-up for a producer waiting for space); never blocks.
    void PopAll(std::deque<std::unique_ptr<T>>* out) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (records_.empty()) return;
            if (out->empty())
                out->swap(records_);
            else
                for (std::unique_ptr<T>& record : records_) out->push_back(std::move(record));
            records_.clear();
            if (waiters_ == 0) return;
        }
        changed_.notify_all();
    }

    // The first record, still owned by the queue; only its consumer may use it.
    T* Peek() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_.empty() ? nullptr : records_.front().get();
    }

    size_t GetCount() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_.size();
    }

    void Clear() {
        std::deque<std::unique_ptr<T>> dropped;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            dropped.swap(records_);
        }
        changed_.notify_all();
    }

    // Blocks until ready(count) holds, the deadline passes, Wake is called or the
    // queue is stopped; returns ready(count) as it is then. ready runs under the
    // queue's lock, so a flag it reads that a waker sets before calling Wake is
    // never missed. Clock::time_point::max() waits without a deadline.
    template <typename Ready>
    bool WaitUntil(Clock::time_point deadline, Ready ready) {
        std::unique_lock<std::mutex> lock(mutex_);
        const uint64_t wakes = wakes_;
        auto done = [&] { return stopped_ || wakes_ != wakes || ready(records_.size()); };
        ++waiters_;
        if (deadline == Clock::time_point::max())
            changed_.wait(lock, done);
        else
            changed_.wait_until(lock, deadline, done);
        --waiters_;
        return ready(records_.size());
    }

    bool WaitForRecord(Clock::time_point deadline) {
        return WaitUntil(deadline, [](size_t count) { return count > 0; });
    }
    // True when fewer than limit records are queued.
    bool WaitForSpace(size_t limit, Clock::time_point deadline) {
        return WaitUntil(deadline, [limit](size_t count) { return count < limit; });
    }

    // Ends every wait in progress once; later waits block as before.
    void Wake() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++wakes_;
        }
        changed_.notify_all();
    }

    // Until Resume, every wait returns at once; records still come and go.
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
    }
    void Resume() {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = false;
    }
    bool IsStopped() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return stopped_;
    }

private:
    // A plain mutex: no operation re-enters it, and the condition variable needs one.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<T>> records_;
    int waiters_ = 0;
    uint64_t wakes_ = 0;
    bool stopped_ = false;
};
