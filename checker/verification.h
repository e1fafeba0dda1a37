#pragma once
// The verdict the checker's verification writes into a file's result column;
// the checker window and the watermark-check tool both take it from here.
#include <atomic>
#include <string>

// Names ending in ".jpg" exactly (case matters) are JPEG snapshots.
bool IsJpegPath(const std::string& path);

// "V" when the file carries an intact watermark, else "X". A missing file, or
// anything but a regular file, is "X". A ".jpg" gets the JPEG check only; any
// other file passes by the AVI stream checksum or, failing that, the trailer.
// Empty (no verdict) when run is cleared before the file is done.
std::string VerifyFile(const std::string& path, const std::atomic<int>* run = nullptr);
