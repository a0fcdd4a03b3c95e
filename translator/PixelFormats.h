#pragma once
// The seventeen pixel formats and the sizes that follow from them.
#include "rastrel.h"

namespace rastrel {

enum class Family { Grey, Yuv, Rgb };

struct FormatInfo {
    DWORD code;
    Family family;
    int halfBytesPerPixel; // twice the bytes per pixel: 0x10000 has half a byte
    int bits;              // what the header carries as its bit count
    bool alpha;
    bool padded;        // rows padded to 4 bytes
    int paletteEntries; // entries the format uses (0x1 keeps room without using it)
    bool paletteRoom;   // the header block holds 1024 bytes of palette
};

// Null for a code that is not one of the seventeen.
const FormatInfo* FindFormat(DWORD code);
inline bool IsDib(const FormatInfo& format) {
    return format.family != Family::Yuv;
}
std::uint64_t RowBytes(const FormatInfo& format, std::uint64_t width);
inline std::size_t HeaderBlockBytes(const FormatInfo& format) {
    return sizeof(BITMAPINFOHEADER) + (format.paletteRoom ? 1024 : 0);
}
inline RGBQUAD* PaletteOf(BITMAPINFOHEADER* header) {
    return reinterpret_cast<RGBQUAD*>(reinterpret_cast<BYTE*>(header) + sizeof(BITMAPINFOHEADER));
}

} // namespace rastrel
