#pragma once
// Calls that a worker thread queues to a window's thread. Qt hands a queued
// call over under its own locks, which ThreadSanitizer cannot see in a Qt not
// built with it. In a ThreadSanitizer build PostQueued therefore tells it of
// the hand-over, so what the worker did before posting is known to happen
// before the call, and it does not check Qt's own work while Qt queues the
// call (its list of posted events, the event it allocates): that work is
// Qt's, under Qt's lock. Everything else stays checked.
#include <QMetaObject>
#include <QObject>

#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#define LARKSPUR_TSAN_ANNOTATIONS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LARKSPUR_TSAN_ANNOTATIONS 1
#endif
#endif

#ifdef LARKSPUR_TSAN_ANNOTATIONS
extern "C" {
void __tsan_acquire(void* addr);
void __tsan_release(void* addr);
void __tsan_ignore_thread_begin();
void __tsan_ignore_thread_end();
}
#endif

namespace ui {
namespace queued_call_detail {

// The functor as Qt stores it: each copy releases at its own address, and the
// copy Qt keeps acquires there when Qt calls it or drops it uncalled.
template <typename F>
class HandedOver {
public:
    explicit HandedOver(F fn) : fn_(std::move(fn)) { Release(); }
    HandedOver(HandedOver&& other) : fn_(std::move(other.fn_)) { Release(); }
    HandedOver(const HandedOver& other) : fn_(other.fn_) { Release(); }
    HandedOver& operator=(const HandedOver&) = delete;
    HandedOver& operator=(HandedOver&&) = delete;
    ~HandedOver() { Acquire(); }

    void operator()() {
        Acquire();
        fn_();
    }

private:
    void Release() {
#ifdef LARKSPUR_TSAN_ANNOTATIONS
        __tsan_release(this);
#endif
    }
    void Acquire() {
#ifdef LARKSPUR_TSAN_ANNOTATIONS
        __tsan_acquire(this);
#endif
    }

    F fn_;
};

// Scope of Qt queueing the call on the posting thread.
class QueuedByQt {
public:
    QueuedByQt() {
#ifdef LARKSPUR_TSAN_ANNOTATIONS
        __tsan_ignore_thread_begin();
#endif
    }
    ~QueuedByQt() {
#ifdef LARKSPUR_TSAN_ANNOTATIONS
        __tsan_ignore_thread_end();
#endif
    }
    QueuedByQt(const QueuedByQt&) = delete;
    QueuedByQt& operator=(const QueuedByQt&) = delete;
};

}  // namespace queued_call_detail

// Runs fn on context's thread from its event loop, after what is already
// queued there; dropped uncalled if context is destroyed first. Any thread.
template <typename F>
void PostQueued(QObject* context, F&& fn) {
    queued_call_detail::HandedOver<std::decay_t<F>> handed(std::forward<F>(fn));
    queued_call_detail::QueuedByQt queued;
    QMetaObject::invokeMethod(context, std::move(handed), Qt::QueuedConnection);
}

}  // namespace ui
