#pragma once
// The play range both sources play: seconds of a day, its channels, and the time slider
// it is shown on. The window thread writes it, under the engine's status lock.
#include <array>

struct PlayRange {
    int start = 0;
    int end = 0;
    int length = 0;
    int year = 0, month = 0, day = 0;
    std::array<int, 4> channel_selected{};
    int selected_count = 0;
    int slider_max = 0;

    // Slider units are 10 s when the range exceeds 10,000 s.
    int SliderScale() const { return end - start > 10000 ? 10 : 1; }
};
