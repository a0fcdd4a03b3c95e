// The PNG translator's reader fed from memory: any input given to the
// probe and, when it is accepted, read in two formats.
#include "Bitmap.h"
#include "Png.h"
#include "support/RastrelFuzzing.h"

using namespace rastrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 24) {
        const std::int64_t width = platform::LoadU32Be(data + 16),
                           height = platform::LoadU32Be(data + 20);
        if (width > 1 << 20 || height > 1 << 20 || fuzzing::TooLarge(width, height)) return 0;
    }
    platform::ByteSource source(data, size);
    if (ProbePng(source) != S_OK) return 0;
    for (DWORD format : fuzzing::kLoadFormats) {
        ComPtr<IBitmapImage> bitmap(NewBitmapObject());
        if (SUCCEEDED(ReadPngBitmap(source, format, nullptr, bitmap)))
            fuzzing::ReadToLastByte(bitmap.get());
    }
    return 0;
}
