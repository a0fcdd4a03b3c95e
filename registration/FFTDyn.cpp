#include "registration/FFTDyn.h"

#include "common/Errors.h"
#include "common/NumberText.h"
#include "registration/EngineInternals.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace merkanix::registration {

// --- The engine ----------------------------------------------------------------------

TFFTTransformDyn::TFFTTransformDyn() : buffers_(std::make_unique<EngineBuffers>()) {}

TFFTTransformDyn::~TFFTTransformDyn() {
    FreeBuffers();
}

void TFFTTransformDyn::SetSize(int N) {
    const auto size = static_cast<std::int32_t>(static_cast<std::uint16_t>(N));
    // Buffers of another size would be overrun by the next registration.
    if (size != N_) FreeBuffers();
    N_ = size;
    NN_ = static_cast<std::int32_t>(std::min<std::int64_t>(
        std::int64_t{size} * size, std::numeric_limits<std::int32_t>::max()));
    H_ = size / 2;
    rotationScaleDone_ = 0;
    translationDone_ = 0;
}

void TFFTTransformDyn::AllocateBuffers() {
    if (N_ < 1) throw std::invalid_argument("registration size must be at least 1");
    // Element counts, byte counts and gather indices are 32-bit.
    if (std::int64_t{8} * N_ * N_ > std::numeric_limits<std::int32_t>::max())
        throw std::length_error("registration size too large");
    FreeBuffers();
    const std::size_t count = static_cast<std::size_t>(NN_);
    EngineBuffers& b = *buffers_;
    b.work.Allocate(N_);
    b.real1 = AlignedBuffer<float>(count);
    b.real2 = AlignedBuffer<float>(count);
    b.real3 = AlignedBuffer<float>(count);
    b.crossPower = AlignedBuffer<Complex>(count);
    b.filtered = AlignedBuffer<Complex>(count);
    // Plans are made here, not in the workers, where a failure could not be reported.
    PreparePlans(N_);
}

void TFFTTransformDyn::FreeBuffers() {
    EngineBuffers& b = *buffers_;
    b.work.Free();
    for (auto* real : {&b.real1, &b.real2, &b.real3})
        *real = AlignedBuffer<float>();
    for (auto* complex : {&b.crossPower, &b.filtered})
        *complex = AlignedBuffer<Complex>();
    lastInverseInput_ = nullptr;
    translationSurfaceReady_ = false;
}

std::int32_t TFFTTransformDyn::IterationCount() const {
    return buffers_->work.IterationCount;
}

std::span<float> TFFTTransformDyn::RealBuffer(int which) {
    EngineBuffers& buffers = *buffers_;
    AlignedBuffer<float>& b = which == 1   ? buffers.real1
                              : which == 2 ? buffers.real2
                                           : buffers.real3;
    if (which < 1 || which > 3 || !b) throw std::out_of_range("no such real buffer");
    return {b.data(), b.size()};
}

void TFFTTransformDyn::CheckArrays(std::span<const float> image1, std::span<const float> image2,
                                   std::span<float> surface) const {
    if (!buffers_->crossPower || buffers_->work.N != N_)
        throw std::logic_error("registration buffers are not allocated");
    const auto count = static_cast<std::size_t>(NN_);
    if (image1.size() < count || image2.size() < count || surface.size() < count)
        throw std::invalid_argument("registration arrays must hold N x N values");
}

void TFFTTransformDyn::InverseToReal(Complex* Z, float* R) {
    lastInverseInput_ = Z;
    TransformInPlace(Z, N_, FFTW_BACKWARD);
    const auto* z = reinterpret_cast<const float*>(Z);
    for (std::size_t k = 0; k < static_cast<std::size_t>(NN_); ++k)
        R[k] = z[2 * k];
}

void TFFTTransformDyn::MoveGauge(const RegistrationProgress& progress, double twelfths) {
    if (progress.setGauge)
        progress.setGauge(static_cast<int>(RoundHalfEven(progress.gaugeMaximum / 12.0 * twelfths)));
    if (progress.processEvents) progress.processEvents();
}

