// ThreadSanitizer builds of the window tests: the threads Qt starts itself go
// unchecked. Our code starts no QThread and queues nothing to Qt's thread
// pools, so these threads (the global pool, over which the raster engine
// splits large smooth scales and image conversions; the file dialog's file
// information thread) run only Qt's code. Qt, not built with ThreadSanitizer,
// hands work to and from them under locks it cannot see, while the libc calls
// it makes there (new, delete, memcpy) are seen, so every hand-over would be
// reported as a race. Qt's own frames there are mostly unnamed, so no
// suppression can name them. Every other thread, the window thread included,
// stays checked, Qt's libc calls in it too.
#include <dlfcn.h>
#include <pthread.h>

#include <QtGlobal>

extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();

namespace {

using CreateThread = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

struct QtStart {
    void* (*routine)(void*);
    void* arg;
};

void* RunUnchecked(void* start) {
    const QtStart qt = *static_cast<QtStart*>(start);
    delete static_cast<QtStart*>(start);
    __tsan_ignore_thread_begin();
    void* result = qt.routine(qt.arg);
    // A thread may not end with its ignores on.
    __tsan_ignore_thread_end();
    return result;
}

bool InQtCore(void* code) {
    Dl_info qt{};
    Dl_info caller{};
    return dladdr(reinterpret_cast<void*>(&qVersion), &qt) != 0 && dladdr(code, &caller) != 0 &&
           qt.dli_fbase == caller.dli_fbase;
}

}  // namespace

// Found before the sanitizer's own pthread_create, which it then calls.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*routine)(void*), void* arg) {
    static const auto next = reinterpret_cast<CreateThread>(dlsym(RTLD_NEXT, "pthread_create"));
    if (!InQtCore(__builtin_return_address(0))) return next(thread, attr, routine, arg);
    auto* start = new QtStart{routine, arg};
    const int result = next(thread, attr, &RunUnchecked, start);
    if (result != 0) delete start;
    return result;
}
