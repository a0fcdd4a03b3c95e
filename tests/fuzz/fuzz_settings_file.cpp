// Any settings file reads; what it reads, written and read again, is the same.
#include "common/Errors.h"
#include "measurement/Settings.h"
#include "support/FuzzSupport.h"

#include <cstdlib>
#include <string>
#include <tuple>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace merkanix;
    const fuzzing::MemoryFile file(data, size);
    const SystemTexts texts = ReadSettingsFile(file.path());
    static const std::string scratch = [] {
        char pattern[] = "/tmp/merkanix-fuzz-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) __builtin_trap();
        return std::string(pattern) + "/settings.txt";
    }();
    WriteSettingsFile(scratch, texts);
    const SystemTexts again = ReadSettingsFile(scratch);
    for (int i = 0; i < 3; ++i)
        if (std::tie(again[i].f, again[i].xc, again[i].yc, again[i].x, again[i].y) !=
            std::tie(texts[i].f, texts[i].xc, texts[i].yc, texts[i].x, texts[i].y))
            __builtin_trap();
    return 0;
}
