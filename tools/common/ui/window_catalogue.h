#pragma once
// Every window and page of both programs, each opened as a user first sees it
// with some content: a data folder with four named channels, a recorder in the
// list, snapshot and export files in the checker. The layout test walks this
// table in every language; window-shots draws each entry into a PNG.
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace catalogue {

// The files the windows show, written into a folder the caller owns.
struct WindowFixture {
    explicit WindowFixture(const std::string& folder);
    std::string folder;
    std::string data_folder;  // ".../avdata" with four named channels, recorded yesterday
    int year = 0, month = 0, day = 0;
    std::string server_store;  // "server.db" with its table and one recorder
    std::string share_store;   // "shared.db" with its table and one share
    std::vector<std::string> checker_files;  // a snapshot JPEG and an export AVI name
    bool ok = false;
    std::string error;
};

// An open window: shown, laid out, its posted work done. Destroying it closes
// the window and puts back what opening it changed (choosers, screen size).
class OpenWindow {
public:
    virtual ~OpenWindow() = default;
    virtual QWidget* window() const = 0;
};

struct WindowEntry {
    const char* name;  // also the screenshot's file name
    std::function<std::unique_ptr<OpenWindow>(const WindowFixture&)> open;
};

// In the order a user meets them. Windows take their texts from the current
// language (LanguageIndex) when they open.
const std::vector<WindowEntry>& Windows();

// Runs posted events until the windows settle.
void Settle();

}  // namespace catalogue
