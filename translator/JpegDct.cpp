#include "JpegDct.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace rastrel::jpeg {
namespace {

constexpr float kSqrt2 = 1.414213562f;

// The one-dimensional transforms run down the columns, the second time on
// the transposed block.
#define LANES for (int i = 0; i < 8; ++i)

[[gnu::always_inline]] inline void Transpose(float* b) {
    for (int r = 0; r < 8; ++r)
        for (int c = r + 1; c < 8; ++c) {
            const float t = b[r * 8 + c];
            b[r * 8 + c] = b[c * 8 + r];
            b[c * 8 + r] = t;
        }
}

// Inverse along the columns: element k * S of `r` holds coefficient k of
// one lane. T is a float (the portable build) or a vector of eight lanes
// (GCC's vector arithmetic, the same operations in the same order, so
// both builds give the same bits).
template <std::size_t S, class T> [[gnu::always_inline]] inline void InverseLine(T* r) {
    // Even part.
    const T t10 = r[0 * S] + r[4 * S], t11 = r[0 * S] - r[4 * S];
    const T t13 = r[2 * S] + r[6 * S];
    const T t12 = (r[2 * S] - r[6 * S]) * kSqrt2 - t13;
    const T e0 = t10 + t13, e3 = t10 - t13, e1 = t11 + t12, e2 = t11 - t12;
    // Odd part.
    const T z13 = r[5 * S] + r[3 * S], z10 = r[5 * S] - r[3 * S];
    const T z11 = r[1 * S] + r[7 * S], z12 = r[1 * S] - r[7 * S];
    const T o7 = z11 + z13;
    const T o11 = (z11 - z13) * kSqrt2;
    const T z5 = (z10 + z12) * 1.847759065f;
    const T o10 = z5 - z12 * 1.082392200f;
    const T o12 = z5 - z10 * 2.613125930f;
    const T o6 = o12 - o7;
    const T o5 = o11 - o6;
    const T o4 = o10 - o5;
    r[0 * S] = e0 + o7;
    r[7 * S] = e0 - o7;
    r[1 * S] = e1 + o6;
    r[6 * S] = e1 - o6;
    r[2 * S] = e2 + o5;
    r[5 * S] = e2 - o5;
    r[3 * S] = e3 + o4;
    r[4 * S] = e3 - o4;
}

// Forward along the columns: element k * S of `r` holds sample k.
template <std::size_t S, class T> [[gnu::always_inline]] inline void ForwardLine(T* r) {
    const T t0 = r[0 * S] + r[7 * S], t7 = r[0 * S] - r[7 * S];
    const T t1 = r[1 * S] + r[6 * S], t6 = r[1 * S] - r[6 * S];
    const T t2 = r[2 * S] + r[5 * S], t5 = r[2 * S] - r[5 * S];
    const T t3 = r[3 * S] + r[4 * S], t4 = r[3 * S] - r[4 * S];
    // Even part.
    const T t10 = t0 + t3, t13 = t0 - t3, t11 = t1 + t2, t12 = t1 - t2;
    r[0 * S] = t10 + t11;
    r[4 * S] = t10 - t11;
    const T z1 = (t12 + t13) * 0.707106781f;
    r[2 * S] = t13 + z1;
    r[6 * S] = t13 - z1;
    // Odd part.
    const T o10 = t4 + t5, o11 = t5 + t6, o12 = t6 + t7;
    const T z5 = (o10 - o12) * 0.382683433f;
    const T z2 = 0.541196100f * o10 + z5;
    const T z4 = 1.306562965f * o12 + z5;
    const T z3 = o11 * 0.707106781f;
    const T z11 = t7 + z3, z13 = t7 - z3;
    r[5 * S] = z13 + z2;
    r[3 * S] = z13 - z2;
    r[1 * S] = z11 + z4;
    r[7 * S] = z11 - z4;
}

// Both passes of a transform: each runs `Line` down every column, then
// turns the block about its diagonal.
template <void (*Line)(float*)> [[gnu::always_inline]] inline void BothPasses(float* b) {
    for (int pass = 0; pass < 2; ++pass) {
        LANES Line(b + i);
        Transpose(b);
    }
}

#undef LANES

[[gnu::always_inline]] inline void Inverse(float* block) {
    BothPasses<InverseLine<8, float>>(block);
}
[[gnu::always_inline]] inline void Forward(float* block) {
    BothPasses<ForwardLine<8, float>>(block);
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
// The AVX2 loops below run over registers: unrolled, each element stays in
// one (at -O2 GCC would keep the arrays in memory instead).
#define UNROLLED _Pragma("GCC unroll 8")

// The zig-zag order as byte shuffles: output group g (coefficients 8g to
// 8g + 7) gathers from natural rows first[g]..last[g], each row's words
// placed by mask[g][row] (0x80 where another row supplies the word).
struct ZigZagShuffle {
    alignas(16) std::uint8_t mask[8][8][16];
    int first[8];
    int last[8];
};
constexpr ZigZagShuffle MakeZigZagShuffle() {
    ZigZagShuffle table{};
    for (int g = 0; g < 8; ++g) {
        table.first[g] = 7;
        table.last[g] = 0;
        for (int row = 0; row < 8; ++row)
            for (int j = 0; j < 16; ++j)
                table.mask[g][row][j] = 0x80;
        for (int j = 0; j < 8; ++j) {
            const int natural = kZigZag[8 * g + j], row = natural / 8, column = natural % 8;
            table.mask[g][row][2 * j] = static_cast<std::uint8_t>(2 * column);
            table.mask[g][row][2 * j + 1] = static_cast<std::uint8_t>(2 * column + 1);
            table.first[g] = row < table.first[g] ? row : table.first[g];
            table.last[g] = row > table.last[g] ? row : table.last[g];
        }
    }
    return table;
}
constexpr ZigZagShuffle kZigZagShuffle = MakeZigZagShuffle();

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
// The block (eight row registers) turned about its diagonal: the
// element-wise transpose above is most of a transform's time.
__attribute__((target("avx2"), always_inline)) inline void TransposeAvx2(__m256* r) {
    __m256 t[8];
    UNROLLED
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_ps(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_ps(r[i], r[i + 1]);
    }
    UNROLLED
    for (int i = 0; i < 8; i += 4) {
        r[i] = _mm256_shuffle_ps(t[i], t[i + 2], 0x44);
        r[i + 1] = _mm256_shuffle_ps(t[i], t[i + 2], 0xEE);
        r[i + 2] = _mm256_shuffle_ps(t[i + 1], t[i + 3], 0x44);
        r[i + 3] = _mm256_shuffle_ps(t[i + 1], t[i + 3], 0xEE);
    }
    UNROLLED
    for (int i = 0; i < 4; ++i) {
        t[i] = _mm256_permute2f128_ps(r[i], r[i + 4], 0x20);
        t[i + 4] = _mm256_permute2f128_ps(r[i], r[i + 4], 0x31);
    }
    UNROLLED
    for (int i = 0; i < 8; ++i)
        r[i] = t[i];
}
// Both passes with the block in its eight row registers.
template <void (*Line)(__m256*)>
__attribute__((target("avx2"), always_inline)) inline void BothPassesAvx2(__m256* r) {
    UNROLLED
    for (int pass = 0; pass < 2; ++pass) {
        Line(r);
        TransposeAvx2(r);
    }
}
template <void (*Line)(__m256*)>
__attribute__((target("avx2"), always_inline)) inline void TransformAvx2(float* block) {
    __m256 r[8];
    UNROLLED
    for (int i = 0; i < 8; ++i)
        r[i] = _mm256_loadu_ps(block + 8 * i);
    BothPassesAvx2<Line>(r);
    UNROLLED
    for (int i = 0; i < 8; ++i)
        _mm256_storeu_ps(block + 8 * i, r[i]);
}
__attribute__((target("avx2"))) void InverseDctAvx2(float* block) {
    TransformAvx2<InverseLine<1, __m256>>(block);
}
__attribute__((target("avx2"))) void ForwardDctAvx2(float* block) {
    TransformAvx2<ForwardLine<1, __m256>>(block);
}
__attribute__((target("avx2"))) void StoreSamplesAvx2(const float* block, std::uint8_t* out,
                                                      std::size_t stride) {
    const __m256 shift = _mm256_set1_ps(128.5f);
    UNROLLED
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
    __m256 block[8];
    const __m256 shift = _mm256_set1_ps(128.0f);
    UNROLLED
    for (int y = 0; y < 8; ++y) {
        const __m128i row = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + y * stride));
        block[y] = _mm256_sub_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(row)), shift);
    }
    BothPassesAvx2<ForwardLine<1, __m256>>(block);
    // Quantised in natural order, a row of 16-bit values to a register,
    // then gathered into zig-zag order eight at a time.
    __m128i natural[8];
    const __m256 sign = _mm256_set1_ps(-0.0f), half = _mm256_set1_ps(0.5f);
    UNROLLED
    for (int y = 0; y < 8; y += 2) {
        __m256i rows[2];
        UNROLLED
        for (int i = 0; i < 2; ++i) {
            const __m256 scaled =
                _mm256_mul_ps(block[y + i], _mm256_loadu_ps(multipliers + 8 * (y + i)));
            const __m256 away = _mm256_or_ps(_mm256_and_ps(scaled, sign), half);
            rows[i] = _mm256_cvttps_epi32(_mm256_add_ps(scaled, away));
        }
        const __m256i pair = _mm256_permute4x64_epi64(_mm256_packs_epi32(rows[0], rows[1]), 0xD8);
        natural[y] = _mm256_castsi256_si128(pair);
        natural[y + 1] = _mm256_extracti128_si256(pair, 1);
    }
    __m128i zigZag[8];
    UNROLLED
    for (int g = 0; g < 8; ++g) {
        __m128i gathered = _mm_setzero_si128();
        UNROLLED
        for (int row = kZigZagShuffle.first[g]; row <= kZigZagShuffle.last[g]; ++row)
            gathered = _mm_or_si128(
                gathered,
                _mm_shuffle_epi8(natural[row], _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                   kZigZagShuffle.mask[g][row]))));
        zigZag[g] = gathered;
        _mm_store_si128(reinterpret_cast<__m128i*>(out.value + 8 * g), gathered);
    }
    // Size categories from the exponent of each magnitude as a float (0
    // for zero), the written bits masked to them; eight at a time.
    const __m256i one = _mm256_set1_epi32(1), ten = _mm256_set1_epi32(10),
                  bias = _mm256_set1_epi32(126), zero = _mm256_setzero_si256();
    std::uint64_t zeros = 0;
    UNROLLED
    for (int k = 0; k < 64; k += 16) {
        const __m128i low = zigZag[k / 8], high = zigZag[k / 8 + 1];
        __m256i sizes[2], bits[2];
        UNROLLED
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
