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
// Sixteen pixels as three registers, all loaded before any is stored, so
// rows swapped in place never read what was just written. Pixels 5 and 10
// straddle the registers: their outer bytes come across from the
// neighbouring register.
__attribute__((target("ssse3"))) void SwapOuterBytesSsse3(const std::uint8_t* in, std::uint8_t* out,
                                                          std::size_t pixels) {
    constexpr char z = -128; // a zero byte
    const __m128i first = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, z);
    const __m128i firstFromSecond = _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, z, z, z, z, z, 1);
    const __m128i secondFromFirst = _mm_setr_epi8(z, 15, z, z, z, z, z, z, z, z, z, z, z, z, z, z);
    const __m128i second = _mm_setr_epi8(0, z, 4, 3, 2, 7, 6, 5, 10, 9, 8, 13, 12, 11, z, 15);
    const __m128i secondFromThird = _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, z, z, z, z, 0, z);
    const __m128i thirdFromSecond = _mm_setr_epi8(14, z, z, z, z, z, z, z, z, z, z, z, z, z, z, z);
    const __m128i third = _mm_setr_epi8(z, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
    std::size_t x = 0;
    for (; x + 16 <= pixels; x += 16, in += 48, out += 48) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out),
            _mm_or_si128(_mm_shuffle_epi8(a, first), _mm_shuffle_epi8(b, firstFromSecond)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16),
                         _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, secondFromFirst),
                                                   _mm_shuffle_epi8(b, second)),
                                      _mm_shuffle_epi8(c, secondFromThird)));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + 32),
            _mm_or_si128(_mm_shuffle_epi8(b, thirdFromSecond), _mm_shuffle_epi8(c, third)));
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
