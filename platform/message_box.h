#pragma once
// Message boxes raised by engine code. The window program installs a handler
// that shows a real box; without one the text goes to stderr, and tests
// install a recorder.
#include <functional>
#include <string>

namespace platform {

using MessageBoxHandler = std::function<int(const std::string& text, const std::string& caption, int flags)>;

constexpr int kMbOk = 0;
constexpr int kMbIconWarning = 0x30;
constexpr int kMbIconError = 0x10;
constexpr int kMbIconInformation = 0x40;
constexpr int kMbYesNo = 0x04;
constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// Returns the previous handler.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);
int ShowMessageBox(const std::string& text, const std::string& caption = "", int flags = kMbOk);

}  // namespace platform
