#include "registration/FFTDyn.h"

#include "TestImages.h"

#include <gtest/gtest.h>

#include <cstring>

namespace merkanix::registration {
namespace {

using Steps = std::vector<std::uint8_t>;

Steps StepsOf(const std::vector<std::pair<char, std::uint8_t>>& history, char side) {
    Steps steps;
    for (const auto& [s, value] : history)
        if (s == side) steps.push_back(value);
    return steps;
}

TEST(Workers, ProgressStepsOfEachMode) {
    const int N = 64;
    TFFTTransformDyn engine;
    engine.SetSize(N);
    engine.AllocateBuffers();
    const std::vector<float> a = testing::SmoothNoise(N, 1, 8);
    const std::vector<float> b = testing::CyclicShift(a, N, 3, 4);
    std::vector<float> surface(N * N);
    SurfaceSummary summary;

    RotationScaleResult r;
    engine.RegisterRotationScale(a, b, surface, summary, 0, 0, r);
    auto history = engine.ProgressHistory();
    EXPECT_EQ(StepsOf(history, 'A'), (Steps{25, 50, 75, 100}));
    EXPECT_EQ(StepsOf(history, 'B'), (Steps{25, 50, 75, 100}));

    TranslationResult t;
    const std::vector<float> c = testing::CyclicShift(a, N, -1, 2);
    engine.RegisterTranslation(c, b, surface, summary, 0, 0, 0, t);
    history = engine.ProgressHistory();
    EXPECT_EQ(StepsOf(history, 'A'), (Steps{100}));
    EXPECT_EQ(StepsOf(history, 'B'), (Steps{100}));
    // Reused spectra still report completion.
    engine.RegisterTranslation(c, b, surface, summary, 0, 0, 0, t);
    EXPECT_EQ(engine.ProgressHistory().size(), 2u);
}

TEST(Workers, EachModeComputesItsSpectrumOnItsOwnSide) {
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

    // The same steps on this thread give the same numbers.
    AlignedBuffer<Complex> spectrum(count), logPolarSpectrum(count);
    std::vector<float> logMagnitude(count), logPolar(count);
    ForwardFFT(a.data(), spectrum.data(), N);
    ShiftedLogMagnitude(spectrum.data(), logMagnitude.data(), N);
    LogPolarResample(logMagnitude.data(), logPolar.data(), N);
    ForwardFFT(logPolar.data(), logPolarSpectrum.data(), N);
    EXPECT_EQ(std::memcmp(work.SpectrumA.data(), spectrum.data(), count * sizeof(Complex)), 0);
    EXPECT_EQ(std::memcmp(work.LogPolarSpectrumA.data(), logPolarSpectrum.data(),
                          count * sizeof(Complex)),
              0);
    ForwardFFT(b.data(), spectrum.data(), N);
    EXPECT_EQ(std::memcmp(work.SpectrumB.data(), spectrum.data(), count * sizeof(Complex)), 0);

    EXPECT_THROW(T1(5, N, work), std::invalid_argument);
    EXPECT_THROW(T1(3, N + 1, work), std::invalid_argument);
}

} // namespace
} // namespace merkanix::registration
