#pragma once
// Profile-file access with the semantics the language, setting and history files
// were written for: section and key compared without regard to case, values
// trimmed, one pair of enclosing quotes removed, results cut to the caller's
// buffer size, and every other line kept as it stands on write.
#include <cstddef>
#include <string>

namespace platform {

// Returns the value of key in section, or def when the file, section or key is
// missing. buffer_chars mirrors the caller's character buffer: at most
// buffer_chars - 1 characters (code points) are returned.
std::string GetProfileString(const std::string& section, const std::string& key, const std::string& def,
                             size_t buffer_chars, const std::string& path);

// Sets key in section, adding the section and key when missing; creates the
// file when it does not exist. Returns false when the file cannot be written.
bool WriteProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& path);

// Cuts a UTF-8 text to at most max_chars code points.
std::string TruncateUtf8(const std::string& text, size_t max_chars);

}  // namespace platform
