#pragma once
#include <atomic>
#include <string>

// Index of the current language: 0 en-US, 1 zh-CN, 2 zh-TW, 3 es-ES, 4 it-IT, 5 de-DE, 6 fr-FR.
// Written by the window thread only.
extern std::atomic<int> LanguageIndex;

// Looks up key in the current language file beside the program; any missing
// file, key or unknown index gives def. Each non-empty parameter replaces every
// "{n}" of its number.
std::string TranslateText(const std::string& key, const std::string& def, const std::string& p0 = "",
                          const std::string& p1 = "", const std::string& p2 = "", const std::string& p3 = "");

// The lookup on an explicit language folder, for callers (and tests) that keep their files elsewhere.
std::string TranslateTextIn(const std::string& lang_folder, int index, const std::string& key,
                            const std::string& def, const std::string& p0 = "", const std::string& p1 = "",
                            const std::string& p2 = "", const std::string& p3 = "");
