#include "tools/common/tool_args.h"

#include <cctype>
#include <cstdlib>

#include "media/civil_date.h"

namespace tools {

bool ToolArgs::Parse(int argc, char** argv, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued = valued_.count(arg) != 0;
        if (!valued && switches_.count(arg) == 0) {
            *error = "unknown option " + arg;
            return false;
        }
        if (values_.count(arg) != 0) {
            *error = arg + " given twice";
            return false;
        }
        if (valued) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            values_[arg] = argv[++i];
        } else {
            values_[arg] = "";
        }
    }
    return true;
}

const std::string& ToolArgs::Get(const std::string& name) const {
    static const std::string kNone;
    const auto it = values_.find(name);
    return it == values_.end() ? kNone : it->second;
}

namespace {

// Exactly `digits` decimal digits at text[at].
bool Digits(const std::string& text, size_t at, size_t digits, int* value) {
    if (at + digits > text.size()) return false;
    int v = 0;
    for (size_t i = at; i < at + digits; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        v = v * 10 + (text[i] - '0');
    }
    *value = v;
    return true;
}

}  // namespace

bool ParseToolDate(const std::string& text, ToolDate* date) {
    ToolDate d;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !Digits(text, 0, 4, &d.year) ||
        !Digits(text, 5, 2, &d.month) || !Digits(text, 8, 2, &d.day))
        return false;
    if (d.year < 1970 || d.month < 1 || d.month > 12 || d.day < 1) return false;
    // A date the calendar lacks (30 February) comes back as another day.
    const CivilDate back = CivilFromDays(DaysFromCivil(d.year, d.month, d.day));
    if (back.year != d.year || back.month != d.month || back.day != d.day) return false;
    *date = d;
    return true;
}

bool ParseToolClock(const std::string& text, int* second_of_day) {
    int h = 0, m = 0, s = 0;
    if (text.size() != 8 || text[2] != ':' || text[5] != ':' || !Digits(text, 0, 2, &h) || !Digits(text, 3, 2, &m) ||
        !Digits(text, 6, 2, &s) || h > 23 || m > 59 || s > 59)
        return false;
    *second_of_day = h * 3600 + m * 60 + s;
    return true;
}

bool ParseToolChannels(const std::string& text, int* mask) {
    int m = 0;
    size_t at = 0;
    while (true) {
        if (at >= text.size() || text[at] < '1' || text[at] > '4') return false;
        const int bit = 1 << (text[at] - '1');
        if (m & bit) return false;
        m |= bit;
        ++at;
        if (at == text.size()) break;
        if (text[at] != ',') return false;
        ++at;
    }
    *mask = m;
    return true;
}

bool ParseToolInt(const std::string& text, int low, int high, int* value) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    if (!Digits(text, 0, text.size(), &v) || v < low || v > high) return false;
    *value = v;
    return true;
}

bool ParseHostPort(const std::string& text, std::string* host, int* port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    int p = 0;
    if (!ParseToolInt(text.substr(colon + 1), 1, 65535, &p)) return false;
    *host = text.substr(0, colon);
    *port = p;
    return true;
}

}  // namespace tools
