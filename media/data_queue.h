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
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/cancellable_wait.h"

template <typename T>
class DataQueue {
public:
    using Clock = std::chrono::steady_clock;

    DataQueue() = default;
    virtual ~DataQueue() { Clear(); }
    DataQueue(const DataQueue&) = delete;
    DataQueue& operator=(const DataQueue&) = delete;

    // Every change goes through the wait's Update, which wakes only when someone waits.
    void Push(std::unique_ptr<T> record) {
        if (!record) return;
        wait_.Update([&] { records_.push_back(std::move(record)); });
    }

    // Appends every record of the batch in order with one lock and one wake-up:
    // a consumer waiting for records wakes once per batch, not once per record.
    // The batch is left empty.
    void PushAll(std::vector<std::unique_ptr<T>>& batch) {
        if (batch.empty()) return;
        wait_.Update([&] {
            for (std::unique_ptr<T>& record : batch)
                if (record) records_.push_back(std::move(record));
            batch.clear();
        });
    }

    // Null when empty; never blocks.
    std::unique_ptr<T> Pop() {
        return wait_.Update([&] {
            std::unique_ptr<T> first;
            if (records_.empty()) return first;
            first = std::move(records_.front());
            records_.pop_front();
            return first;
        });
    }

    // Moves every queued record, in order, to the back of out (one lock, one
    // wake-up for a producer waiting for space); never blocks.
    void PopAll(std::deque<std::unique_ptr<T>>* out) {
        wait_.Update([&] {
            if (records_.empty()) return;
            if (out->empty())
                out->swap(records_);
            else
                for (std::unique_ptr<T>& record : records_) out->push_back(std::move(record));
            records_.clear();
        });
    }

    // The first record, still owned by the queue; only its consumer may use it.
    T* Peek() {
        return wait_.Read([&] { return records_.empty() ? nullptr : records_.front().get(); });
    }

    size_t GetCount() const {
        return wait_.Read([&] { return records_.size(); });
    }

    void Clear() {
        std::deque<std::unique_ptr<T>> dropped;
        wait_.Update([&] { dropped.swap(records_); });
    }

    // Blocks until ready(count) holds, the deadline passes, Wake is called or the
    // queue is stopped; returns ready(count) as it is then. ready runs under the
    // queue's lock, so a flag it reads that a waker sets before calling Wake is
    // never missed. Clock::time_point::max() waits without a deadline.
    template <typename Ready>
    bool WaitUntil(Clock::time_point deadline, Ready ready) {
        // The predicate's first run, under the lock, takes the count of wakes the
        // wait starts from; its last run tells ready as the wait ends.
        bool started = false;
        uint64_t wakes = 0;
        bool is_ready = false;
        wait_.WaitUntil(deadline, [&] {
            if (!started) {
                started = true;
                wakes = wakes_;
            }
            is_ready = ready(records_.size());
            return is_ready || wakes_ != wakes;
        });
        return is_ready;
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
        wait_.Update([&] { ++wakes_; });
    }

    // Until Resume, every wait returns at once; records still come and go.
    void Stop() { wait_.RequestStop(); }
    void Resume() { wait_.Reset(); }
    bool IsStopped() const { return wait_.StopRequested(); }

private:
    // Its lock guards everything below; its stop is the queue's.
    platform::CancellableWait wait_;
    std::deque<std::unique_ptr<T>> records_;
    uint64_t wakes_ = 0;
};
