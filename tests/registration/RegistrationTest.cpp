#include "registration/FFTDyn.h"

#include "common/Errors.h"
#include "registration/EngineInternals.h"
#include "registration/HistoUnit.h"
#include "support/TestImages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace merkanix::registration {
namespace {

using testing::CyclicShift;
using testing::FourierShift;
using testing::SmoothNoise;

struct Engine {
    TFFTTransformDyn e;
    std::vector<float> surface;
    SurfaceSummary summary;

    explicit Engine(int size) {
        e.SetSize(size);
        e.AllocateBuffers();
        surface.assign(static_cast<std::size_t>(size) * size, 0.0f);
    }
    TranslationResult Translate(const std::vector<float>& a, const std::vector<float>& b,
                                int lowPass = 0, ShiftSigns signs = {}) {
        TranslationResult r;
        e.RegisterTranslation(a, b, surface, summary, lowPass, signs, r);
        return r;
    }
    SubPixelTranslationResult SubPixel(const std::vector<float>& a, const std::vector<float>& b,
                                       int lowPass = 0, int passes = 50, float epsilon = 1e-6f,
                                       ShiftSigns signs = {}) {
        SubPixelTranslationResult r;
        e.RegisterTranslationSubPixel(a, b, surface, summary, lowPass, signs, passes, 9, epsilon,
                                      r);
        return r;
    }
    RotationScaleResult RotationScale(const std::vector<float>& a, const std::vector<float>& b,
                                      int lowPass = 0, const RegistrationProgress& progress = {},
                                      ShiftSign angleSign = 0) {
        RotationScaleResult r;
        e.RegisterRotationScale(a, b, surface, summary, lowPass, angleSign, r, progress);
        return r;
    }
};

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(SharedOperations, CentredIndicesWrapsBilinearSamplesAndTheLogPolarBase) {
    EXPECT_EQ((std::array{CenteredIndex(1, 8), CenteredIndex(4, 8), CenteredIndex(5, 8),
                          CenteredIndex(1, 7)}),
              (std::array{5, 8, 1, 4})); // odd sizes: H = 3
    // b = 512^(1/1024): one column of the log-polar map is a factor of about 1.00611.
    EXPECT_NEAR(LogPolarBase(1024), 1.00611, 5e-6);

    for (const auto& [t, wrapped] :
         {std::pair{1.0f, 1.0f}, {0.0f, 16.0f}, {17.5f, 1.5f}, {-0.25f, 15.75f}})
        EXPECT_EQ(WrapCoordinate(t, 16), wrapped) << t;
    // Just below a whole period the sum t + N rounds to N + 1, which is 1.
    const float w = WrapCoordinate(std::nextafter(1.0f, 0.0f), 1024);
    EXPECT_TRUE(w >= 1.0f && w < 1025.0f) << w;
    EXPECT_THROW(WrapCoordinate(std::nanf(""), 16), FloatingPointError);

    std::vector<float> M(16);
    for (int k = 0; k < 16; ++k)
        M[k] = static_cast<float>(k);
    const std::tuple<float, float, float> samples[] = {
        {1, 1, 0},       {2, 3, 6},    {1.5f, 1, 2},
        {1, 1.5f, 0.5f}, {4.5f, 1, 6}, {1, 4.5f, 1.5f}, // the last row and column wrap to the first
        {5, 1, 0}};                                     // N + 1 is row 1 again
    for (const auto& [x, y, value] : samples)
        EXPECT_EQ(BilinearSample(x, y, M.data(), 4), value) << x << ", " << y;
}

TEST(SharedOperations, SurfaceStatisticsAndLogMagnitudes) {
    std::vector<float> zero(64 * 64, 0.0f);
    const SurfaceStatisticsResult s = SurfaceStatistics(zero.data(), 64);
    EXPECT_EQ(s.peakRow + s.peakColumn, 2);
    EXPECT_EQ(s.deviation, 1.0); // 0 is replaced by 1, so the quality is 0
    // A value so large that the one-pass variance rounds below zero.
    std::vector<float> flat(64 * 64, 3.3e7f);
    EXPECT_EQ(SurfaceStatistics(flat.data(), 64).deviation, 1.0);
    // Equal maxima: the first in row-major order.
    zero[5 * 64 + 7] = 2;
    zero[9 * 64 + 1] = 2;
    const SurfaceStatisticsResult p = SurfaceStatistics(zero.data(), 64);
    EXPECT_EQ((std::array{p.peakRow, p.peakColumn}), (std::array{6, 8}));

    std::vector<Complex> S(16, Complex(0, 0));
    S[0] = Complex(3e-8f, 4e-8f);    // |S| = 5e-8 at the zero frequency: kept, not its logarithm
    S[1] = Complex(0, 2.718281828f); // |S| = e
    std::vector<float> L(16);
    ShiftedLogMagnitude(S.data(), L.data(), 4);
    // The zero frequency lands at (H + 1, H + 1) = (3, 3), its right neighbour at (3, 4).
    EXPECT_FLOAT_EQ(L[2 * 4 + 2], 5e-8f);
    EXPECT_NEAR(L[2 * 4 + 3], 1.0f, 1e-6);
    EXPECT_EQ(L[0], 0.0f);

    for (const int N : {64, 100, 256}) {
        const std::vector<float> image = SmoothNoise(N, 3, 20);
        std::vector<float> fast(image.size()), slow(image.size());
        LogPolarResample(image.data(), fast.data(), N);
        LogPolarResampleScalar(image.data(), slow.data(), N);
        EXPECT_TRUE(SameBits(fast, slow)) << "vector and scalar maps differ at N = " << N;
    }
}

TEST(Translation, IntegerShiftsOfBothSignsAndTheirKnownSigns) {
    const int N = 128, H = N / 2;
    Engine engine(N);
    const std::vector<float> a = SmoothNoise(N, 2, 15);
    const TranslationResult same = engine.Translate(a, a);
    EXPECT_EQ(same.rowShift + same.columnShift, 0);
    EXPECT_GT(same.quality, 100.0f); // a perfect match is one spike
    EXPECT_TRUE(engine.e.TranslationDone() && !engine.e.RotationScaleDone());
    // A shift of exactly H is reported as +H; one more is H + 1 - N.
    const std::pair<int, int> shifts[] = {{3, -5}, {-17, 29}, {H - 1, -(H - 1)}, {H, H + 1 - N}};
    for (const auto& [dr, dc] : shifts) {
        const TranslationResult t = engine.Translate(a, CyclicShift(a, N, dr, dc), 1);
        EXPECT_EQ((std::array{t.rowShift, t.columnShift}), (std::array{dr, dc}));
    }
    // A known sign picks the representative, each on its own axis.
    const TranslationResult t = engine.Translate(a, CyclicShift(a, N, 3, -5), 0, {-1, 1});
    EXPECT_EQ((std::array{t.rowShift, t.columnShift}), (std::array{3 - N, N - 5}));
    const SubPixelTranslationResult s =
        engine.SubPixel(a, FourierShift(a, N, 2.2, -3.3), 32, 50, 1e-6f, {-1, 1});
    EXPECT_NEAR(s.rowShift, 2.2 - N, 0.01);
    EXPECT_NEAR(s.columnShift, N - 3.3, 0.01);
}

TEST(Translation, AnInvalidSignLeavesItsAxisAloneAndMarksTheQuality) {
    // The results start at 0: an axis left alone stays there, its shift unread.
    Engine engine(64);
    const std::vector<float> a = SmoothNoise(64, 4, 8);
    const TranslationResult t = engine.Translate(a, CyclicShift(a, 64, 2, 5), 0, {2, 0});
    EXPECT_EQ((std::array{t.rowShift, t.columnShift}), (std::array{0, 5}));
    EXPECT_EQ(t.quality, -1.0f);
    const SubPixelTranslationResult s =
        engine.SubPixel(a, CyclicShift(a, 64, 0, 3), 0, 5, 1e-6f, {0, -2});
    EXPECT_EQ((std::array{s.columnShift, s.quality}), (std::array{0.0f, -1.0f}));
    EXPECT_NEAR(s.rowShift, 0.0f, 0.01);
    const RotationScaleResult r = engine.RotationScale(a, a, 0, {}, 5);
    EXPECT_EQ((std::array{r.quality, r.magnification}), (std::array{-1.0f, 1.0f}));
}

TEST(Translation, BlankImagesAndTheLowPassStrengths) {
    const int N = 64;
    Engine engine(N);
    const std::vector<float> zero(N * N, 0.0f);
    const TranslationResult blank = engine.Translate(zero, zero);
    EXPECT_EQ(blank.quality, 0.0f);
    EXPECT_EQ(engine.summary.deviation, 1.0f);
    EXPECT_EQ(engine.summary.maximum, 0.0f);

    // Strength 0 skips the filter; 1 acts, mildly: exp(-(u^2 + v^2)) >= exp(-0.5).
    const std::vector<float> a = SmoothNoise(N, 5, 10);
    const std::vector<float> b = CyclicShift(a, N, 7, -3);
    engine.Translate(a, b, 0);
    const std::vector<float> unfiltered = engine.surface;
    const TranslationResult mild = engine.Translate(a, b, 1);
    EXPECT_EQ((std::array{mild.rowShift, mild.columnShift}), (std::array{7, -3}));
    double largest = 0, change = 0;
    for (std::size_t k = 0; k < unfiltered.size(); ++k) {
        largest = std::max(largest, std::fabs(static_cast<double>(unfiltered[k])));
        change =
            std::max(change, std::fabs(static_cast<double>(unfiltered[k] - engine.surface[k])));
    }
    EXPECT_GT(change, 0.0);
    EXPECT_LT(change, 0.5 * largest);
}

TEST(SubPixel, BandLimitedShiftsAreFoundToThousandthsOfAPixelWithTheFilter) {
    const int N = 128;
    Engine engine(N);
    const std::vector<float> a = SmoothNoise(N, 6, 10);
    const std::pair<double, double> shifts[] = {
        {0.25, -0.4}, {-3.3, 10.6}, {12.5, -7.75}, {-0.1, 0.9}, {-(N / 2.0 - 2.3), 30.2}};
    // Measured: 0.0008 px at worst with the default strength 32, whose
    // Gaussian peak the 9 x 9 centroid captures; 0.035 px without a filter,
    // where the centroid of the sharp peak leans towards the nearer pixel.
    for (const auto& [lowPass, bound] : {std::pair{32, 0.002}, std::pair{0, 0.06}}) {
        double worst = 0;
        for (const auto& [dr, dc] : shifts) {
            const SubPixelTranslationResult s =
                engine.SubPixel(a, FourierShift(a, N, dr, dc), lowPass);
            worst = std::max({worst, std::fabs(s.rowShift - dr), std::fabs(s.columnShift - dc)});
            EXPECT_TRUE(s.iterations >= 1 && s.iterations <= 50) << s.iterations;
        }
        std::printf("strength %d: worst sub-pixel error %.4f px\n", lowPass, worst);
        EXPECT_LT(worst, bound) << "strength " << lowPass;
    }
}

TEST(SubPixel, TheBorderWrapsAndPassLimitsAndThresholdsEndTheRefinement) {
    const int N = 64;
    Engine engine(N);
    const std::vector<float> a = SmoothNoise(N, 7, 12);
    // -0.3 puts the peak between column N and column 1.
    const SubPixelTranslationResult s = engine.SubPixel(a, FourierShift(a, N, 0.2, -0.3), 32);
    EXPECT_NEAR(s.columnShift, -0.3, 0.06);
    EXPECT_NEAR(s.rowShift, 0.2, 0.06);
    // The centroid works in unwrapped coordinates: just left of column 1.
    EXPECT_TRUE(engine.e.RefinedColumn() < 1.0 && engine.e.RefinedColumn() > 0.5);

    const std::vector<float> b = FourierShift(SmoothNoise(N, 8, 6), N, 1.4, 2.6);
    const std::vector<float> c = SmoothNoise(N, 8, 6);
    EXPECT_EQ(engine.SubPixel(c, b, 0, 3).iterations, 3);
    // A limit below 1 cannot be counted up to: one pass, not an endless loop.
    EXPECT_EQ(engine.SubPixel(c, b, 0, 0).iterations, 1);
    EXPECT_LT(engine.SubPixel(c, b, 0, 1000, 1e-2f).iterations, 1000);
}

TEST(RotationScale, TurnsAndMagnificationsWithinAStepOfTheMap) {
    const int N = 256;
    Engine engine(N);
    const double b = LogPolarBase(N);
    const std::vector<float> a = testing::Blobs(N, 10, 0, 1);
    const RotationScaleResult same = engine.RotationScale(a, a);
    EXPECT_EQ((std::array{same.angle, same.magnification}), (std::array{0.0f, 1.0f}));
    EXPECT_TRUE(engine.e.RotationScaleDone() && !engine.e.TranslationDone());
    // Image 2 shows the pattern turned and magnified by `scale`: image 1
    // sampled at m times its coordinates is image 2, so m = scale.
    const std::pair<double, double> cases[] = {{0, 1.1}, {7, 1}, {-12, 0.92}, {25, 1.05}};
    for (const auto& [degrees, scale] : cases) {
        const RotationScaleResult r =
            engine.RotationScale(a, testing::Blobs(N, 10, degrees, scale), 8);
        EXPECT_NEAR(r.angle, degrees, 1.01 * 180.0 / N) << degrees << " " << scale;
        EXPECT_NEAR(std::log(r.magnification) / std::log(b), std::log(scale) / std::log(b), 1.01)
            << degrees << " " << scale;
        EXPECT_GT(r.quality, 5.0f);
    }
}

TEST(RotationScale, TheGaugeClimbsToTwelveTwelfthsAndReturnsToZero) {
    Engine engine(64);
    const std::vector<float> a = SmoothNoise(64, 11, 6);
    std::vector<int> positions;
    int events = 0;
    RegistrationProgress progress{120, [&](int p) { positions.push_back(p); }, [&] { ++events; }};
    engine.RotationScale(a, a, 0, progress);
    ASSERT_GE(positions.size(), 4u);
    EXPECT_EQ(std::vector<int>(positions.end() - 4, positions.end()),
              (std::vector<int>{100, 110, 120, 0}));
    for (std::size_t i = 0; i + 4 < positions.size(); ++i)
        EXPECT_TRUE(positions[i] <= 90 && (i == 0 || positions[i] >= positions[i - 1]));
    EXPECT_GE(events, 4); // after every gauge move at least
}

TEST(Caching, ReusedSpectraAndSurfacesChangeNoResult) {
    const int N = 128;
    const std::vector<float> a = testing::Blobs(N, 12, 3, 1.02);
    const std::vector<float> b = testing::Blobs(N, 12, 0, 1);
    const std::vector<float> c = CyclicShift(b, N, 5, -9);
    std::vector<float> changed = a;
    changed[77] += 1.0f;

    // One engine that keeps its spectra (rotation-scale, then the second
    // image on the other side, then the same pair again, another filter, a
    // changed image) against a fresh engine for every registration.
    Engine cached(N);
    cached.RotationScale(a, b, 4);
    const auto compare = [&](const std::vector<float>& x, const std::vector<float>& y, int lowPass,
                             bool subPixel) {
        Engine fresh(N);
        const auto result = [&](Engine& e) {
            return subPixel ? e.SubPixel(x, y, lowPass).rowShift
                            : e.Translate(x, y, lowPass).quality;
        };
        EXPECT_EQ(result(cached), result(fresh));
        EXPECT_TRUE(SameBits(cached.surface, fresh.surface)) << lowPass << " " << subPixel;
    };
    compare(c, a, 4, false);
    compare(c, a, 4, true);
    compare(c, a, 0, false);
    compare(c, changed, 4, false);
}

TEST(Engine, MisuseIsRefusedInsteadOfOverrunningBuffers) {
    TFFTTransformDyn engine;
    engine.SetSize(32);
    std::vector<float> image(32 * 32, 1.0f), surface(32 * 32), small(16 * 16), big(64 * 64);
    SurfaceSummary summary;
    TranslationResult t;
    EXPECT_THROW(engine.RegisterTranslation(image, image, surface, summary, 0, {}, t),
                 std::logic_error);
    engine.AllocateBuffers();
    EXPECT_THROW(engine.RegisterTranslation(small, image, surface, summary, 0, {}, t),
                 std::invalid_argument);
    engine.SetSize(64); // buffers of the old size go
    EXPECT_THROW(engine.RegisterTranslation(big, big, big, summary, 0, {}, t), std::logic_error);
    engine.SetSize(65536 + 32); // taken as 16 bits: 32
    EXPECT_EQ(engine.Size(), 32);
    engine.AllocateBuffers();
    engine.RegisterTranslation(image, image, surface, summary, 0, {}, t);
    EXPECT_EQ(t.rowShift, 0);
    engine.FreeBuffers();
    EXPECT_THROW(engine.RealBuffer(3), std::out_of_range);
}

using Steps = std::vector<std::uint8_t>;

Steps StepsOf(TWorkBuffers& work, char side) {
    Steps steps;
    for (const auto& [s, value] : work.ProgressHistory())
        if (s == side) steps.push_back(value);
    return steps;
}

TEST(Workers, EachModeRunsOnItsOwnSideReportsItsStepsAndReusesASpectrum) {
    const int N = 64;
    const std::size_t count = N * N;
    TWorkBuffers work;
    work.Allocate(N);
    const std::vector<float> a = SmoothNoise(N, 2, 8);
    const std::vector<float> b = SmoothNoise(N, 3, 8);
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

Picture Grey(int w, int h, std::uint8_t level) {
    Picture p(w, h);
    std::fill(p.bgr.begin(), p.bgr.end(), level);
    return p;
}

bool AllGrey(const Picture& p, std::uint8_t level) {
    return std::all_of(p.bgr.begin(), p.bgr.end(), [&](std::uint8_t b) { return b == level; });
}

TEST(Histogram, CountsTheBlueByteOnly) {
    Picture p = Grey(4, 3, 10);
    p.Pixel(1, 1)[0] = 200; // green and red are not read
    THistogram h{};
    h[7] = 99;
    Histogram(p, h);
    EXPECT_EQ((std::array{h[10], h[200], h[7]}), (std::array{11u, 1u, 0u}));
    Histogram(Picture(), h); // an empty picture leaves the counts alone
    EXPECT_EQ(h[10], 11u);
}

TEST(IterativeThreshold, SettlesBetweenTheClassMeansAndBinarises) {
    Picture target(8, 8);
    // All black settles at the middle; from 255 every level falls into the
    // lower class at once, so both means are the picture's level.
    EXPECT_EQ(IterativeThreshold(Grey(8, 8, 0), target, 1e-6, 128), 127.5);
    EXPECT_TRUE(AllGrey(target, 0));
    EXPECT_EQ(IterativeThreshold(Grey(8, 8, 200), target, 1e-6, 255), (200 + 255) / 2.0);
    EXPECT_TRUE(AllGrey(target, 0));

    Picture p = Grey(10, 10, 40);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 3; ++x)
            p.SetGrey(x, y, 200);
    Picture binary(10, 10);
    EXPECT_EQ(IterativeThreshold(p, binary, 1e-6, 128), 120.0);
    EXPECT_EQ(binary.Blue(0, 0), 255);
    EXPECT_EQ(binary.Pixel(5, 5)[2], 0);
    // A tolerance of zero or below still ends.
    EXPECT_EQ(IterativeThreshold(p, binary, 0.0, 10), IterativeThreshold(p, binary, 1e-9, 10));
    EXPECT_EQ(IterativeThreshold(p, binary, -1.0, 10), 120.0);
    EXPECT_EQ(IterativeThreshold(p, binary, std::nan(""), std::nan("")), 120.0);

    // A level equal to the threshold counts as lower and turns black.
    Picture tie = Grey(2, 1, 127);
    Picture out(2, 1);
    EXPECT_EQ(IterativeThreshold(tie, out, 1e-6, 127), 127.0 / 2 + 255.0 / 2);
    EXPECT_EQ(out.Blue(0, 0), 0);
}

TEST(IterativeThreshold, NothingHappensForAnEmptySourceOrAnotherSize) {
    Picture other = Grey(5, 4, 9);
    EXPECT_EQ(IterativeThreshold(Grey(4, 4, 100), other, 1e-6, 128), 0.0);
    EXPECT_TRUE(AllGrey(other, 9));
    Picture empty;
    EXPECT_EQ(IterativeThreshold(Picture(), empty, 1e-6, 128), 0.0);
}

} // namespace
} // namespace merkanix::registration
