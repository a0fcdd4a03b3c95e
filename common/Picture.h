#pragma once
// The picture of an image box: 24-bit blue-green-red rows, top row first.
#include <cstdint>
#include <vector>

namespace merkanix {

// Colour as the windows hold it: 0x00BBGGRR.
using TColor = std::uint32_t;
inline constexpr TColor kRed = 0x0000FF;
inline constexpr TColor kBlue = 0xFF0000;
inline constexpr TColor kOrange = 36095; // red 255, green 140, blue 0

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr; // width * height * 3 bytes, no row padding

    Picture() = default;
    Picture(int w, int h) { Resize(w, h); }

    bool Empty() const { return width <= 0 || height <= 0 || bgr.empty(); }

    // Keeps the content when the size does not change; new pixels are black.
    void Resize(int w, int h) {
        if (w == width && h == height && !bgr.empty()) return;
        width = w < 0 ? 0 : w;
        height = h < 0 ? 0 : h;
        bgr.assign(static_cast<std::size_t>(width) * height * 3, 0);
    }

    std::uint8_t* Pixel(int x, int y) {
        return bgr.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    }
    const std::uint8_t* Pixel(int x, int y) const {
        return bgr.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    }
    std::uint8_t Blue(int x, int y) const { return Pixel(x, y)[0]; }

    bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }

    void SetPixel(int x, int y, TColor colour) {
        std::uint8_t* p = Pixel(x, y);
        p[0] = static_cast<std::uint8_t>(colour >> 16);
        p[1] = static_cast<std::uint8_t>(colour >> 8);
        p[2] = static_cast<std::uint8_t>(colour);
    }
    void SetGrey(int x, int y, std::uint8_t grey) {
        std::uint8_t* p = Pixel(x, y);
        p[0] = p[1] = p[2] = grey;
    }
};

} // namespace merkanix
