#pragma once
// Command-line reading shared by the export and backup tools: "--name value"
// options and switches, and the date, clock and channel texts they take.
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tools {

// Options that take a value and switches that do not; anything else is an error.
class ToolArgs {
public:
    ToolArgs(std::set<std::string> valued, std::set<std::string> switches)
        : valued_(std::move(valued)), switches_(std::move(switches)) {}
    // False with a reason for an unknown option, a missing value or a repeat.
    bool Parse(int argc, char** argv, std::string* error);
    bool Has(const std::string& name) const { return values_.count(name) != 0; }
    const std::string& Get(const std::string& name) const;

private:
    std::set<std::string> valued_;
    std::set<std::string> switches_;
    std::map<std::string, std::string> values_;
};

struct ToolDate {
    int year = 0, month = 0, day = 0;
};

// "YYYY-MM-DD", a day that exists in the calendar.
bool ParseToolDate(const std::string& text, ToolDate* date);
// "HH:MM:SS" as the second of the day.
bool ParseToolClock(const std::string& text, int* second_of_day);
// "1,2,4": channel numbers 1-4, each once; the mask has bit 0 for channel 1.
bool ParseToolChannels(const std::string& text, int* mask);
// "HOST:PORT" with a port 1-65535.
bool ParseHostPort(const std::string& text, std::string* host, int* port);
// A whole decimal number within [low, high].
bool ParseToolInt(const std::string& text, int low, int high, int* value);

}  // namespace tools
