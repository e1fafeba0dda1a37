#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace platform {
namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return s.substr(b, e - b);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

std::vector<std::string> ReadLines(const std::string& path, bool* ok) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    *ok = static_cast<bool>(in);
    if (!in) return lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    // A UTF-8 byte order mark would otherwise glue itself to the first section name.
    if (!lines.empty() && lines[0].rfind("\xEF\xBB\xBF", 0) == 0) lines[0].erase(0, 3);
    return lines;
}

// "[name]" -> name; empty optional-like result signalled by returning false.
bool SectionName(const std::string& line, std::string* name) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    size_t close = t.find(']');
    if (close == std::string::npos) return false;
    *name = Trim(t.substr(1, close - 1));
    return true;
}

bool KeyOf(const std::string& line, std::string* key, std::string* value) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    std::string k = Trim(line.substr(0, eq));
    if (k.empty() || k[0] == ';') return false;
    *key = k;
    if (value) *value = Trim(line.substr(eq + 1));
    return true;
}

}  // namespace

std::string TruncateUtf8(const std::string& text, size_t max_chars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == max_chars) return text.substr(0, i);
            ++chars;
        }
    }
    return text;
}

std::string GetProfileString(const std::string& section, const std::string& key, const std::string& def,
                             size_t buffer_chars, const std::string& path) {
    size_t limit = buffer_chars == 0 ? 0 : buffer_chars - 1;
    bool ok = false;
    std::vector<std::string> lines = ReadLines(path, &ok);
    std::string result = def;
    if (ok) {
        bool in_section = false;
        for (const std::string& line : lines) {
            std::string name;
            if (SectionName(line, &name)) {
                in_section = EqualNoCase(name, section);
                continue;
            }
            std::string k, v;
            // Keys in the file are trimmed, so a caller's key with a trailing blank still finds its line.
            if (in_section && KeyOf(line, &k, &v) && EqualNoCase(k, Trim(key))) {
                if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
                    v = v.substr(1, v.size() - 2);
                result = v;
                break;
            }
        }
    }
    return TruncateUtf8(result, limit);
}

bool WriteProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& path) {
    bool ok = false;
    std::vector<std::string> lines = ReadLines(path, &ok);
    const std::string entry = key + "=" + value;
    bool in_section = false, done = false;
    size_t section_end = std::string::npos;  // index after the last line of the matching section
    for (size_t i = 0; i < lines.size() && !done; ++i) {
        std::string name;
        if (SectionName(lines[i], &name)) {
            if (in_section) break;
            in_section = EqualNoCase(name, section);
            if (in_section) section_end = i + 1;
            continue;
        }
        if (!in_section) continue;
        std::string k;
        if (KeyOf(lines[i], &k, nullptr) && EqualNoCase(k, key)) {
            lines[i] = entry;
            done = true;
        } else if (!Trim(lines[i]).empty()) {
            section_end = i + 1;
        }
    }
    if (!done) {
        if (section_end == std::string::npos) {
            lines.push_back("[" + section + "]");
            lines.push_back(entry);
        } else {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(section_end), entry);
        }
    }
    // Write beside the file and rename, so a failed write never leaves half a file. The new
    // file has the old one's permissions from its first byte: one kept from other users
    // (the recent list holds passwords) stays so.
    const std::string tmp = path + ".tmp";
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    struct stat old_status;
    const bool had_file = ::stat(path.c_str(), &old_status) == 0;
    std::remove(tmp.c_str());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, had_file ? 0600 : 0666);
    if (fd < 0) return false;
    bool written = !had_file || ::fchmod(fd, old_status.st_mode & 07777) == 0;
    for (size_t done = 0; written && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        written = n > 0;
        if (written) done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) written = false;
    if (!written) {
        std::remove(tmp.c_str());
        return false;
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace platform
