// The PCX reader as its translator uses it, fed from memory: any input given
// to the probe and, when it is accepted, read in its own format and as 24
// bits (reducing to a palette is the conversions' to fuzz, and slow).
#include "Bitmap.h"
#include "Pcx.h"
#include "support/RastrelFuzzing.h"

#include <span>

using namespace rastrel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::ByteSource source(data, size);
    PcxHeader header{};
    if (ProbePcx(source, header) != kCodecOk || fuzzing::TooLarge(header.width, header.height))
        return 0;
    const DWORD formats[] = {PcxFormat(header), PF_RGB24};
    for (DWORD format : std::span(formats, formats[0] == PF_RGB24 ? 1 : 2)) {
        ComPtr<IBitmapImage> bitmap(NewBitmapObject());
        if (SUCCEEDED(ReadPcxBitmap(source, header, format, nullptr, bitmap)))
            fuzzing::ReadToLastByte(bitmap.get());
    }
    return 0;
}
