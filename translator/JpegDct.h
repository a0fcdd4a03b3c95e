#pragma once
// The 8 x 8 discrete cosine transforms of the JPEG codec: the
// Arai-Agui-Nakajima factorisation in single precision, whose scale factors
// the quantisation tables absorb. Each transform has a portable build and
// one for AVX2 processors; the plain names pick the one the processor runs.
#include <array>
#include <cstddef>
#include <cstdint>

namespace rastrel::jpeg {

// Zig-zag position k -> natural index (row * 8 + column).
constexpr std::array<int, 64> MakeZigZag() {
    std::array<int, 64> order{};
    int k = 0;
    for (int sum = 0; sum < 15; ++sum) {
        const int low = sum < 8 ? 0 : sum - 7, high = sum < 8 ? sum : 7;
        if (sum % 2 == 0)
            for (int row = high; row >= low; --row)
                order[k++] = row * 8 + (sum - row);
        else
            for (int row = low; row <= high; ++row)
                order[k++] = row * 8 + (sum - row);
    }
    return order;
}
inline constexpr std::array<int, 64> kZigZag = MakeZigZag();

// Coefficient (u, v) of the scaled transforms is the true one times
// Scale(u) * Scale(v) * 8.
double AanScale(int k);

// The multipliers that turn dequantised coefficients into the inverse
// transform's input: quant[i] * AanScale(u) * AanScale(v) / 8, natural order.
void InverseMultipliers(const std::uint16_t* quant, float* out);
// The multipliers that turn the forward transform's output into quantised
// coefficients: 1 / (quant[i] * AanScale(u) * AanScale(v) * 8).
void ForwardMultipliers(const std::uint16_t* quant, float* out);

// 64 scaled coefficients (natural order, rows of u) into 64 samples,
// without the level shift; `block` is overwritten.
void InverseDct(float* block);
void InverseDctPortable(float* block);
void InverseDctAvx2(float* block);

// 64 level-shifted samples into 64 scaled coefficients, in place.
void ForwardDct(float* block);
void ForwardDctPortable(float* block);
void ForwardDctAvx2(float* block);

// Rows of pixels between blue-green-red and Y, Cb, Cr (chroma centred on
// 128), in 14-bit fixed point: the writer's conversion (results cut by the
// shift; cb and cr may be null for grey) and the reader's (rounded,
// clamped). Each row holds `count` pixels.
void BgrToYcc(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
              std::uint8_t* cr);
void BgrToYccPortable(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
                      std::uint8_t* cr);
void BgrToYccAvx2(const std::uint8_t* bgr, int count, std::uint8_t* y, std::uint8_t* cb,
                  std::uint8_t* cr);
void YccToBgr(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, int count,
              std::uint8_t* bgr);
void YccToBgrPortable(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr,
                      int count, std::uint8_t* bgr);
void YccToBgrAvx2(const std::uint8_t* y, const std::uint8_t* cb, const std::uint8_t* cr, int count,
                  std::uint8_t* bgr);

// The samples of an inverse-transformed block, level-shifted by 128 and
// clamped to 0-255 (values cut towards zero), as 8 rows of `stride`.
void StoreSamples(const float* block, std::uint8_t* out, std::size_t stride);
void StoreSamplesPortable(const float* block, std::uint8_t* out, std::size_t stride);
void StoreSamplesAvx2(const float* block, std::uint8_t* out, std::size_t stride);

// A block ready for the entropy coder: its quantised coefficients in
// zig-zag order; for each, its size category (capped at 10, the most an AC
// table codes) and the low `size` bits the coder writes (one less for
// negative values); and the mask of the coefficients that are not zero.
struct CodedBlock {
    alignas(32) std::int16_t value[64];
    alignas(32) std::uint16_t bits[64];
    alignas(32) std::uint8_t size[64];
    std::uint64_t nonZero;
};
// Samples (8 rows of `stride`) level-shifted, transformed and quantised by
// `multipliers` (ForwardMultipliers), rounded halves away from zero.
void PrepareBlock(const std::uint8_t* samples, std::size_t stride, const float* multipliers,
                  CodedBlock& out);
void PrepareBlockPortable(const std::uint8_t* samples, std::size_t stride, const float* multipliers,
                          CodedBlock& out);
void PrepareBlockAvx2(const std::uint8_t* samples, std::size_t stride, const float* multipliers,
                      CodedBlock& out);

bool HasAvx2();

} // namespace rastrel::jpeg
