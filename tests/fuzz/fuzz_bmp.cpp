// The Windows Bitmap reader as its translator uses it, fed from memory: any
// input given to the probe and, when it is accepted, read in two formats.
#include "Bmp.h"
#include "support/RastrelFuzzing.h"

using namespace rastrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 26 && fuzzing::TooLarge(std::int32_t(platform::LoadU32Le(data + 18)),
                                        std::int32_t(platform::LoadU32Le(data + 22))))
        return 0;
    platform::ByteSource source(data, size);
    if (ProbeBmp(source) != S_OK) return 0;
    for (DWORD format : fuzzing::kLoadFormats) {
        ComPtr<IBitmapImage> bitmap;
        if (SUCCEEDED(ReadBmp(source, format, nullptr, bitmap)))
            fuzzing::ReadToLastByte(bitmap.get());
    }
    return 0;
}
