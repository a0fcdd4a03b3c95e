// The codec's transforms against the exact ones, portable and AVX2 builds:
// the inverse by the IEEE 1180 procedure (random blocks in three ranges,
// both signs), the forward by its coefficients before rounding.
#include "JpegDct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <random>

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
