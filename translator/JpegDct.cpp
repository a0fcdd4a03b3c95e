#include "JpegDct.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace rastrel::jpeg {
namespace {

constexpr float kSqrt2 = 1.414213562f;

// The one-dimensional passes work on eight rows of eight lanes at once, so
// each line below is one vector operation over the lanes; the second pass
// runs on the transposed block.
#define LANES for (int i = 0; i < 8; ++i)

[[gnu::always_inline]] inline void Transpose(float* b) {
    for (int r = 0; r < 8; ++r)
        for (int c = r + 1; c < 8; ++c) {
            const float t = b[r * 8 + c];
            b[r * 8 + c] = b[c * 8 + r];
            b[c * 8 + r] = t;
        }
}

// Inverse along the columns: row k of `b` holds coefficient k of each lane.
[[gnu::always_inline]] inline void InversePass(float* b) {
    float* r0 = b;
    float* r1 = b + 8;
    float* r2 = b + 16;
    float* r3 = b + 24;
    float* r4 = b + 32;
    float* r5 = b + 40;
    float* r6 = b + 48;
    float* r7 = b + 56;
    LANES {
        // Even part.
        const float t10 = r0[i] + r4[i], t11 = r0[i] - r4[i];
        const float t13 = r2[i] + r6[i];
        const float t12 = (r2[i] - r6[i]) * kSqrt2 - t13;
        const float e0 = t10 + t13, e3 = t10 - t13, e1 = t11 + t12, e2 = t11 - t12;
        // Odd part.
        const float z13 = r5[i] + r3[i], z10 = r5[i] - r3[i];
        const float z11 = r1[i] + r7[i], z12 = r1[i] - r7[i];
        const float o7 = z11 + z13;
        const float o11 = (z11 - z13) * kSqrt2;
        const float z5 = (z10 + z12) * 1.847759065f;
        const float o10 = z5 - z12 * 1.082392200f;
        const float o12 = z5 - z10 * 2.613125930f;
        const float o6 = o12 - o7;
        const float o5 = o11 - o6;
        const float o4 = o10 - o5;
        r0[i] = e0 + o7;
        r7[i] = e0 - o7;
        r1[i] = e1 + o6;
        r6[i] = e1 - o6;
        r2[i] = e2 + o5;
        r5[i] = e2 - o5;
        r3[i] = e3 + o4;
        r4[i] = e3 - o4;
    }
}

// Forward along the columns: row k of `b` holds sample k of each lane.
[[gnu::always_inline]] inline void ForwardPass(float* b) {
    float* r0 = b;
    float* r1 = b + 8;
    float* r2 = b + 16;
    float* r3 = b + 24;
    float* r4 = b + 32;
    float* r5 = b + 40;
    float* r6 = b + 48;
    float* r7 = b + 56;
    LANES {
        const float t0 = r0[i] + r7[i], t7 = r0[i] - r7[i];
        const float t1 = r1[i] + r6[i], t6 = r1[i] - r6[i];
        const float t2 = r2[i] + r5[i], t5 = r2[i] - r5[i];
        const float t3 = r3[i] + r4[i], t4 = r3[i] - r4[i];
        // Even part.
        const float t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
        r0[i] = t10 + t11;
        r4[i] = t10 - t11;
        const float z1 = (t12 + t13) * 0.707106781f;
        r2[i] = t13 + z1;
        r6[i] = t13 - z1;
        // Odd part.
        const float o10 = t4 + t5, o11 = t5 + t6, o12 = t6 + t7;
        const float z5 = (o10 - o12) * 0.382683433f;
        const float z2 = 0.541196100f * o10 + z5;
        const float z4 = 1.306562965f * o12 + z5;
        const float z3 = o11 * 0.707106781f;
        const float z11 = t7 + z3, z13 = t7 - z3;
        r5[i] = z13 + z2;
        r3[i] = z13 - z2;
        r1[i] = z11 + z4;
        r7[i] = z11 - z4;
    }
}

#undef LANES

[[gnu::always_inline]] inline void Inverse(float* block) {
    InversePass(block);
    Transpose(block);
    InversePass(block);
    Transpose(block);
}

[[gnu::always_inline]] inline void Forward(float* block) {
    ForwardPass(block);
    Transpose(block);
    ForwardPass(block);
    Transpose(block);
}

// Rows go through planar stretches of this many pixels, so that the
// arithmetic runs on whole vectors and only the (de)interleaving is scalar.
constexpr int kStretch = 256;

// The writer's conversion of one stretch held as planes.
[[gnu::always_inline]] inline void PlanesToYcc(const std::uint8_t* b, const std::uint8_t* g,
                                               const std::uint8_t* r, int n, std::uint8_t* y,
                                               std::uint8_t* cb, std::uint8_t* cr) {
    for (int i = 0; i < n; ++i)
        y[i] = static_cast<std::uint8_t>((4899 * r[i] + 9617 * g[i] + 1868 * b[i] + 8192) >> 14);
    if (cb == nullptr) return;
    for (int i = 0; i < n; ++i) {
        cb[i] =
            static_cast<std::uint8_t>((8192 * b[i] - 5427 * g[i] - 2765 * r[i] + 2097152) >> 14);
        cr[i] =
            static_cast<std::uint8_t>((8192 * r[i] - 6860 * g[i] - 1332 * b[i] + 2097152) >> 14);
    }
}

[[gnu::always_inline]] inline std::int32_t Clamp255(std::int32_t v) {
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

[[gnu::always_inline]] inline void ToBgr(const std::uint8_t* y, const std::uint8_t* cb,
                                         const std::uint8_t* cr, int count, std::uint8_t* bgr) {
    std::uint8_t b[kStretch], g[kStretch], r[kStretch];
    for (int start = 0; start < count; start += kStretch) {
        const int n = count - start < kStretch ? count - start : kStretch;
        for (int i = 0; i < n; ++i) {
            const std::int32_t luma = y[start + i], blue = cb[start + i] - 128,
                               red = cr[start + i] - 128;
            r[i] = static_cast<std::uint8_t>(Clamp255(luma + ((red * 22970 + 8192) >> 14)));
            b[i] = static_cast<std::uint8_t>(Clamp255(luma + ((blue * 29032 + 8192) >> 14)));
            g[i] = static_cast<std::uint8_t>(
                Clamp255(luma + ((-5638 * blue - 11700 * red + 8192) >> 14)));
        }
        std::uint8_t* out = bgr + 3 * start;
        for (int i = 0; i < n; ++i) {
            out[3 * i] = b[i];
            out[3 * i + 1] = g[i];
            out[3 * i + 2] = r[i];
        }
    }
}

} // namespace

double AanScale(int k) {
    return k == 0 ? 1.0 : std::cos(k * M_PI / 16) * std::sqrt(2.0);
}

void InverseMultipliers(const std::uint16_t* quant, float* out) {
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v)
            out[u * 8 + v] = static_cast<float>(quant[u * 8 + v] * AanScale(u) * AanScale(v) / 8);
}

