#pragma once
// Posted window messages of the custom controls: a control is given a sink
// (its parent's handler) and posts (message, wParam, lParam) to it through the
// event loop, so the sink runs after the control's own handler has returned.
#include <QMetaObject>
#include <QObject>

#include <cstdint>
#include <functional>

#include "media/playback_sinks.h"

constexpr uint32_t WM_CALENDAR_NOTIFY = kAppMessageBase + 100;  // 0x464

using WindowMessageSink = std::function<void(uint32_t message, intptr_t wparam, intptr_t lparam)>;

// Nothing is posted without a sink; a message still queued when the sender is
// destroyed is dropped with it.
inline void PostWindowMessage(QObject* sender, const WindowMessageSink& sink, uint32_t message, intptr_t wparam,
                              intptr_t lparam) {
    if (!sink) return;
    QMetaObject::invokeMethod(
        sender, [sink, message, wparam, lparam] { sink(message, wparam, lparam); }, Qt::QueuedConnection);
}
