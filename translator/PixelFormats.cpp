#include "PixelFormats.h"

namespace rastrel {
namespace {

constexpr FormatInfo kFormats[] = {
    {0x1, Family::Grey, 2, 8, false, true, 0, true},
    {0x2, Family::Grey, 4, 10, false, true, 0, false},
    {0x4, Family::Yuv, 4, 16, false, false, 0, false},
    {0x8, Family::Yuv, 6, 24, true, false, 0, false},
    {0x10, Family::Yuv, 6, 20, false, false, 0, false},
    {0x20, Family::Yuv, 8, 30, true, false, 0, false},
    {0x40, Family::Yuv, 6, 24, false, false, 0, false},
    {0x80, Family::Yuv, 8, 32, true, false, 0, false},
    {0x100, Family::Yuv, 12, 30, false, false, 0, false},
    {0x200, Family::Yuv, 16, 40, true, false, 0, false},
    {0x400, Family::Rgb, 6, 24, false, true, 0, false},
    {0x800, Family::Rgb, 8, 32, true, true, 0, false},
    {0x1000, Family::Rgb, 12, 30, false, true, 0, false},
    {0x2000, Family::Rgb, 16, 40, true, true, 0, false},
    {0x4000, Family::Rgb, 2, 8, false, true, 256, true},
    {0x8000, Family::Rgb, 4, 16, false, true, 0, false},
    {0x10000, Family::Rgb, 1, 4, false, true, 16, true},
};

} // namespace

const FormatInfo* FindFormat(DWORD code) {
    for (const FormatInfo& format : kFormats)
        if (format.code == code) return &format;
    return nullptr;
}

std::uint64_t RowBytes(const FormatInfo& format, std::uint64_t width) {
    const std::uint64_t bytes =
        (width * static_cast<std::uint64_t>(format.halfBytesPerPixel) + 1) / 2;
    return format.padded ? (bytes + 3) / 4 * 4 : bytes;
}

} // namespace rastrel
