// The registry file's REGEDIT4 parser: any text either fails to parse or
// parses into a tree that writes out and reads back unchanged.
#include "RegistryFile.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto tree = platform::ParseRegistryText(text);
    if (!tree) return 0;
    const std::string written = platform::WriteRegistryText(*tree);
    auto again = platform::ParseRegistryText(written);
    if (!again || platform::WriteRegistryText(*again) != written) __builtin_trap();
    return 0;
}
