#include "registration/FFTDyn.h"

#include "TestImages.h"
#include "app/Errors.h"

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
    int N;

    explicit Engine(int size) : N(size) {
        e.SetSize(size);
        e.AllocateBuffers();
        surface.assign(static_cast<std::size_t>(size) * size, 0.0f);
    }
    TranslationResult Translate(const std::vector<float>& a, const std::vector<float>& b,
                                int lowPass = 0, ShiftSign rowSign = 0, ShiftSign columnSign = 0) {
        TranslationResult r;
        e.RegisterTranslation(a, b, surface, summary, lowPass, rowSign, columnSign, r);
        return r;
    }
    SubPixelTranslationResult SubPixel(const std::vector<float>& a, const std::vector<float>& b,
                                       int lowPass = 0, int passes = 50, int window = 9,
                                       float epsilon = 1e-6f) {
        SubPixelTranslationResult r;
        e.RegisterTranslationSubPixel(a, b, surface, summary, lowPass, 0, 0, passes, window,
                                      epsilon, r);
        return r;
    }
    RotationScaleResult RotationScale(const std::vector<float>& a, const std::vector<float>& b,
                                      int lowPass = 0, const RegistrationProgress& progress = {}) {
        RotationScaleResult r;
        e.RegisterRotationScale(a, b, surface, summary, lowPass, 0, r, progress);
        return r;
    }
};

TEST(RegistrationHelpers, CentredIndicesWrapCoordinatesAndTheLogPolarBase) {
    EXPECT_EQ(CenteredIndex(1, 8), 5);
    EXPECT_EQ(CenteredIndex(4, 8), 8);
    EXPECT_EQ(CenteredIndex(5, 8), 1);
    EXPECT_EQ(CenteredIndex(1, 7), 4); // odd sizes: H = 3

    // b = 512^(1/1024): one column of the log-polar map is a factor of about 1.00611.
    const float b = LogPolarBase(1024);
    EXPECT_NEAR(b, 1.00611, 5e-6);
    EXPECT_NEAR(std::pow(static_cast<double>(b), 1024), 512, 0.05);

    EXPECT_EQ(WrapCoordinate(1.0f, 16), 1.0f);
    EXPECT_EQ(WrapCoordinate(0.0f, 16), 16.0f);
    EXPECT_EQ(WrapCoordinate(17.5f, 16), 1.5f);
    EXPECT_EQ(WrapCoordinate(-0.25f, 16), 15.75f);
    // Just below a whole period the sum t + N rounds to N + 1, which is 1.
    const float t = std::nextafter(1.0f, 0.0f);
    const float w = WrapCoordinate(t, 1024);
    EXPECT_GE(w, 1.0f);
    EXPECT_LT(w, 1025.0f);
    EXPECT_THROW(WrapCoordinate(std::nanf(""), 16), FloatingPointError);
}

TEST(RegistrationHelpers, BilinearSampleWrapsTheLastRowAndColumn) {
    const int N = 4;
    std::vector<float> M(16);
    for (int k = 0; k < 16; ++k)
        M[k] = static_cast<float>(k);
    EXPECT_EQ(BilinearSample(1, 1, M.data(), N), 0.0f);
    EXPECT_EQ(BilinearSample(2, 3, M.data(), N), 6.0f);
    EXPECT_EQ(BilinearSample(1.5f, 1, M.data(), N), 2.0f); // between rows 1 and 2
    EXPECT_EQ(BilinearSample(1, 1.5f, M.data(), N), 0.5f); // between columns 1 and 2
    EXPECT_EQ(BilinearSample(4.5f, 1, M.data(), N), 6.0f); // row 4 with row 1
    EXPECT_EQ(BilinearSample(1, 4.5f, M.data(), N), 1.5f); // column 4 with column 1
    EXPECT_EQ(BilinearSample(5.0f, 1, M.data(), N), 0.0f); // N + 1 is row 1 again
}

TEST(RegistrationHelpers, StatisticsOfAFlatSurface) {
    std::vector<float> zero(64 * 64, 0.0f);
    const SurfaceStatisticsResult s = SurfaceStatistics(zero.data(), 64);
    EXPECT_EQ(s.peakRow, 1);
    EXPECT_EQ(s.peakColumn, 1);
    EXPECT_EQ(s.mean, 0.0);
    EXPECT_EQ(s.deviation, 1.0); // 0 is replaced by 1, so the quality is 0

    // A value so large that the one-pass variance rounds below zero.
    std::vector<float> flat(64 * 64, 3.3e7f);
    const SurfaceStatisticsResult f = SurfaceStatistics(flat.data(), 64);
    EXPECT_EQ(f.deviation, 1.0);
    // Equal maxima: the first in row-major order.
    zero[5 * 64 + 7] = 2;
    zero[9 * 64 + 1] = 2;
    const SurfaceStatisticsResult p = SurfaceStatistics(zero.data(), 64);
    EXPECT_EQ(p.peakRow, 6);
    EXPECT_EQ(p.peakColumn, 8);
    EXPECT_EQ(p.maximum, 2.0);
}

