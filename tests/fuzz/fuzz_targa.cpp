// The Targa reader as its translator uses it, fed from memory: any input
// given to the probe and, when it is accepted, read in two formats.
#include "Bitmap.h"
#include "Targa.h"
#include "support/RastrelFuzzing.h"

using namespace rastrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= 16 && fuzzing::TooLarge(data[12] | data[13] << 8, data[14] | data[15] << 8))
        return 0;
    platform::ByteSource source(data, size);
    TargaHeader header{};
    if (ProbeTarga(source, header) != kCodecOk || header.width == 0 || header.height == 0) return 0;
    for (DWORD format : fuzzing::kLoadFormats) {
        ComPtr<IBitmapImage> bitmap(NewBitmapObject());
        if (SUCCEEDED(ReadTargaBitmap(source, header, format, nullptr, bitmap)))
            fuzzing::ReadToLastByte(bitmap.get());
    }
    return 0;
}
