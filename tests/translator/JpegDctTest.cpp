// The codec's transforms against the exact ones, portable and AVX2 builds:
// the inverse by the IEEE 1180 procedure (random blocks in three ranges,
// both signs), the forward by its coefficients before rounding.
#include "JpegDct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <random>
#include <tuple>
#include <vector>

using namespace rastrel::jpeg;

namespace {

// C(u) cos((2y + 1) u pi / 16) / 2 at [u][y].
struct Basis {
    double at[8][8];
    Basis() {
        for (int u = 0; u < 8; ++u)
            for (int y = 0; y < 8; ++y)
                at[u][y] =
                    (u == 0 ? std::sqrt(0.5) : 1.0) * std::cos((2 * y + 1) * u * M_PI / 16) / 2;
    }
};
const Basis kBasis;

void ExactForward(const double* in, double* out) {
    for (int u = 0; u < 8; ++u)
        for (int v = 0; v < 8; ++v) {
            double sum = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    sum += in[y * 8 + x] * kBasis.at[u][y] * kBasis.at[v][x];
            out[u * 8 + v] = sum;
        }
}

void ExactInverse(const double* in, double* out) {
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double sum = 0;
            for (int u = 0; u < 8; ++u)
                for (int v = 0; v < 8; ++v)
                    sum += in[u * 8 + v] * kBasis.at[u][y] * kBasis.at[v][x];
            out[y * 8 + x] = sum;
        }
}

struct Build {
    const char* name;
    void (*inverse)(float*);
    void (*forward)(float*);
};

std::vector<Build> Builds() {
    std::vector<Build> builds{{"portable", InverseDctPortable, ForwardDctPortable}};
    if (HasAvx2()) builds.push_back({"avx2", InverseDctAvx2, ForwardDctAvx2});
    return builds;
}

TEST(JpegDct, InverseMeetsIeee1180) {
    std::uint16_t ones[64];
    std::fill(ones, ones + 64, std::uint16_t{1});
    float multipliers[64];
    InverseMultipliers(ones, multipliers);
    for (const Build& build : Builds())
        for (auto [low, high] : {std::pair{256, 255}, {5, 5}, {300, 300}})
            for (int sign : {1, -1}) {
                std::mt19937 random(1180);
                std::uniform_int_distribution<int> sample(-low, high);
                const int blocks = 10000;
                double error[64]{}, squared[64]{};
                int peak = 0;
                for (int b = 0; b < blocks; ++b) {
                    double spatial[64], coefficients[64], reference[64];
                    for (double& s : spatial)
                        s = sign * sample(random);
                    ExactForward(spatial, coefficients);
                    for (double& c : coefficients)
                        c = std::clamp(std::round(c), -2048.0, 2047.0);
                    ExactInverse(coefficients, reference);
                    float ours[64];
                    for (int i = 0; i < 64; ++i)
                        ours[i] = static_cast<float>(coefficients[i]) * multipliers[i];
                    build.inverse(ours);
                    for (int i = 0; i < 64; ++i) {
                        const double want = std::clamp(std::round(reference[i]), -256.0, 255.0);
                        const double got = std::clamp(std::floor(ours[i] + 0.5), -256.0, 255.0);
                        const double e = got - want;
                        peak = std::max(peak, static_cast<int>(std::fabs(e)));
                        error[i] += e;
                        squared[i] += e * e;
                    }
                }
                double worstMse = 0, worstMean = 0, mse = 0, mean = 0;
                for (int i = 0; i < 64; ++i) {
                    worstMse = std::max(worstMse, squared[i] / blocks);
                    worstMean = std::max(worstMean, std::fabs(error[i]) / blocks);
                    mse += squared[i] / blocks / 64;
                    mean += error[i] / blocks / 64;
                }
                std::cout << build.name << " [" << -low << ", " << high << "] x " << sign
                          << ": peak " << peak << ", worst MSE " << worstMse << ", MSE " << mse
                          << ", worst mean " << worstMean << ", mean " << mean << "\n";
                EXPECT_LE(peak, 1);
                EXPECT_LE(worstMse, 0.06);
                EXPECT_LE(mse, 0.02);
                EXPECT_LE(worstMean, 0.015);
                EXPECT_LE(std::fabs(mean), 0.0015);
            }
}