void ForwardMultipliers(const std::uint16_t* quant, float* out) {
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v)
            out[u * 8 + v] =
                static_cast<float>(1.0 / (quant[u * 8 + v] * AanScale(u) * AanScale(v) * 8));
}

void InverseDctPortable(float* block) {
    Inverse(block);
}
void ForwardDctPortable(float* block) {
    Forward(block);
}

void PrepareBlockPortable(const std::uint8_t* samples, std::size_t stride, const float* multipliers,
                          CodedBlock& out) {
    alignas(32) float block[64];
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            block[y * 8 + x] = static_cast<float>(samples[y * stride + x]) - 128.0f;
    Forward(block);
    out.nonZero = 0;
    for (int k = 0; k < 64; ++k) {
        const float scaled = block[kZigZag[k]] * multipliers[kZigZag[k]];
        const int value = static_cast<int>(scaled + std::copysign(0.5f, scaled));
        const unsigned magnitude = static_cast<unsigned>(value < 0 ? -value : value);
        const int size = magnitude == 0 ? 0 : std::min(32 - __builtin_clz(magnitude), 10);
        out.value[k] = static_cast<std::int16_t>(value);
        out.size[k] = static_cast<std::uint8_t>(size);
        out.bits[k] =
            static_cast<std::uint16_t>((value < 0 ? value - 1 : value) & ((1 << size) - 1));
        out.nonZero |= static_cast<std::uint64_t>(value != 0) << k;
    }
}

