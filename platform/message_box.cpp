#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {
std::mutex g_lock;
MessageBoxHandler g_handler;
}  // namespace

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    std::lock_guard<std::mutex> guard(g_lock);
    std::swap(g_handler, handler);
    return handler;
}

int ShowMessageBox(const std::string& text, const std::string& caption, int flags) {
    MessageBoxHandler handler;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        handler = g_handler;
    }
    if (handler) return handler(text, caption, flags);
    std::fprintf(stderr, "%s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ", text.c_str());
    return kIdOk;
}

}  // namespace platform
