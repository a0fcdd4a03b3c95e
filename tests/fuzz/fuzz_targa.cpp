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
    const merkanix::fuzzing::MemoryFile file(data, size);
    merkanix::fuzzing::ProbeAndLoad(Translator(), file.path().c_str());
    return 0;
}
