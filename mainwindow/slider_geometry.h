#pragma once
// Where the skinned slider's channel and thumb lie, and which position a click
// gives, for a control of a given size and range.
struct SliderRect {
    int left = 0;
    int top = 0;
    int right = 0;  // exclusive
    int bottom = 0;  // exclusive
    bool operator==(const SliderRect&) const = default;
};

class SliderGeometry {
public:
    static constexpr int kChannelInset = 8;
    static constexpr int kChannelThickness = 4;
    static constexpr int kThumbLength = 11;
    static constexpr int kThumbThickness = 21;
    // The part of the channel at its far end that no position reaches.
    static constexpr int kEndReserve = 6;

    SliderGeometry(int width, int height, bool vertical) : width_(width), height_(height), vertical_(vertical) {}

    SliderRect ChannelRect() const;
    SliderRect ThumbRect(int minimum, int maximum, int position) const;
    // trunc((max - min) / (channel length - 6) * offset along the channel) + min,
    // kept inside the range; min when the channel is too short to click.
    int PositionAt(int x, int y, int minimum, int maximum) const;

private:
    int width_;
    int height_;
    bool vertical_;
};
