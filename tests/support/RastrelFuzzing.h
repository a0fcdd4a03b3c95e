#pragma once
// What rastrel's reader fuzz targets share: pictures of hundreds of
// megabytes say nothing more about a reader, and a loaded picture is read
// to its last byte.
#include "platform/ComPtr.h"
#include "rastrel.h"

#include <cstdint>

namespace rastrel::fuzzing {

inline bool TooLarge(std::int64_t width, std::int64_t height) {
    return width * (height < 0 ? -height : height) > std::int64_t{1} << 20;
}

inline void ReadToLastByte(IBitmapImage* bitmap) {
    DWORD bytes = 0;
    BitmapImage image{};
    bitmap->GetImage(&image);
    bitmap->GetPixelBytes(&bytes);
    volatile BYTE last = image.pixels[bytes - 1];
    (void)last;
}

// The formats every load is tried in: the common one and a palette.
inline constexpr DWORD kLoadFormats[] = {PF_RGB24, PF_PALETTE8};

} // namespace rastrel::fuzzing
