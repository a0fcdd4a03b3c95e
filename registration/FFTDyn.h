#pragma once
// Phase-correlation registration of two square real images: integer
// translation, sub-pixel translation, and rotation with magnification
// (Fourier-Mellin over log-polar maps of the centred log-magnitude spectra).
// Indices in the formulas are 1-based, as the correlation surfaces are
// reported; arrays are row-major, element (r, c) at (r - 1) * N + (c - 1).
#include <complex>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace merkanix::registration {

using Complex = std::complex<float>; // interleaved re, im, as FFTW lays them out

// --- Results -----------------------------------------------------------------

struct TranslationResult {
    std::int32_t rowShift = 0;
    std::int32_t columnShift = 0;
    float quality = 0.0f;
};

struct SubPixelTranslationResult {
    float columnShift = 0.0f;
    float rowShift = 0.0f;
    float quality = 0.0f;
    std::int32_t iterations = 0;
};

struct RotationScaleResult {
    float magnification = 0.0f;
    float angle = 0.0f; // degrees
    float quality = 0.0f;
};

// Minimum, maximum, mean and population standard deviation of a surface.
struct SurfaceSummary {
    float minimum = 0.0f;
    float maximum = 0.0f;
    float mean = 0.0f;
    float deviation = 0.0f;
};

// -1: the shift is negative; 0: take the representative nearest to zero;
// 1: the shift is non-negative. Any other value marks the axis unusable.
using ShiftSign = std::int32_t;

// The known signs of a translation's two shifts.
struct ShiftSigns {
    ShiftSign row = 0;
    ShiftSign column = 0;
};

// How a waiting registration keeps its caller alive: `processEvents` runs
// repeatedly while the workers compute and after every gauge move;
// `setGauge` receives the rotation-scale gauge positions 0 ... gaugeMaximum.
struct RegistrationProgress {
    int gaugeMaximum = 0;
    std::function<void(int position)> setGauge;
    std::function<void()> processEvents;
};

// The log-polar radial base (N / 2)^(1 / N), as float32: magnifications
// come out as its whole powers.
float LogPolarBase(std::int32_t N);

// --- The engine ----------------------------------------------------------------

struct EngineBuffers;
struct SurfaceStatisticsResult;

class TFFTTransformDyn {
public:
    TFFTTransformDyn();
    ~TFFTTransformDyn();
    TFFTTransformDyn(const TFFTTransformDyn&) = delete;
    TFFTTransformDyn& operator=(const TFFTTransformDyn&) = delete;

    void SetSize(int N);
    void AllocateBuffers();
    void FreeBuffers();

    // Image 1 is A, image 2 is B; every array is N x N. The surface receives
    // the correlation surface. A low-pass strength below 1 means no filter.
    void RegisterTranslation(std::span<const float> image1, std::span<const float> image2,
                             std::span<float> surface, SurfaceSummary& summary,
                             std::int32_t lowPass, ShiftSigns signs, TranslationResult& result,
                             const RegistrationProgress& progress = {});
    void RegisterTranslationSubPixel(std::span<const float> image1, std::span<const float> image2,
                                     std::span<float> surface, SurfaceSummary& summary,
                                     std::int32_t lowPass, ShiftSigns signs,
                                     std::int32_t maximumPasses, std::int32_t window,
                                     float threshold, SubPixelTranslationResult& result,
                                     const RegistrationProgress& progress = {});
    void RegisterRotationScale(std::span<const float> image1, std::span<const float> image2,
                               std::span<float> surface, SurfaceSummary& summary,
                               std::int32_t lowPass, ShiftSign angleSign,
                               RotationScaleResult& result,
                               const RegistrationProgress& progress = {});

    std::int32_t Size() const { return N_; }
    std::int32_t PeakRow() const { return peakRow_; }
    std::int32_t PeakColumn() const { return peakColumn_; }
    double RefinedColumn() const { return refinedColumn_; }
    double RefinedRow() const { return refinedRow_; }
    bool RotationScaleDone() const { return rotationScaleDone_ != 0; }
    bool TranslationDone() const { return translationDone_ != 0; }
    std::int32_t IterationCount() const;
    // The spare real arrays; the centre search passes the third as surface.
    std::span<float> RealBuffer(int which);

private:
    enum class Kind { Translation, RotationScale };
    // Which images' plain spectra the engine already holds, and whether
    // both are held on the sides they come in on.
    struct HeldSpectra {
        bool a = false, b = false;
        bool bothInPlace = false;
    };

    void RunPipeline(std::span<const float> image1, std::span<const float> image2,
                     std::span<float> surface, std::int32_t lowPass, Kind kind,
                     const RegistrationProgress& progress);
    void CheckArrays(std::span<const float> image1, std::span<const float> image2,
                     std::span<float> surface) const;
    HeldSpectra LoadImages(std::span<const float> image1, std::span<const float> image2);
    void RunWorkers(Kind kind, const RegistrationProgress& progress);
    void CorrelationSurface(Kind kind, std::int32_t lowPass, std::span<float> surface,
                            const RegistrationProgress& progress);
    void InverseToReal(Complex* Z, float* R);
    void MoveGauge(const RegistrationProgress& progress, double twelfths);
    void PeakToShift(std::int32_t peakRow, std::int32_t peakColumn, ShiftSigns signs,
                     TranslationResult& result) const;
    void RefinePeak(const float* R, std::int32_t maximumPasses, std::int32_t window,
                    float threshold, SurfaceStatisticsResult& statistics);
    void SubPixelPeakToShift(ShiftSigns signs, SubPixelTranslationResult& result) const;
    void PeakToRotationScale(std::int32_t peakRow, std::int32_t peakColumn, ShiftSign angleSign,
                             RotationScaleResult& result) const;
    void RecordPeak(const SurfaceStatisticsResult& s, SurfaceSummary& summary);

    // The work state shared with the two workers, the cross power and its
    // filtered copy, and the spare real arrays.
    std::unique_ptr<EngineBuffers> buffers_;
    std::int32_t peakRow_ = 1, peakColumn_ = 1;
    double refinedColumn_ = 0, refinedRow_ = 0;
    // The spectrum the last surface was transformed from, still in its buffer.
    const Complex* lastInverseInput_ = nullptr;
    std::int32_t N_ = 0;
    std::int32_t NN_ = 0;
    std::int32_t H_ = 0;
    std::uint8_t rotationScaleDone_ = 0;
    std::uint8_t translationDone_ = 0;

    // A translation surface that a registration of the same two images with
    // the same filter would compute again bit for bit.
    bool translationSurfaceReady_ = false;
    std::int32_t translationSurfaceLowPass_ = 0;
};

} // namespace merkanix::registration