TEST(RegistrationHelpers, TinyMagnitudesKeepTheirValueInsteadOfALogarithm) {
    const int N = 4;
    std::vector<Complex> S(16, Complex(0, 0));
    S[0] = Complex(3e-8f, 4e-8f);    // |S| = 5e-8 at the zero frequency
    S[1] = Complex(0, 2.718281828f); // |S| = e
    std::vector<float> L(16);
    ShiftedLogMagnitude(S.data(), L.data(), N);
    // The zero frequency lands at (H + 1, H + 1) = (3, 3), its right neighbour at (3, 4).
    EXPECT_FLOAT_EQ(L[2 * N + 2], 5e-8f);
    EXPECT_NEAR(L[2 * N + 3], 1.0f, 1e-6);
    EXPECT_EQ(L[0], 0.0f);
}

TEST(RegistrationHelpers, VectorAndScalarLogPolarMapsAgreeToTheBit) {
    for (const int N : {64, 100, 256}) {
        const std::vector<float> L = SmoothNoise(N, 3, 20);
        std::vector<float> fast(L.size()), slow(L.size());
        LogPolarResample(L.data(), fast.data(), N);
        LogPolarResampleScalar(L.data(), slow.data(), N);
        EXPECT_EQ(std::memcmp(fast.data(), slow.data(), fast.size() * sizeof(float)), 0) << N;
    }
}

TEST(Translation, IdenticalImagesGiveNoShift) {
    Engine engine(128);
    const std::vector<float> a = SmoothNoise(128, 1, 12);
    const TranslationResult t = engine.Translate(a, a);
    EXPECT_EQ(t.rowShift, 0);
    EXPECT_EQ(t.columnShift, 0);
    EXPECT_EQ(engine.e.PeakRow(), 1);
    EXPECT_EQ(engine.e.PeakColumn(), 1);
    EXPECT_GT(t.quality, 100.0f); // a perfect match is one spike
    EXPECT_TRUE(engine.e.TranslationDone());
    EXPECT_FALSE(engine.e.RotationScaleDone());
}

TEST(Translation, IntegerShiftsOfBothSignsUpToHalfTheSize) {
    const int N = 128, H = N / 2;
    Engine engine(N);
    const std::vector<float> a = SmoothNoise(N, 2, 15);
    const std::pair<int, int> shifts[] = {{3, -5}, {-17, 29}, {H - 1, -(H - 1)}, {0, 1}};
    for (const auto& [dr, dc] : shifts) {
        const TranslationResult t = engine.Translate(a, CyclicShift(a, N, dr, dc), 1);
        EXPECT_EQ(t.rowShift, dr);
        EXPECT_EQ(t.columnShift, dc);
    }
    // A shift of exactly H is reported as +H; one more is H + 1 - N.
    TranslationResult t = engine.Translate(a, CyclicShift(a, N, H, H + 1));
    EXPECT_EQ(t.rowShift, H);
    EXPECT_EQ(t.columnShift, H + 1 - N);
    // A known sign picks the representative.
    t = engine.Translate(a, CyclicShift(a, N, 3, -5), 0, -1, 1);
    EXPECT_EQ(t.rowShift, 3 - N);
    EXPECT_EQ(t.columnShift, N - 5);
}

TEST(Translation, AnInvalidShiftSignLeavesItsAxisAlone) {
    Engine engine(64);
    const std::vector<float> a = SmoothNoise(64, 4, 8);
    TranslationResult t;
    t.rowShift = 777;
    t.columnShift = 777;
    engine.e.RegisterTranslation(a, CyclicShift(a, 64, 2, 5), engine.surface, engine.summary, 0, 2,
                                 0, t);
    EXPECT_EQ(t.quality, -1.0f);
    EXPECT_EQ(t.rowShift, 777);
    EXPECT_EQ(t.columnShift, 5);

    SubPixelTranslationResult s;
    s.columnShift = 777;
    engine.e.RegisterTranslationSubPixel(a, a, engine.surface, engine.summary, 0, -2, 0, 5, 3,
                                         1e-6f, s);
    EXPECT_EQ(s.quality, -1.0f);
    EXPECT_EQ(s.columnShift, 777);
    EXPECT_NEAR(s.rowShift, 0.0f, 1e-5);

    RotationScaleResult r;
    r.angle = 777;
    engine.e.RegisterRotationScale(a, a, engine.surface, engine.summary, 0, 5, r);
    EXPECT_EQ(r.quality, -1.0f);
    EXPECT_EQ(r.angle, 777);
    EXPECT_EQ(r.magnification, 1.0f);
}