TEST(JpegDct, ForwardAgreesWithTheExactTransform) {
    std::uint16_t ones[64];
    std::fill(ones, ones + 64, std::uint16_t{1});
    float multipliers[64];
    ForwardMultipliers(ones, multipliers);
    for (const Build& build : Builds()) {
        std::mt19937 random(1180);
        std::uniform_int_distribution<int> sample(-128, 127);
        double peak = 0, squares = 0;
        int roundedApart = 0;
        const int blocks = 10000;
        for (int b = 0; b < blocks; ++b) {
            double spatial[64], exact[64];
            float ours[64];
            for (int i = 0; i < 64; ++i)
                ours[i] = static_cast<float>(spatial[i] = sample(random));
            ExactForward(spatial, exact);
            build.forward(ours);
            for (int i = 0; i < 64; ++i) {
                const double got = ours[i] * multipliers[i], e = got - exact[i];
                peak = std::max(peak, std::fabs(e));
                squares += e * e;
                // Coefficients of integer samples are often halves: ties
                // either way are both right.
                const double fraction = std::fabs(exact[i] - std::floor(exact[i]) - 0.5);
                roundedApart += fraction > 1e-3 && std::lround(got) != std::lround(exact[i]);
            }
        }
        std::cout << build.name << " forward: peak " << peak << ", MSE "
                  << squares / (64.0 * blocks) << ", rounded apart " << roundedApart << " of "
                  << 64 * blocks << "\n";
        EXPECT_LT(peak, 0.01);
        EXPECT_EQ(roundedApart, 0);
    }
}

} // namespace

