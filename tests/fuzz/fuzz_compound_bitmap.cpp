// The compound-file form of a bitmap, loaded as a client loads it: the
// library registered in a private registry, the bitmap made by class
// identifier, any file given to LoadFromStorage.
#include "FuzzSupport.h"
#include "rastrel.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

IBitmapImage* Bitmap() {
    static IBitmapImage* bitmap = [] {
        static std::string registry =
            "/tmp/rastrel-fuzz-registry-" + std::to_string(::getpid()) + ".reg";
        ::setenv("RASTREL_REGISTRY", registry.c_str(), 1);
        std::atexit([] {
            ::unlink(registry.c_str());
            ::unlink((registry + ".lock").c_str());
        });
        CoInitialize(nullptr);
        HMODULE module = LoadLibraryA(RASTREL_LIBRARY);
        auto registerServer = reinterpret_cast<DllRegisterServerFunction>(
            GetProcAddress(module, "DllRegisterServer"));
        if (registerServer == nullptr || FAILED(registerServer())) __builtin_trap();
        IBitmapImage* made = nullptr;
        if (FAILED(CoCreateInstance(CLSID_Bitmap, nullptr, CLSCTX_INPROC_SERVER, IID_IBitmapImage,
                                    reinterpret_cast<void**>(&made))))
            __builtin_trap();
        return made;
    }();
    return bitmap;
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
