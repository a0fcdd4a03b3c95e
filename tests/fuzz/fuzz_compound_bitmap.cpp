// The compound-file form of a bitmap, fed from memory: any input opened as
// a compound file and, when it opens, read as the form's frame.
#include "Bitmap.h"
#include "CompoundFile.h"
#include "platform/ComPtr.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ComPtr<IStorage> storage;
    if (FAILED(platform::cfb::OpenImage("", {data, data + size}, 0x40010, &storage))) return 0;
    rastrel::ImageMemory memory;
    DWORD format = 0;
    if (SUCCEEDED(rastrel::ReadFrame(storage.get(), memory, format))) {
        // The whole frame: 720 x 486, three bytes a pixel with alpha, else two.
        const std::size_t bytes = format == 0x8 ? 720u * 486u * 3u : 699840u;
        volatile BYTE last = memory.pixels[bytes - 1];
        (void)last;
        memory.Free();
    }
    return 0;
}