TFFTTransformDyn::HeldSpectra TFFTTransformDyn::LoadImages(std::span<const float> image1,
                                                           std::span<const float> image2) {
    TWorkBuffers& work = buffers_->work;
    const std::size_t bytes = static_cast<std::size_t>(NN_) * sizeof(float);
    const auto same = [bytes](const float* a, const AlignedBuffer<float>& b) {
        return std::memcmp(a, b.data(), bytes) == 0;
    };
    // An image whose plain spectrum the engine still holds, on either side,
    // is not transformed again.
    HeldSpectra held;
    held.a = work.spectrumValidA && same(image1.data(), work.ImageA);
    held.b = work.spectrumValidB && same(image2.data(), work.ImageB);
    held.bothInPlace = held.a && held.b;
    if (!held.a && !held.b) {
        const bool crossA = work.spectrumValidB && same(image1.data(), work.ImageB);
        const bool crossB = work.spectrumValidA && same(image2.data(), work.ImageA);
        if (crossA || crossB) {
            work.ImageA.swap(work.ImageB);
            work.SpectrumA.swap(work.SpectrumB);
            std::swap(work.spectrumValidA, work.spectrumValidB);
            held.a = crossA;
            held.b = crossB;
        }
    }
    // Until the workers are done, a replaced image has no valid spectrum.
    if (!held.a) {
        work.spectrumValidA = false;
        std::memcpy(work.ImageA.data(), image1.data(), bytes);
    }
    if (!held.b) {
        work.spectrumValidB = false;
        std::memcpy(work.ImageB.data(), image2.data(), bytes);
    }
    work.reuseA = held.a;
    work.reuseB = held.b;
    return held;
}

void TFFTTransformDyn::RunWorkers(Kind kind, const RegistrationProgress& progress) {
    TWorkBuffers& work = buffers_->work;
    work.ClearProgressHistory();
    work.ProgressA.store(0, std::memory_order_relaxed);
    work.ProgressB.store(0, std::memory_order_relaxed);
    const bool rotationScale = kind == Kind::RotationScale;
    {
        T1 workerA(rotationScale ? 1 : 3, N_, work);
        T1 workerB(rotationScale ? 2 : 4, N_, work);
        for (;;) {
            const unsigned seen = work.ProgressSignals();
            const int a = work.ProgressA.load(std::memory_order_acquire);
            const int b = work.ProgressB.load(std::memory_order_acquire);
            if (a == 100 && b == 100) break;
            if (rotationScale && progress.setGauge)
                progress.setGauge(static_cast<int>(
                    RoundHalfEven(progress.gaugeMaximum / 12.0 * 9 * (a + b) / 200.0)));
            if (progress.processEvents) progress.processEvents();
            work.WaitForProgress(seen, 20);
        }
    }
    work.spectrumValidA = work.spectrumValidB = true;
}

void TFFTTransformDyn::CorrelationSurface(Kind kind, std::int32_t lowPass, std::span<float> surface,
                                          const RegistrationProgress& progress) {
    EngineBuffers& b = *buffers_;
    const bool rotationScale = kind == Kind::RotationScale;
    if (rotationScale)
        NormalizedCrossPower(b.work.LogPolarSpectrumA.data(), b.work.LogPolarSpectrumB.data(),
                             b.crossPower.data(), N_);
    else
        NormalizedCrossPower(b.work.SpectrumB.data(), b.work.SpectrumA.data(), b.crossPower.data(),
                             N_);
    if (rotationScale) MoveGauge(progress, 10);
    if (lowPass >= 1) {
        GaussianLowPass(b.crossPower.data(), b.filtered.data(), N_, lowPass);
        InverseToReal(b.filtered.data(), surface.data());
    } else {
        InverseToReal(b.crossPower.data(), surface.data());
    }
    if (rotationScale) MoveGauge(progress, 11);
}

