#pragma once
// Phase-correlation registration of two square real images: integer
// translation, sub-pixel translation, and rotation with magnification
// (Fourier-Mellin over log-polar maps of the centred log-magnitude spectra).
// Indices in the formulas are 1-based, as the correlation surfaces are
// reported; arrays are row-major, element (r, c) at (r - 1) * N + (c - 1).
#include <atomic>
#include <complex>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <utility>
#include <vector>

namespace merkanix::registration {

using Complex = std::complex<float>; // interleaved re, im, as FFTW lays them out

// An N x N array from FFTW's aligned allocator; contents not initialised.
template <typename T> class AlignedBuffer {
public:
    AlignedBuffer() = default;
    explicit AlignedBuffer(std::size_t count);
    ~AlignedBuffer();
    AlignedBuffer(AlignedBuffer&& other) noexcept;
    AlignedBuffer& operator=(AlignedBuffer&& other) noexcept;
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    explicit operator bool() const { return data_ != nullptr; }
    void swap(AlignedBuffer& other) noexcept;

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

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

// How a waiting registration keeps its caller alive: `processEvents` runs
// repeatedly while the workers compute and after every gauge move;
// `setGauge` receives the rotation-scale gauge positions 0 ... gaugeMaximum.
struct RegistrationProgress {
    int gaugeMaximum = 0;
    std::function<void(int position)> setGauge;
    std::function<void()> processEvents;
};

// --- Work state of one engine, shared with its two workers -------------------

struct TWorkBuffers {
    std::int32_t N = 0;
    AlignedBuffer<float> ImageA, ImageB;
    AlignedBuffer<Complex> SpectrumA, SpectrumB; // plain forward transforms
    AlignedBuffer<float> LogMagnitudeA, LogMagnitudeB;
    AlignedBuffer<float> LogPolarA, LogPolarB;
    // The log-polar spectra live apart from the plain ones, so that the plain
    // spectrum of an image survives a rotation-scale registration and a
    // translation of the same image can reuse it.
    AlignedBuffer<Complex> LogPolarSpectrumA, LogPolarSpectrumB;
    std::atomic<std::uint8_t> ProgressA{0}, ProgressB{0};
    std::int32_t IterationCount = 0;

    // Whether SpectrumA/B hold the transform of ImageA/B as they stand, and
    // which side must be computed afresh in the running registration.
    bool spectrumValidA = false, spectrumValidB = false;
    bool reuseA = false, reuseB = false;

    void Allocate(std::int32_t size);
    void Free();
    // Records a progress store of side 'A' or 'B' and wakes a waiting registration.
    void NotifyProgress(char side, std::uint8_t value);
    // The progress stores since the last registration started, in order.
    std::vector<std::pair<char, std::uint8_t>> ProgressHistory();
    void ClearProgressHistory();
    // The number of notifications so far; a waiter reads it before it looks
    // at the progress bytes and then waits for a later one, at most
    // `milliseconds`, so that no notification between the two is lost.
    unsigned ProgressSignals();
    void WaitForProgress(unsigned seen, int milliseconds);

private:
    std::mutex signalMutex_;
    std::condition_variable signal_;
    unsigned signalCount_ = 0;
    std::vector<std::pair<char, std::uint8_t>> history_;
};

// --- Internal operations, shared by the engine and its workers ---------------

// ((k - 1 + H) mod N) + 1: swaps quadrants so that the zero frequency at
// (1, 1) lands at (H + 1, H + 1).
std::int32_t CenteredIndex(std::int32_t k, std::int32_t N);

// Bilinear value of M at row x, column y (1 <= x, y < N + 1), wrapping the
// neighbours of the last row and column round to the first; float32.
float BilinearSample(float x, float y, const float* M, std::int32_t N);

// The log-polar radial base (N / 2)^(1 / N), as float32.
float LogPolarBase(std::int32_t N);

// Per element p = X conj(Y), divided by |p| (by 1 where |p| < 1e-5).
void NormalizedCrossPower(const Complex* X, const Complex* Y, Complex* P, std::int32_t N);

// The weights exp(-(u^2 + v^2) sigma), u and v the centred frequencies in
// -0.5 ... 0.5 (sigma 1 for sigma <= 0); made once per size and strength.
const std::vector<float>& LowPassWeights(std::int32_t N, std::int32_t sigma);
// Q = w P, both parts.
void GaussianLowPass(const Complex* P, Complex* Q, std::int32_t N, std::int32_t sigma);

// Peak (first of equal maxima, row-major), minimum, maximum, mean and
// standard deviation of a surface; sums in float64.
struct SurfaceStatisticsResult {
    std::int32_t peakRow = 1, peakColumn = 1;
    double minimum = 0, maximum = 0, mean = 0, deviation = 1;
};
SurfaceStatisticsResult SurfaceStatistics(const float* R, std::int32_t N);

// Into [1, N + 1); throws FloatingPointError for a coordinate that is not finite.
float WrapCoordinate(float t, std::int32_t N);

// Worker steps.
void ForwardFFT(const float* R, Complex* S, std::int32_t N);
void ShiftedLogMagnitude(const Complex* S, float* L, std::int32_t N);
void LogPolarResample(const float* L, float* P, std::int32_t N);
// The same resampling without the vector path, for checking it.
void LogPolarResampleScalar(const float* L, float* P, std::int32_t N);

// Unnormalised in-place 2-D transforms; plans are made once per size and
// direction.
void TransformInPlace(Complex* data, std::int32_t N, int direction);

// --- Workers -------------------------------------------------------------------

// One spectrum pipeline on its own thread: modes 1 and 2 give the log-polar
// spectrum of image A, B; modes 3 and 4 the plain spectrum of A, B. Starts
// at construction; the destructor waits for it.
class T1 {
public:
    T1(std::int32_t mode, std::int32_t N, TWorkBuffers& work);
    ~T1();
    T1(const T1&) = delete;
    T1& operator=(const T1&) = delete;
    void WaitFor();

private:
    void Execute();
    void Publish(char side, std::atomic<std::uint8_t>& progress, std::uint8_t value);

    std::int32_t N_;
    std::int32_t mode_;
    TWorkBuffers& work_;
    std::thread thread_;
};

// --- The engine ------------------------------------------------------------------

class TFFTTransformDyn {
public:
    TFFTTransformDyn() = default;
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
                             std::int32_t lowPass, ShiftSign rowSign, ShiftSign columnSign,
                             TranslationResult& result, const RegistrationProgress& progress = {});
    void RegisterTranslationSubPixel(std::span<const float> image1, std::span<const float> image2,
                                     std::span<float> surface, SurfaceSummary& summary,
                                     std::int32_t lowPass, ShiftSign columnSign, ShiftSign rowSign,
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
    std::int32_t IterationCount() const { return work_.IterationCount; }
    // The workers' progress stores of the last registration, for checking.
    std::vector<std::pair<char, std::uint8_t>> ProgressHistory() { return work_.ProgressHistory(); }
    const Complex* LastInverseInput() const { return lastInverseInput_; }
    // The spare real arrays; the centre search passes the third as surface.
    std::span<float> RealBuffer(int which);

private:
    enum class Kind { Translation, RotationScale };
    void RunPipeline(std::span<const float> image1, std::span<const float> image2,
                     std::span<float> surface, std::int32_t lowPass, Kind kind,
                     const RegistrationProgress& progress);
    void CheckArrays(std::span<const float> image1, std::span<const float> image2,
                     std::span<float> surface) const;
    void InverseToReal(Complex* Z, float* R);
    void MoveGauge(const RegistrationProgress& progress, double twelfths);
    void PeakToShift(std::int32_t peakRow, std::int32_t peakColumn, ShiftSign rowSign,
                     ShiftSign columnSign, TranslationResult& result) const;
    void RefinePeak(const float* R, std::int32_t maximumPasses, std::int32_t window,
                    float threshold, SurfaceStatisticsResult& statistics);
    void SubPixelPeakToShift(ShiftSign columnSign, ShiftSign rowSign,
                             SubPixelTranslationResult& result) const;
    void PeakToRotationScale(std::int32_t peakRow, std::int32_t peakColumn, ShiftSign angleSign,
                             RotationScaleResult& result) const;
    static void Summarise(const SurfaceStatisticsResult& s, SurfaceSummary& summary);

    // The cross power is formed straight from the workers' spectra: copies
    // of them would only cost time, as one engine never shares its buffers.
    AlignedBuffer<Complex> crossPower_, filtered_;
    std::int32_t peakRow_ = 1, peakColumn_ = 1;
    double refinedColumn_ = 0, refinedRow_ = 0;
    const Complex* lastInverseInput_ = nullptr;
    std::int32_t N_ = 0;
    std::int32_t NN_ = 0;
    std::int32_t H_ = 0;
    AlignedBuffer<float> real1_, real2_, real3_;
    std::uint8_t rotationScaleDone_ = 0;
    std::uint8_t translationDone_ = 0;

    TWorkBuffers work_;
    // A translation surface that a registration of the same two images with
    // the same filter would compute again bit for bit.
    bool translationSurfaceReady_ = false;
    std::int32_t translationSurfaceLowPass_ = 0;
};

} // namespace merkanix::registration
