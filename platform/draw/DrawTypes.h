// The plain values of 2-D drawing: rectangles, points, colours and font requests.
#pragma once

#include <cstdint>
#include <string>

namespace vexa::platform {

// Right and bottom are exclusive, as in the desktop's rectangles.
struct DrawRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

struct DrawPoint {
    int x = 0;
    int y = 0;
};

// 0x00BBGGRR, the layout of the desktop's colour values.
using DrawColour = std::uint32_t;

constexpr DrawColour Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return static_cast<DrawColour>(r) | (static_cast<DrawColour>(g) << 8) |
           (static_cast<DrawColour>(b) << 16);
}
constexpr std::uint8_t RedOf(DrawColour c) {
    return static_cast<std::uint8_t>(c);
}
constexpr std::uint8_t GreenOf(DrawColour c) {
    return static_cast<std::uint8_t>(c >> 8);
}
constexpr std::uint8_t BlueOf(DrawColour c) {
    return static_cast<std::uint8_t>(c >> 16);
}

struct FontRequest {
    // A desktop family name; a family that is not installed gives the nearest one that is.
    std::string family;
    // One of the two sizes: points (for the window's screen), or the character cell's height
    // in pixels (ascent + descent).
    double points = 0;
    int cellHeight = 0;
    int weight = 0;  // 0 default, 400 normal, 700 bold
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
};

}  // namespace vexa::platform
