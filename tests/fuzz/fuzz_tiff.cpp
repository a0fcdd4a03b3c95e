// The TIFF reader as its translator uses it, fed from memory: any input given
// to the probe and, when it is accepted, read in two formats.
#include "Bitmap.h"
#include "Tiff.h"
#include "support/RastrelFuzzing.h"

using namespace rastrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::ByteSource source(data, size);
    TiffHeader header{};
    if (ProbeTiff(source, header) != kCodecOk || fuzzing::TooLarge(header.width, header.height))
        return 0;
    for (DWORD format : fuzzing::kLoadFormats) {
        ComPtr<IBitmapImage> bitmap(NewBitmapObject());
        if (SUCCEEDED(ReadTiffBitmap(source, header, format, nullptr, bitmap)))
            fuzzing::ReadToLastByte(bitmap.get());
    }
    return 0;
}