void TFFTTransformDyn::RunPipeline(std::span<const float> image1, std::span<const float> image2,
                                   std::span<float> surface, std::int32_t lowPass, Kind kind,
                                   const RegistrationProgress& progress) {
    CheckArrays(image1, image2, surface);
    const HeldSpectra held = LoadImages(image1, image2);
    const std::int32_t filterKey = lowPass >= 1 ? lowPass : 0;
    const bool reuseSurface = kind == Kind::Translation && held.bothInPlace &&
                              translationSurfaceReady_ && translationSurfaceLowPass_ == filterKey &&
                              lastInverseInput_ != nullptr;
    translationSurfaceReady_ = false;
    RunWorkers(kind, progress);

    if (reuseSurface) {
        // Same two spectra, same filter: the inverse transform already in the
        // buffer is the one this registration would compute.
        const auto* z = reinterpret_cast<const float*>(lastInverseInput_);
        for (std::size_t k = 0; k < static_cast<std::size_t>(NN_); ++k)
            surface[k] = z[2 * k];
        translationSurfaceReady_ = true;
        return;
    }
    CorrelationSurface(kind, lowPass, surface, progress);
    translationSurfaceReady_ = kind == Kind::Translation;
    translationSurfaceLowPass_ = filterKey;
}

void TFFTTransformDyn::RecordPeak(const SurfaceStatisticsResult& s, SurfaceSummary& summary) {
    summary.minimum = static_cast<float>(s.minimum);
    summary.maximum = static_cast<float>(s.maximum);
    summary.mean = static_cast<float>(s.mean);
    summary.deviation = static_cast<float>(s.deviation);
    peakRow_ = s.peakRow;
    peakColumn_ = s.peakColumn;
}

namespace {

float Quality(const SurfaceStatisticsResult& s) {
    return static_cast<float>((s.maximum - s.mean) / s.deviation);
}

// The signed shift of a 0-based peak offset d on an axis of N, or nothing
// for a sign that is not -1, 0 or 1.
template <typename T> bool SignedShift(T d, ShiftSign sign, std::int32_t N, T& shift) {
    const T n = static_cast<T>(N);
    switch (sign) {
    case -1:
        shift = d - n;
        return true;
    case 0:
        shift = d <= static_cast<T>(N / 2) ? d : d - n;
        return true;
    case 1:
        shift = d;
        return true;
    default:
        return false;
    }
}

} // namespace

void TFFTTransformDyn::PeakToShift(std::int32_t peakRow, std::int32_t peakColumn, ShiftSigns signs,
                                   TranslationResult& result) const {
    if (!SignedShift(peakRow - 1, signs.row, N_, result.rowShift)) result.quality = -1.0f;
    if (!SignedShift(peakColumn - 1, signs.column, N_, result.columnShift)) result.quality = -1.0f;
}

void TFFTTransformDyn::RegisterTranslation(std::span<const float> image1,
                                           std::span<const float> image2, std::span<float> surface,
                                           SurfaceSummary& summary, std::int32_t lowPass,
                                           ShiftSigns signs, TranslationResult& result,
                                           const RegistrationProgress& progress) {
    RunPipeline(image1, image2, surface, lowPass, Kind::Translation, progress);
    const SurfaceStatisticsResult s = SurfaceStatistics(surface.data(), N_);
    RecordPeak(s, summary);
    result.quality = Quality(s);
    PeakToShift(s.peakRow, s.peakColumn, signs, result);
    translationDone_ = 1;
    rotationScaleDone_ = 0;
}