TEST(Translation, BlankImagesGiveAFlatSurfaceOfQualityZero) {
    Engine engine(64);
    const std::vector<float> zero(64 * 64, 0.0f);
    const TranslationResult t = engine.Translate(zero, zero);
    EXPECT_EQ(t.quality, 0.0f);
    EXPECT_EQ(t.rowShift, 0);
    EXPECT_EQ(engine.summary.deviation, 1.0f);
    EXPECT_EQ(engine.summary.maximum, 0.0f);
}

TEST(Translation, LowPassStrengthZeroSkipsTheFilterAndOneBarelyActs) {
    const int N = 64;
    Engine engine(N);
    const std::vector<float> a = SmoothNoise(N, 5, 10);
    const std::vector<float> b = CyclicShift(a, N, 7, -3);
    engine.Translate(a, b, 0);
    const std::vector<float> unfiltered = engine.surface;
    const Complex* plainInput = engine.e.LastInverseInput();
    const TranslationResult mild = engine.Translate(a, b, 1);
    EXPECT_NE(engine.e.LastInverseInput(), plainInput); // the filtered buffer this time
    EXPECT_EQ(mild.rowShift, 7);
    EXPECT_EQ(mild.columnShift, -3);
    double largest = 0, change = 0;
    for (std::size_t k = 0; k < unfiltered.size(); ++k) {
        largest = std::max(largest, std::fabs(static_cast<double>(unfiltered[k])));
        change =
            std::max(change, std::fabs(static_cast<double>(unfiltered[k] - engine.surface[k])));
    }
    EXPECT_GT(change, 0.0);
    EXPECT_LT(change, 0.5 * largest); // exp(-(u^2 + v^2)) is at least exp(-0.5)
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
            EXPECT_GE(s.iterations, 1);
            EXPECT_LE(s.iterations, 50);
        }
        std::printf("strength %d: worst sub-pixel error %.4f px\n", lowPass, worst);
        EXPECT_LT(worst, bound) << "strength " << lowPass;
    }
}

TEST(SubPixel, APeakAtTheBorderIsRefinedThroughTheWrapAround) {
    const int N = 64;
    Engine engine(N);
    const std::vector<float> a = SmoothNoise(N, 7, 12);
    // -0.3 puts the peak between column N and column 1.
    const SubPixelTranslationResult s = engine.SubPixel(a, FourierShift(a, N, 0.2, -0.3), 32);
    EXPECT_NEAR(s.columnShift, -0.3, 0.06);
    EXPECT_NEAR(s.rowShift, 0.2, 0.06);
    // The centroid works in unwrapped coordinates: just left of column 1.
    EXPECT_LT(engine.e.RefinedColumn(), 1.0);
    EXPECT_GT(engine.e.RefinedColumn(), 0.5);
}

TEST(SubPixel, PassLimitsAndThresholdsEndTheRefinement) {
    const int N = 64;
    Engine engine(N);
    const std::vector<float> a = SmoothNoise(N, 8, 6);
    const std::vector<float> b = FourierShift(a, N, 1.4, 2.6);
    EXPECT_EQ(engine.SubPixel(a, b, 0, 3).iterations, 3);
    EXPECT_EQ(engine.SubPixel(a, b, 0, 1).iterations, 1);
    // A limit below 1 cannot be counted up to: one pass, not an endless loop.
    EXPECT_EQ(engine.SubPixel(a, b, 0, 0).iterations, 1);
    EXPECT_LT(engine.SubPixel(a, b, 0, 1000, 9, 1e-2f).iterations, 1000);
}

TEST(RotationScale, IdenticalImagesAreNeitherTurnedNorMagnified) {
    Engine engine(128);
    const std::vector<float> a = testing::Blobs(128, 9, 0, 1);
    const RotationScaleResult r = engine.RotationScale(a, a);
    EXPECT_EQ(r.angle, 0.0f);
    EXPECT_EQ(r.magnification, 1.0f);
    EXPECT_TRUE(engine.e.RotationScaleDone());
    EXPECT_FALSE(engine.e.TranslationDone());
}

