#pragma once
// What rastrel's reader fuzz targets share: pictures of hundreds of
// megabytes say nothing more about a reader, and a loaded picture is read
// to its last byte.
#include "platform/ComPtr.h"
#include "rastrel.h"

#include <cstdint>

namespace rastrel::fuzzing {

// 65536 pixels still span several of every reader's chunks; more only
// made each input's conversions longer (a run-length header of a million
// pixels costs 20 bytes).
inline bool TooLarge(std::int64_t width, std::int64_t height) {
    return width * (height < 0 ? -height : height) > std::int64_t{1} << 16;
}

inline void ReadToLastByte(IBitmapImage* bitmap) {
    DWORD bytes = 0;
    BitmapImage image{};
    bitmap->GetImage(&image);
    bitmap->GetPixelBytes(&bytes);
    volatile BYTE last = image.pixels[bytes - 1];
    (void)last;
}

// The format every load is made in. One is enough: what a reader does is
// the same for any, and converting (to a palette above all, which collects
// the picture's colours) took nine tenths of each input's time.
inline constexpr DWORD kLoadFormats[] = {PF_RGB24};

} // namespace rastrel::fuzzing
