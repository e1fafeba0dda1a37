#pragma once
// Time a thread was held, less the time it stood ready to run while the machine's other work
// held the processors: a loaded machine does not read as a wait.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace held_time {

// Nanoseconds the calling thread has waited on a run queue (the kernel's scheduler
// statistics); -1 where the kernel does not keep them.
inline int64_t RunQueueWaitNs() {
    std::FILE* f = std::fopen("/proc/thread-self/schedstat", "r");
    if (!f) return -1;
    unsigned long long on_cpu = 0, waiting = 0;
    const bool read = std::fscanf(f, "%llu %llu", &on_cpu, &waiting) == 2;
    std::fclose(f);
    return read ? static_cast<int64_t>(waiting) : -1;
}

// How long act held the calling thread, less the time the thread stood ready to run while the
// machine's other work held the processors.
inline int64_t HeldMs(const std::function<void()>& act) {
    const int64_t waited_before = RunQueueWaitNs();
    const auto start = std::chrono::steady_clock::now();
    act();
    int64_t held_ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
    const int64_t waited_after = RunQueueWaitNs();
    if (waited_before >= 0 && waited_after >= 0) held_ns -= waited_after - waited_before;
    return std::max<int64_t>(held_ns, 0) / 1000000;
}

}  // namespace held_time
