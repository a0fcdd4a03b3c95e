#include "SwapBytes.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace rastrel {

// Four pixels as three words at a time.
void SwapOuterBytesPortable(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) {
    static_assert(std::endian::native == std::endian::little);
    std::size_t x = 0;
    for (; x + 4 <= pixels; x += 4, in += 12, out += 12) {
        std::uint32_t a, b, c;
        std::memcpy(&a, in, 4);
        std::memcpy(&b, in + 4, 4);
        std::memcpy(&c, in + 8, 4);
        const std::uint32_t words[3] = {
            (a >> 16 & 0xFF) | (a & 0xFF00) | (a & 0xFF) << 16 | (b >> 8 & 0xFF) << 24,
            (b & 0xFF) | (a >> 24) << 8 | (c & 0xFF) << 16 | (b & 0xFF000000),
            (b >> 16 & 0xFF) | (c >> 24) << 8 | (c >> 16 & 0xFF) << 16 | (c >> 8 & 0xFF) << 24};
        std::memcpy(out, words, 12);
    }
    for (; x < pixels; ++x, in += 3, out += 3) {
        const std::uint8_t first = in[0];
        out[0] = in[2];
        out[1] = in[1];
        out[2] = first;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Five pixels per 16-byte register; the sixteenth byte is stored unchanged,
// so a step may read and write one byte of the next pixel, never past the
// row: the last five pixels go the portable way.
__attribute__((target("ssse3"))) void SwapOuterBytesSsse3(const std::uint8_t* in, std::uint8_t* out,
                                                          std::size_t pixels) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t x = 0;
    for (; x + 6 <= pixels; x += 5, in += 15, out += 15) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(v, order));
    }
    SwapOuterBytesPortable(in, out, pixels - x);
}

void SwapOuterBytes(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) {
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3)
        SwapOuterBytesSsse3(in, out, pixels);
    else
        SwapOuterBytesPortable(in, out, pixels);
}
#else
void SwapOuterBytesSsse3(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) {
    SwapOuterBytesPortable(in, out, pixels);
}
void SwapOuterBytes(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels) {
    SwapOuterBytesPortable(in, out, pixels);
}
#endif

} // namespace rastrel