void StoreSamplesPortable(const float* block, std::uint8_t* out, std::size_t stride) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const int value = static_cast<int>(block[y * 8 + x] + 128.5f);
            out[y * stride + x] = static_cast<std::uint8_t>(value < 0     ? 0
                                                            : value > 255 ? 255
                                                                          : value);
        }
}

void BgrToYccPortable(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
                      std::uint8_t* cr) {
    std::uint8_t b[kStretch], g[kStretch], r[kStretch];
    for (int start = 0; start < count; start += kStretch) {
        const int n = count - start < kStretch ? count - start : kStretch;
        const std::uint8_t* in = bgr + 3 * start;
        for (int i = 0; i < n; ++i) {
            b[i] = in[3 * i];
            g[i] = in[3 * i + 1];
            r[i] = in[3 * i + 2];
        }
        PlanesToYcc(b, g, r, n, y + start, cb ? cb + start : nullptr, cr ? cr + start : nullptr);
    }
}
void YccToBgrPortable(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                      int count, std::uint8_t* bgr) {
    ToBgr(y, cb, cr, count, bgr);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx2"), always_inline)) inline __m256i Pairs(int first, int second) {
    return _mm256_set1_epi32(static_cast<int>(static_cast<std::uint16_t>(first) |
                                              static_cast<std::uint32_t>(second) << 16));
}
__attribute__((target("avx2"), always_inline)) inline __m256i Widen16(const std::uint8_t* at) {
    return _mm256_cvtepu8_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(at)));
}
// (first pair . a + second pair . b) >> 14 of sixteen pixels, as bytes; the
// low and high halves are what unpacklo and unpackhi made of each lane.
__attribute__((target("avx2"), always_inline)) inline void
StoreSixteen(std::uint8_t* out, __m256i firstLow, __m256i firstHigh, __m256i secondLow,
             __m256i secondHigh, __m256i a, __m256i b) {
    const __m256i low = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(firstLow, a), _mm256_madd_epi16(secondLow, b)), 14);
    const __m256i high = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(firstHigh, a), _mm256_madd_epi16(secondHigh, b)), 14);
    const __m256i bytes =
        _mm256_packus_epi16(_mm256_packs_epi32(low, high), _mm256_setzero_si256());
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08)));
}

