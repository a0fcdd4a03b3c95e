#include "registration/SpectrumWork.h"

#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <cstring>

namespace merkanix::registration {
namespace {

using Steps = std::vector<std::uint8_t>;

Steps StepsOf(TWorkBuffers& work, char side) {
    Steps steps;
    for (const auto& [s, value] : work.ProgressHistory())
        if (s == side) steps.push_back(value);
    return steps;
}

template <typename T> bool SameBits(const T* a, const T* b, std::size_t count) {
    return std::memcmp(a, b, count * sizeof(T)) == 0;
}

TEST(Workers, EachModeComputesItsSpectrumOnItsOwnSideAndReportsItsSteps) {
    const int N = 64;
    const std::size_t count = N * N;
    TWorkBuffers work;
    work.Allocate(N);
    const std::vector<float> a = testing::SmoothNoise(N, 2, 8);
    const std::vector<float> b = testing::SmoothNoise(N, 3, 8);
    std::memcpy(work.ImageA.data(), a.data(), count * sizeof(float));
    std::memcpy(work.ImageB.data(), b.data(), count * sizeof(float));
    {
        T1 first(1, N, work);
        T1 second(4, N, work); // the two sides run at once
    }
    EXPECT_EQ(work.ProgressA.load(std::memory_order_acquire), 100);
    EXPECT_EQ(work.ProgressB.load(std::memory_order_acquire), 100);
    EXPECT_EQ(StepsOf(work, 'A'), (Steps{25, 50, 75, 100}));
    EXPECT_EQ(StepsOf(work, 'B'), (Steps{100}));

    // The same steps on this thread give the same numbers.
    AlignedBuffer<Complex> spectrum(count), logPolarSpectrum(count);
    std::vector<float> logMagnitude(count), logPolar(count);
    ForwardFFT(a.data(), spectrum.data(), N);
    ShiftedLogMagnitude(spectrum.data(), logMagnitude.data(), N);
    LogPolarResample(logMagnitude.data(), logPolar.data(), N);
    ForwardFFT(logPolar.data(), logPolarSpectrum.data(), N);
    EXPECT_TRUE(SameBits(work.SpectrumA.data(), spectrum.data(), count));
    EXPECT_TRUE(SameBits(work.LogPolarSpectrumA.data(), logPolarSpectrum.data(), count));
    ForwardFFT(b.data(), spectrum.data(), N);
    EXPECT_TRUE(SameBits(work.SpectrumB.data(), spectrum.data(), count));

    // A reused spectrum is not computed again, and its completion is still reported.
    work.ClearProgressHistory();
    work.reuseB = true;
    std::fill(work.SpectrumB.data(), work.SpectrumB.data() + count, Complex(0, 0));
    { T1 reused(2, N, work); }
    EXPECT_EQ(StepsOf(work, 'B'), (Steps{25, 50, 75, 100}));
    EXPECT_EQ(work.SpectrumB[5], Complex(0, 0));

    EXPECT_THROW(T1(5, N, work), std::invalid_argument);
    EXPECT_THROW(T1(3, N + 1, work), std::invalid_argument);
}

} // namespace
} // namespace merkanix::registration