TEST(RotationScale, TurnsAndMagnificationsWithinAStepOfTheMap) {
    const int N = 256;
    Engine engine(N);
    const double angleStep = 180.0 / N;
    const double b = LogPolarBase(N);
    const std::vector<float> a = testing::Blobs(N, 10, 0, 1);
    // Image 2 shows the pattern turned and magnified by `scale`: image 1
    // sampled at m times its coordinates is image 2, so m = scale.
    const std::pair<double, double> cases[] = {{0, 1.1}, {7, 1}, {-12, 0.92}, {25, 1.05}};
    for (const auto& [degrees, scale] : cases) {
        const RotationScaleResult r =
            engine.RotationScale(a, testing::Blobs(N, 10, degrees, scale), 8);
        EXPECT_NEAR(r.angle, degrees, 1.01 * angleStep) << degrees << " " << scale;
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
    const std::vector<int> last(positions.end() - 4, positions.end());
    EXPECT_EQ(last, (std::vector<int>{100, 110, 120, 0}));
    for (std::size_t i = 0; i + 4 < positions.size(); ++i) {
        EXPECT_LE(positions[i], 90);
        if (i > 0) {
            EXPECT_GE(positions[i], positions[i - 1]);
        }
    }
    EXPECT_GE(events, 4); // after every gauge move at least
}

TEST(Caching, ReusedSpectraAndSurfacesChangeNoResult) {
    const int N = 128;
    const std::vector<float> a = testing::Blobs(N, 12, 3, 1.02);
    const std::vector<float> b = testing::Blobs(N, 12, 0, 1);
    const std::vector<float> c = CyclicShift(b, N, 5, -9);

    // One engine that keeps its spectra: rotation-scale, then the second
    // image on the other side, then the same pair twice.
    Engine cached(N);
    cached.RotationScale(a, b, 4);
    const TranslationResult t1 = cached.Translate(c, a, 4);
    const std::vector<float> s1 = cached.surface;
    const SubPixelTranslationResult p1 = cached.SubPixel(c, a, 4);
    const std::vector<float> s2 = cached.surface;

    Engine fresh1(N), fresh2(N);
    const TranslationResult t2 = fresh1.Translate(c, a, 4);
    const SubPixelTranslationResult p2 = fresh2.SubPixel(c, a, 4);
    EXPECT_EQ(std::memcmp(s1.data(), fresh1.surface.data(), s1.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(s2.data(), fresh2.surface.data(), s2.size() * sizeof(float)), 0);
    EXPECT_EQ(t1.rowShift, t2.rowShift);
    EXPECT_EQ(t1.columnShift, t2.columnShift);
    EXPECT_EQ(t1.quality, t2.quality);
    EXPECT_EQ(p1.rowShift, p2.rowShift);
    EXPECT_EQ(p1.columnShift, p2.columnShift);
    EXPECT_EQ(p1.quality, p2.quality);

    // A different filter, and a changed image, are computed afresh.
    const TranslationResult unfiltered = cached.Translate(c, a, 0);
    fresh1.Translate(c, a, 0);
    EXPECT_EQ(unfiltered.quality, fresh1.Translate(c, a, 0).quality);
    std::vector<float> changed = a;
    changed[77] += 1.0f;
    cached.Translate(c, changed, 4);
    Engine fresh3(N);
    fresh3.Translate(c, changed, 4);
    EXPECT_EQ(std::memcmp(cached.surface.data(), fresh3.surface.data(), s1.size() * sizeof(float)),
              0);
}

TEST(Engine, MisuseIsRefusedInsteadOfOverrunningBuffers) {
    TFFTTransformDyn engine;
    engine.SetSize(32);
    std::vector<float> image(32 * 32, 1.0f), surface(32 * 32);
    SurfaceSummary summary;
    TranslationResult t;
    EXPECT_THROW(engine.RegisterTranslation(image, image, surface, summary, 0, 0, 0, t),
                 std::logic_error);
    engine.AllocateBuffers();
    std::vector<float> small(16 * 16);
    EXPECT_THROW(engine.RegisterTranslation(small, image, surface, summary, 0, 0, 0, t),
                 std::invalid_argument);
    engine.SetSize(64); // buffers of the old size go
    std::vector<float> big(64 * 64);
    EXPECT_THROW(engine.RegisterTranslation(big, big, big, summary, 0, 0, 0, t), std::logic_error);
    engine.SetSize(65536 + 32); // taken as 16 bits: 32
    EXPECT_EQ(engine.Size(), 32);
    engine.AllocateBuffers();
    engine.RegisterTranslation(image, image, surface, summary, 0, 0, 0, t);
    EXPECT_EQ(t.rowShift, 0);
    engine.FreeBuffers();
    EXPECT_THROW(engine.RealBuffer(3), std::out_of_range);
}

} // namespace
} // namespace merkanix::registration