__attribute__((target("avx2"))) void BgrToYccAvx2(const std::uint8_t* bgr, int count,
                                                  std::uint8_t* y, std::uint8_t* cb,
                                                  std::uint8_t* cr) {
    // Sixteen pixels' blue, green and red bytes gathered from three
    // registers each (z: a zero byte).
    constexpr char z = -128;
    const __m128i pick[3][3] = {{_mm_setr_epi8(0, 3, 6, 9, 12, 15, z, z, z, z, z, z, z, z, z, z),
                                 _mm_setr_epi8(z, z, z, z, z, z, 2, 5, 8, 11, 14, z, z, z, z, z),
                                 _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, z, 1, 4, 7, 10, 13)},
                                {_mm_setr_epi8(1, 4, 7, 10, 13, z, z, z, z, z, z, z, z, z, z, z),
                                 _mm_setr_epi8(z, z, z, z, z, 0, 3, 6, 9, 12, 15, z, z, z, z, z),
                                 _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, z, 2, 5, 8, 11, 14)},
                                {_mm_setr_epi8(2, 5, 8, 11, 14, z, z, z, z, z, z, z, z, z, z, z),
                                 _mm_setr_epi8(z, z, z, z, z, 1, 4, 7, 10, 13, z, z, z, z, z, z),
                                 _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, 0, 3, 6, 9, 12, 15)}};
    alignas(16) std::uint8_t planes[3][kStretch];
    for (int start = 0; start < count; start += kStretch) {
        const int n = count - start < kStretch ? count - start : kStretch;
        const std::uint8_t* in = bgr + 3 * start;
        int i = 0;
        for (; i + 16 <= n; i += 16, in += 48) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 32));
            for (int p = 0; p < 3; ++p)
                _mm_store_si128(reinterpret_cast<__m128i*>(planes[p] + i),
                                _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, pick[p][0]),
                                                          _mm_shuffle_epi8(b, pick[p][1])),
                                             _mm_shuffle_epi8(c, pick[p][2])));
        }
        for (; i < n; ++i, in += 3)
            for (int p = 0; p < 3; ++p)
                planes[p][i] = in[p];
        // Sixteen pixels at a time as pairs of 16-bit values whose
        // products madd sums in 32 bits: (red, green) and (blue, 128), the
        // 128 carrying the constant term (128 x 64 = 8192, 128 x 16384 =
        // 2097152).
        const __m256i lumaRg = Pairs(4899, 9617), lumaB = Pairs(1868, 64);
        const __m256i blueBg = Pairs(8192, -5427), blueR = Pairs(-2765, 16384);
        const __m256i redRg = Pairs(8192, -6860), redB = Pairs(-1332, 16384);
        const __m256i half = _mm256_set1_epi16(128);
        int v = 0;
        for (; v + 16 <= n; v += 16) {
            const __m256i b16 = Widen16(planes[0] + v), g16 = Widen16(planes[1] + v),
                          r16 = Widen16(planes[2] + v);
            const __m256i rgLow = _mm256_unpacklo_epi16(r16, g16),
                          rgHigh = _mm256_unpackhi_epi16(r16, g16);
            const __m256i bLow = _mm256_unpacklo_epi16(b16, half),
                          bHigh = _mm256_unpackhi_epi16(b16, half);
            StoreSixteen(y + start + v, rgLow, rgHigh, bLow, bHigh, lumaRg, lumaB);
            if (cb == nullptr) continue;
            const __m256i bgLow = _mm256_unpacklo_epi16(b16, g16),
                          bgHigh = _mm256_unpackhi_epi16(b16, g16);
            const __m256i rLow = _mm256_unpacklo_epi16(r16, half),
                          rHigh = _mm256_unpackhi_epi16(r16, half);
            StoreSixteen(cb + start + v, bgLow, bgHigh, rLow, rHigh, blueBg, blueR);
            StoreSixteen(cr + start + v, rgLow, rgHigh, bLow, bHigh, redRg, redB);
        }
        PlanesToYcc(planes[0] + v, planes[1] + v, planes[2] + v, n - v, y + start + v,
                    cb ? cb + start + v : nullptr, cr ? cr + start + v : nullptr);
    }
}
__attribute__((target("avx2"))) void YccToBgrAvx2(const std::uint8_t* y, const std::uint8_t* cb,
                                                  const std::uint8_t* cr, int count,
                                                  std::uint8_t* bgr) {
    ToBgr(y, cb, cr, count, bgr);
}
// The block turned about its diagonal in registers: the element-wise
// transpose above is most of a transform's time on processors with AVX2.
__attribute__((target("avx2"), always_inline)) inline void TransposeAvx2(float* b) {
    __m256 r[8], t[8];
    for (int i = 0; i < 8; ++i)
        r[i] = _mm256_loadu_ps(b + 8 * i);
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_ps(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_ps(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        r[i] = _mm256_shuffle_ps(t[i], t[i + 2], 0x44);
        r[i + 1] = _mm256_shuffle_ps(t[i], t[i + 2], 0xEE);
        r[i + 2] = _mm256_shuffle_ps(t[i + 1], t[i + 3], 0x44);
        r[i + 3] = _mm256_shuffle_ps(t[i + 1], t[i + 3], 0xEE);
    }
    for (int i = 0; i < 4; ++i) {
        _mm256_storeu_ps(b + 8 * i, _mm256_permute2f128_ps(r[i], r[i + 4], 0x20));
        _mm256_storeu_ps(b + 8 * (i + 4), _mm256_permute2f128_ps(r[i], r[i + 4], 0x31));
    }
}
__attribute__((target("avx2"))) void InverseDctAvx2(float* block) {
    InversePass(block);
    TransposeAvx2(block);
    InversePass(block);
    TransposeAvx2(block);
}
__attribute__((target("avx2"))) void ForwardDctAvx2(float* block) {
    ForwardPass(block);
    TransposeAvx2(block);
    ForwardPass(block);
    TransposeAvx2(block);
}
__attribute__((target("avx2"))) void StoreSamplesAvx2(const float* block, std::uint8_t* out,
                                                      std::size_t stride) {
    const __m256 shift = _mm256_set1_ps(128.5f);
    for (int y = 0; y < 8; ++y) {
        const __m256i values =
            _mm256_cvttps_epi32(_mm256_add_ps(_mm256_loadu_ps(block + 8 * y), shift));
        // Saturated to 16 bits, then to 0-255: the clamp.
        const __m128i words =
            _mm_packs_epi32(_mm256_castsi256_si128(values), _mm256_extracti128_si256(values, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + y * stride),
                         _mm_packus_epi16(words, words));
    }
}
__attribute__((target("avx2"))) void PrepareBlockAvx2(const std::uint8_t* samples,
                                                      std::size_t stride, const float* multipliers,
                                                      CodedBlock& out) {
    alignas(32) float block[64];
    const __m256 shift = _mm256_set1_ps(128.0f);
    for (int y = 0; y < 8; ++y) {
        const __m128i row = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + y * stride));
        _mm256_store_ps(block + 8 * y,
                        _mm256_sub_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(row)), shift));
    }
    ForwardPass(block);
    TransposeAvx2(block);
    ForwardPass(block);
    TransposeAvx2(block);
    // Quantised in natural order, two rows to a register of 16-bit values.
    alignas(32) std::int16_t natural[64];
    const __m256 sign = _mm256_set1_ps(-0.0f), half = _mm256_set1_ps(0.5f);
    for (int y = 0; y < 8; y += 2) {
        __m256i rows[2];
        for (int i = 0; i < 2; ++i) {
            const __m256 scaled = _mm256_mul_ps(_mm256_load_ps(block + 8 * (y + i)),
                                                _mm256_loadu_ps(multipliers + 8 * (y + i)));
            const __m256 away = _mm256_or_ps(_mm256_and_ps(scaled, sign), half);
            rows[i] = _mm256_cvttps_epi32(_mm256_add_ps(scaled, away));
        }
        _mm256_store_si256(reinterpret_cast<__m256i*>(natural + 8 * y),
                           _mm256_permute4x64_epi64(_mm256_packs_epi32(rows[0], rows[1]), 0xD8));
    }
    for (int k = 0; k < 64; ++k)
        out.value[k] = natural[kZigZag[k]];
    // Size categories from the exponent of each magnitude as a float (0
    // for zero), the written bits masked to them; eight at a time.
    const __m256i one = _mm256_set1_epi32(1), ten = _mm256_set1_epi32(10),
                  bias = _mm256_set1_epi32(126), zero = _mm256_setzero_si256();
    std::uint64_t zeros = 0;
    for (int k = 0; k < 64; k += 16) {
        const __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(out.value + k));
        const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(out.value + k + 8));
        __m256i sizes[2], bits[2];
        for (int i = 0; i < 2; ++i) {
            const __m256i value = _mm256_cvtepi16_epi32(i == 0 ? low : high);
            const __m256 magnitude = _mm256_cvtepi32_ps(_mm256_abs_epi32(value));
            const __m256i exponent = _mm256_srli_epi32(_mm256_castps_si256(magnitude), 23);
            sizes[i] =
                _mm256_min_epi32(_mm256_max_epi32(_mm256_sub_epi32(exponent, bias), zero), ten);
            bits[i] = _mm256_and_si256(_mm256_add_epi32(value, _mm256_srai_epi32(value, 31)),
                                       _mm256_sub_epi32(_mm256_sllv_epi32(one, sizes[i]), one));
        }
        const __m256i sizeWords =
            _mm256_permute4x64_epi64(_mm256_packs_epi32(sizes[0], sizes[1]), 0xD8);
        _mm_store_si128(reinterpret_cast<__m128i*>(out.size + k),
                        _mm_packus_epi16(_mm256_castsi256_si128(sizeWords),
                                         _mm256_extracti128_si256(sizeWords, 1)));
        _mm256_store_si256(reinterpret_cast<__m256i*>(out.bits + k),
                           _mm256_permute4x64_epi64(_mm256_packus_epi32(bits[0], bits[1]), 0xD8));
        const __m128i none = _mm_setzero_si128();
        zeros |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(_mm_movemask_epi8(
                     _mm_packs_epi16(_mm_cmpeq_epi16(low, none), _mm_cmpeq_epi16(high, none)))))
                 << k;
    }
    out.nonZero = ~zeros;
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
#else
void BgrToYccAvx2(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
                  std::uint8_t* cr) {
    BgrToYccPortable(bgr, count, y, cb, cr);
}
void YccToBgrAvx2(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, int count,
                  std::uint8_t* bgr) {
    ToBgr(y, cb, cr, count, bgr);
}
void InverseDctAvx2(float* block) {
    Inverse(block);
}
void ForwardDctAvx2(float* block) {
    Forward(block);
}
void StoreSamplesAvx2(const float* block, std::uint8_t* out, std::size_t stride) {
    StoreSamplesPortable(block, out, stride);
}
void PrepareBlockAvx2(const std::uint8_t* samples, std::size_t stride, const float* multipliers,
                      CodedBlock& out) {
    PrepareBlockPortable(samples, stride, multipliers, out);
}
bool HasAvx2() {
    return false;
}
#endif

