// The compound-file form of a bitmap, loaded as a client loads it: the
// library registered in a private registry, the bitmap made by class
// identifier, any file given to LoadFromStorage.
#include "FuzzSupport.h"
#include "RastrelFuzzSupport.h"

#include <cstdint>

namespace {

IBitmapImage* Bitmap() {
    static IBitmapImage* const object =
        merkanix::fuzzing::RegisteredObject<IBitmapImage>(CLSID_Bitmap, IID_IBitmapImage);
    return object;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    IBitmapImage* bitmap = Bitmap();
    merkanix::fuzzing::MemoryFile file(data, size);
    if (SUCCEEDED(bitmap->LoadFromStorage(file.path().c_str()))) {
        BitmapImage image{};
        DWORD bytes = 0;
        bitmap->GetImage(&image);
        bitmap->GetPixelBytes(&bytes);
        if (bytes != (image.format == 0x8 ? 720u * 486u * 3u : 699840u)) __builtin_trap();
        volatile BYTE last = image.pixels[bytes - 1];
        (void)last;
    }
    return 0;
}
