// Windows Bitmap probe and load through the translator, as a client uses it: any
// file given to Probe and, when it is accepted, to Load in two formats.
#include "FuzzSupport.h"
#include "RastrelFuzzSupport.h"

#include <cstdint>

namespace {

ITranslator* Translator() {
    static ITranslator* const object =
        merkanix::fuzzing::RegisteredObject<ITranslator>(CLSID_BmpTranslator, IID_ITranslator);
    return object;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Pictures of hundreds of megabytes say nothing more about the reader.
    if (size >= 26) {
        auto field = [&](int at) {
            return std::uint32_t(data[at] | data[at + 1] << 8 | data[at + 2] << 16) |
                   std::uint32_t(data[at + 3]) << 24;
        };
        const std::int64_t width = std::int32_t(field(18)), height = std::int32_t(field(22));
        if (width * (height < 0 ? -height : height) > std::int64_t{1} << 20) return 0;
    }
    const merkanix::fuzzing::MemoryFile file(data, size);
    merkanix::fuzzing::ProbeAndLoad(Translator(), file.path().c_str());
    return 0;
}
