#pragma once
// Three-byte pixels with their first and third bytes exchanged (red-green-
// blue to blue-green-red and back), as TIFF rows need on every load and
// save. `in` and `out` are the same or do not overlap. The SSSE3 build runs
// where the processor has it; the plain name picks.
#include <cstddef>
#include <cstdint>

namespace rastrel {

void SwapOuterBytes(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels);
void SwapOuterBytesPortable(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels);
// Off x86 this is the portable build.
void SwapOuterBytesSsse3(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels);

} // namespace rastrel
