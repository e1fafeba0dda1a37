#pragma once
#include <cstdint>
#include <string>

// Bytes free to this user on the file system holding path; 0 when it cannot
// be asked (a missing folder counts as a full drive).
uint64_t GetDiskFreeBytes(const std::string& path);