namespace {

// The row conversions of both builds against the per-pixel formulas: the
// reader's (its tables of the chroma sample) for every Cb, Cr pair, the
// writer's for random pixels.
TEST(JpegRows, ConversionsFollowTheFormulas) {
    std::vector<std::uint8_t> y, cb, cr;
    for (int luma : {0, 77, 255})
        for (int b = 0; b < 256; ++b)
            for (int r = 0; r < 256; ++r) {
                y.push_back(static_cast<std::uint8_t>(luma));
                cb.push_back(static_cast<std::uint8_t>(b));
                cr.push_back(static_cast<std::uint8_t>(r));
            }
    const int count = static_cast<int>(y.size());
    auto clamp = [](int v) { return static_cast<std::uint8_t>(std::clamp(v, 0, 255)); };
    std::vector<std::uint8_t> want(3 * y.size());
    for (std::size_t i = 0; i < y.size(); ++i) {
        const int db = 2 * cb[i] - 256, dr = 2 * cr[i] - 256;
        want[3 * i] = clamp(y[i] + ((db * 29032 / 2 + 8192) >> 14));
        want[3 * i + 1] = clamp(y[i] + ((db * 5638 / -2 + dr * 11700 / -2 + 8192) >> 14));
        want[3 * i + 2] = clamp(y[i] + ((dr * 22970 / 2 + 8192) >> 14));
    }
    std::mt19937 random(7);
    std::vector<std::uint8_t> pixels(3 * 1000);
    for (std::uint8_t& p : pixels)
        p = static_cast<std::uint8_t>(random());
    pixels[0] = pixels[1] = pixels[2] = 90; // grey: chroma exactly 128
    std::vector<std::uint8_t> wantY(1000), wantCb(1000), wantCr(1000);
    for (int i = 0; i < 1000; ++i) {
        const int b = pixels[3 * i], g = pixels[3 * i + 1], r = pixels[3 * i + 2];
        wantY[i] = static_cast<std::uint8_t>((4899 * r + 9617 * g + 1868 * b + 8192) >> 14);
        wantCb[i] = static_cast<std::uint8_t>((8192 * b - 5427 * g - 2765 * r + 2097152) >> 14);
        wantCr[i] = static_cast<std::uint8_t>((8192 * r - 6860 * g - 1332 * b + 2097152) >> 14);
    }
    EXPECT_EQ(std::tuple(wantY[0], wantCb[0], wantCr[0]), std::tuple(90, 128, 128));
    using ToBgr =
        void (*)(const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, int, std::uint8_t*);
    using ToYcc = void (*)(const std::uint8_t*, int, std::uint8_t*, std::uint8_t*, std::uint8_t*);
    std::vector<std::pair<ToBgr, ToYcc>> builds{{YccToBgrPortable, BgrToYccPortable}};
    if (HasAvx2()) builds.emplace_back(YccToBgrAvx2, BgrToYccAvx2);
    for (const auto& [toBgr, toYcc] : builds) {
        std::vector<std::uint8_t> got(want.size());
        toBgr(y.data(), cb.data(), cr.data(), count, got.data());
        EXPECT_EQ(got, want);
        std::vector<std::uint8_t> gotY(1000), gotCb(1000), gotCr(1000), greyOnly(1000);
        toYcc(pixels.data(), 1000, gotY.data(), gotCb.data(), gotCr.data());
        toYcc(pixels.data(), 1000, greyOnly.data(), nullptr, nullptr);
        EXPECT_EQ(std::tuple(gotY, gotCb, gotCr, greyOnly),
                  std::tuple(wantY, wantCb, wantCr, wantY));
    }
}

TEST(JpegRows, SamplesAreShiftedCutAndClampedAlikeInBothBuilds) {
    std::vector<decltype(&StoreSamplesPortable)> builds{StoreSamplesPortable};
    if (HasAvx2()) builds.push_back(StoreSamplesAvx2);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> value(-400.0f, 400.0f);
    for (int round = 0; round < 200; ++round) {
        float block[64];
        for (float& v : block)
            v = value(random);
        block[0] = -128.6f; // cut towards zero: -0.1 is 0
        block[1] = 127.49f;
        for (const auto store : builds) {
            std::uint8_t out[8 * 11]{}; // rows of 11, the last three left alone
            store(block, out, 11);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 11; ++x) {
                    const int expected =
                        x < 8 ? std::clamp(static_cast<int>(block[y * 8 + x] + 128.5f), 0, 255) : 0;
                    ASSERT_EQ(out[y * 11 + x], expected) << y << " " << x;
                }
        }
    }
}

TEST(JpegRows, BlocksArePreparedAlikeInBothBuilds) {
    if (!HasAvx2()) GTEST_SKIP() << "no AVX2 build on this processor";
    std::mt19937 random(11);
    // Quantisation steps of 1 (every size category, past the cap of 10),
    // of an ordinary table and of 255.
    for (const int step : {1, 16, 255}) {
        std::uint16_t quant[64];
        for (int i = 0; i < 64; ++i)
            quant[i] = static_cast<std::uint16_t>(step == 16 ? 4 + i : step);
        float multipliers[64];
        ForwardMultipliers(quant, multipliers);
        for (int round = 0; round < 300; ++round) {
            std::uint8_t samples[8 * 9];
            const int spread = round % 3 == 0 ? 256 : round % 3 == 1 ? 8 : 1;
            const int base = static_cast<int>(random() % (257 - spread));
            for (std::uint8_t& s : samples)
                s = static_cast<std::uint8_t>(base + static_cast<int>(random() % spread));
            CodedBlock portable, avx2;
            PrepareBlockPortable(samples, 9, multipliers, portable);
            PrepareBlockAvx2(samples, 9, multipliers, avx2);
            ASSERT_EQ(portable.nonZero, avx2.nonZero) << step << " " << round;
            for (int k = 0; k < 64; ++k) {
                ASSERT_EQ(std::tuple(portable.value[k], portable.size[k], portable.bits[k]),
                          std::tuple(avx2.value[k], avx2.size[k], avx2.bits[k]))
                    << step << " " << round << " " << k;
                ASSERT_EQ((portable.nonZero >> k & 1) != 0, portable.value[k] != 0);
            }
        }
    }
}

} // namespace
