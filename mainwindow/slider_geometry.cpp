#include "mainwindow/slider_geometry.h"

#include <algorithm>
#include <cmath>

SliderRect SliderGeometry::ChannelRect() const {
    const int length = vertical_ ? height_ : width_;
    const int across = vertical_ ? width_ : height_;
    const int first = kChannelInset;
    const int last = std::max(first, length - kChannelInset + kEndReserve / 2);
    const int near = (across - kChannelThickness) / 2;
    if (vertical_) return {near, first, near + kChannelThickness, last};
    return {first, near, last, near + kChannelThickness};
}

SliderRect SliderGeometry::ThumbRect(int minimum, int maximum, int position) const {
    const SliderRect channel = ChannelRect();
    const int first = vertical_ ? channel.top : channel.left;
    const int last = vertical_ ? channel.bottom : channel.right;
    const int travel = std::max(0, last - first - kEndReserve);
    const int span = maximum - minimum;
    const int clamped = std::clamp(position, std::min(minimum, maximum), std::max(minimum, maximum));
    const int centre =
        first + (span > 0 ? static_cast<int>(static_cast<long long>(clamped - minimum) * travel / span) : 0);
    const int across = vertical_ ? width_ : height_;
    const int thickness = std::min(kThumbThickness, std::max(1, across - 2));
    const int near = (across - thickness) / 2;
    const int begin = centre - kThumbLength / 2;
    if (vertical_) return {near, begin, near + thickness, begin + kThumbLength};
    return {begin, near, begin + kThumbLength, near + thickness};
}

int SliderGeometry::PositionAt(int x, int y, int minimum, int maximum) const {
    const SliderRect channel = ChannelRect();
    const int first = vertical_ ? channel.top : channel.left;
    const int last = vertical_ ? channel.bottom : channel.right;
    const int travel = last - first - kEndReserve;
    if (travel <= 0 || maximum <= minimum) return minimum;
    const float step = static_cast<float>(maximum - minimum) / static_cast<float>(travel);
    const float offset = step * static_cast<float>((vertical_ ? y : x) - first);
    const long long position = static_cast<long long>(std::trunc(offset)) + minimum;
    return static_cast<int>(std::clamp<long long>(position, minimum, maximum));
}