void TFFTTransformDyn::RefinePeak(const float* R, std::int32_t maximumPasses, std::int32_t window,
                                  float threshold, SurfaceStatisticsResult& statistics) {
    statistics = SurfaceStatistics(R, N_);
    float row = static_cast<float>(statistics.peakRow);
    float column = static_cast<float>(statistics.peakColumn);
    const std::int32_t h = (window - 1) / 2;
    std::int32_t& passes = buffers_->work.IterationCount;
    passes = 0;
    for (;;) {
        ++passes;
        float sum = 0.0f, sumRow = 0.0f, sumColumn = 0.0f;
        for (std::int32_t a = -h; a <= h; ++a)
            for (std::int32_t b = -h; b <= h; ++b) {
                const float yr = row + static_cast<float>(a);
                const float yc = column + static_cast<float>(b);
                const float wr = WrapCoordinate(yr, N_);
                const float wc = WrapCoordinate(yc, N_);
                const float v = wr == std::floor(wr) && wc == std::floor(wc)
                                    ? ElementAt(R, N_, static_cast<std::int32_t>(wr),
                                                static_cast<std::int32_t>(wc))
                                    : BilinearSample(wr, wc, R, N_);
                sum += v;
                sumRow += v * yr;
                sumColumn += v * yc;
            }
        float newRow = 0.0f, newColumn = 0.0f;
        if (sum != 0.0f) {
            newRow = sumRow / sum;
            newColumn = sumColumn / sum;
            // A window whose values nearly cancel throws the centroid past
            // the float range.
            if (!std::isfinite(newRow) || !std::isfinite(newColumn))
                throw FloatingPointError(kOverflowText);
        }
        const float dr = newRow - row, dc = newColumn - column;
        const float step = std::sqrt(dr * dr + dc * dc);
        row = newRow;
        column = newColumn;
        // At least one pass is made; a maximum below 1 cannot be reached by
        // counting up, so it ends the refinement like a maximum of 1.
        if (step < threshold || passes >= maximumPasses) break;
    }
    refinedColumn_ = column;
    refinedRow_ = row;
}

void TFFTTransformDyn::SubPixelPeakToShift(ShiftSigns signs,
                                           SubPixelTranslationResult& result) const {
    const float c = static_cast<float>(refinedColumn_ - 1);
    const float r = static_cast<float>(refinedRow_ - 1);
    if (!SignedShift(c, signs.column, N_, result.columnShift)) result.quality = -1.0f;
    if (!SignedShift(r, signs.row, N_, result.rowShift)) result.quality = -1.0f;
    result.iterations = IterationCount();
}

void TFFTTransformDyn::RegisterTranslationSubPixel(
    std::span<const float> image1, std::span<const float> image2, std::span<float> surface,
    SurfaceSummary& summary, std::int32_t lowPass, ShiftSigns signs, std::int32_t maximumPasses,
    std::int32_t window, float threshold, SubPixelTranslationResult& result,
    const RegistrationProgress& progress) {
    RunPipeline(image1, image2, surface, lowPass, Kind::Translation, progress);
    SurfaceStatisticsResult s;
    RefinePeak(surface.data(), maximumPasses, window, threshold, s);
    RecordPeak(s, summary);
    result.quality = Quality(s);
    SubPixelPeakToShift(signs, result);
    translationDone_ = 1;
    rotationScaleDone_ = 0;
}

void TFFTTransformDyn::PeakToRotationScale(std::int32_t peakRow, std::int32_t peakColumn,
                                           ShiftSign angleSign, RotationScaleResult& result) const {
    const std::int32_t pr = peakRow - 1, pc = peakColumn - 1;
    std::int32_t angleRows = 0;
    if (SignedShift(pr, angleSign, N_, angleRows))
        result.angle = static_cast<float>(static_cast<double>(angleRows) * 180.0 / N_);
    else
        result.quality = -1.0f;
    const double b = LogPolarBase(N_);
    result.magnification = static_cast<float>(std::pow(b, pc <= H_ ? pc : pc - N_));
}

void TFFTTransformDyn::RegisterRotationScale(std::span<const float> image1,
                                             std::span<const float> image2,
                                             std::span<float> surface, SurfaceSummary& summary,
                                             std::int32_t lowPass, ShiftSign angleSign,
                                             RotationScaleResult& result,
                                             const RegistrationProgress& progress) {
    RunPipeline(image1, image2, surface, lowPass, Kind::RotationScale, progress);
    const SurfaceStatisticsResult s = SurfaceStatistics(surface.data(), N_);
    MoveGauge(progress, 12);
    RecordPeak(s, summary);
    result.quality = Quality(s);
    PeakToRotationScale(s.peakRow, s.peakColumn, angleSign, result);
    MoveGauge(progress, 0);
    rotationScaleDone_ = 1;
    translationDone_ = 0;
}

} // namespace merkanix::registration
