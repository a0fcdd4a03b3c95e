#pragma once
// What the PCX and TIFF translators share: a load into a bitmap through a
// codec image of 1, 8 or 24 bits, and the rows a save writes from.
#include "Codec.h"
#include "platform/ComPtr.h"

#include <functional>

namespace rastrel {

// Fills a codec image (rectangle = the whole image) from the file.
using CodecReader = std::function<int(CodecImage&, ProgressRecord&)>;

// Creates `bitmap` (new and empty) at width x height in 0x400 for 24 bits,
// else 0x4000, reads it through `read` (1-bit images through a codec image
// of their own, expanded to black and white) and converts it to `format`.
// Sizes beyond what a codec image holds are refused before anything is
// allocated.
HRESULT ReadCodecBitmap(LONG width, LONG height, int bits, DWORD format, IProgressSink* sink,
                        const CodecReader& read, ComPtr<IBitmapImage>& bitmap);

// The rows a save writes from: 8 bits with the bitmap's palette for 0x4000
// bitmaps, 24 bits for all others.
struct SaveRows {
    ComPtr<IBitmapImage> converted; // keeps converted rows alive
    BITMAPINFOHEADER header{};
    RGBQUAD palette[256]{};
    CodecImage image{};
    LONG phases = 1;
};
// Depth 24 saves from 0x400, 8 from 0x4000; any other depth (also none)
// keeps 0x400 and 0x4000 bitmaps as they are and turns the rest into 0x400.
HRESULT PrepareSaveRows(IBitmapImage* bitmap, LONG depth, IProgressSink* sink, SaveRows& rows);

} // namespace rastrel
