#pragma once
// rastrel as its fuzz targets reach it: registered into a registry file of
// this process (removed at exit), one object made by class identifier and
// kept for every input.
#include "rastrel.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace merkanix::fuzzing {

template <typename Interface> Interface* RegisteredObject(REFCLSID clsid, REFIID iid) {
    static std::string registry =
        "/tmp/rastrel-fuzz-registry-" + std::to_string(::getpid()) + ".reg";
    ::setenv("RASTREL_REGISTRY", registry.c_str(), 1);
    std::atexit([] {
        ::unlink(registry.c_str());
        ::unlink((registry + ".lock").c_str());
    });
    CoInitialize(nullptr);
    HMODULE module = LoadLibraryA(RASTREL_LIBRARY);
    auto registerServer =
        reinterpret_cast<DllRegisterServerFunction>(GetProcAddress(module, "DllRegisterServer"));
    if (registerServer == nullptr || FAILED(registerServer())) __builtin_trap();
    Interface* made = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                reinterpret_cast<void**>(&made))))
        __builtin_trap();
    return made;
}

// Any file given to Probe and, when it is accepted, to Load in two formats;
// a loaded picture is read to its last byte.
inline void ProbeAndLoad(ITranslator* translator, const char* path) {
    if (translator->Probe(path) != S_OK) return;
    for (DWORD format : {DWORD{0x400}, DWORD{0x4000}}) {
        IBitmapImage* bitmap = nullptr;
        if (SUCCEEDED(translator->Load(path, format, &bitmap, nullptr))) {
            DWORD bytes = 0;
            BitmapImage image{};
            bitmap->GetImage(&image);
            bitmap->GetPixelBytes(&bytes);
            volatile BYTE last = image.pixels[bytes - 1];
            (void)last;
            bitmap->Release();
        }
    }
}

} // namespace merkanix::fuzzing
