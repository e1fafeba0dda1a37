#pragma once
// Texts of the status panel, built apart from the window so they can be checked plainly.
#include <string>

// " 2024/03/05": the panel's date text, with its leading blank.
std::string InfoBoxDateText(int year, int month, int day);
// Today's local date in that form.
std::string InfoBoxTodayText();
// 4 -> "4x"; -8 -> "1/8x"; 0 -> "1/0x".
std::string InfoBoxSpeedText(int speed);
// Seconds of the day as "01:02:05 :  IN" / "01:02:05 : OUT"; empty when negative (no mark).
std::string InfoBoxCueInText(int second);
std::string InfoBoxCueOutText(int second);