void InverseDct(float* block) {
    if (HasAvx2())
        InverseDctAvx2(block);
    else
        InverseDctPortable(block);
}

void PrepareBlock(const std::uint8_t* samples, std::size_t stride, const float* multipliers,
                  CodedBlock& out) {
    if (HasAvx2())
        PrepareBlockAvx2(samples, stride, multipliers, out);
    else
        PrepareBlockPortable(samples, stride, multipliers, out);
}

void StoreSamples(const float* block, std::uint8_t* out, std::size_t stride) {
    if (HasAvx2())
        StoreSamplesAvx2(block, out, stride);
    else
        StoreSamplesPortable(block, out, stride);
}

void ForwardDct(float* block) {
    if (HasAvx2())
        ForwardDctAvx2(block);
    else
        ForwardDctPortable(block);
}

} // namespace rastrel::jpeg

namespace rastrel::jpeg {

void BgrToYcc(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
              std::uint8_t* cr) {
    if (HasAvx2())
        BgrToYccAvx2(bgr, count, y, cb, cr);
    else
        BgrToYccPortable(bgr, count, y, cb, cr);
}

void YccToBgr(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, int count,
              std::uint8_t* bgr) {
    if (HasAvx2())
        YccToBgrAvx2(y, cb, cr, count, bgr);
    else
        YccToBgrPortable(y, cb, cr, count, bgr);
}

} // namespace rastrel::jpeg
