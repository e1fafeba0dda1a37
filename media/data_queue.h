#pragma once
// FIFO between a reader thread and one consumer. It owns what it holds; a popped
// record belongs to the caller. No capacity bound: consumers apply their own.
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

template <typename T>
class DataQueue {
public:
    DataQueue() = default;
    virtual ~DataQueue() { Clear(); }
    DataQueue(const DataQueue&) = delete;
    DataQueue& operator=(const DataQueue&) = delete;

    void Push(std::unique_ptr<T> record) {
        if (!record) return;
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        records_.push_back(std::move(record));
    }

    // Null when empty; never blocks.
    std::unique_ptr<T> Pop() {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        if (records_.empty()) return nullptr;
        std::unique_ptr<T> first = std::move(records_.front());
        records_.pop_front();
        return first;
    }

    // The first record, still owned by the queue; only its consumer may use it.
    T* Peek() {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return records_.empty() ? nullptr : records_.front().get();
    }

    size_t GetCount() const {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return records_.size();
    }

    void Clear() {
        std::deque<std::unique_ptr<T>> dropped;
        {
            std::lock_guard<std::recursive_mutex> lock(mutex_);
            dropped.swap(records_);
        }
    }

private:
    mutable std::recursive_mutex mutex_;
    std::deque<std::unique_ptr<T>> records_;
};
