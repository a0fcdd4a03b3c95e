// Targa probe and load through the translator, as a client uses it: any
// file given to Probe and, when it is accepted, to Load in two formats.
#include "FuzzSupport.h"
#include "RastrelFuzzSupport.h"

#include <cstdint>

namespace {

ITranslator* Translator() {
    static ITranslator* const object =
        merkanix::fuzzing::RegisteredObject<ITranslator>(CLSID_TgaTranslator, IID_ITranslator);
    return object;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Pictures of hundreds of megabytes say nothing more about the reader.
    if (size >= 16 && std::size_t(data[12] | data[13] << 8) * (data[14] | data[15] << 8) > 1u << 20)
        return 0;
    ITranslator* translator = Translator();
    merkanix::fuzzing::MemoryFile file(data, size);
    if (translator->Probe(file.path().c_str()) != S_OK) return 0;
    for (DWORD format : {DWORD{0x400}, DWORD{0x4000}}) {
        IBitmapImage* bitmap = nullptr;
        if (SUCCEEDED(translator->Load(file.path().c_str(), format, &bitmap, nullptr))) {
            DWORD bytes = 0;
            BitmapImage image{};
            bitmap->GetImage(&image);
            bitmap->GetPixelBytes(&bytes);
            volatile BYTE last = image.pixels[bytes - 1];
            (void)last;
            bitmap->Release();
        }
    }
    return 0;
}
