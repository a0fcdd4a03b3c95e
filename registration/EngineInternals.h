#pragma once
// The inside of the registration engine, for the engine, its workers and
// their tests: aligned arrays, the work state the engine shares with its two
// workers, the workers themselves and the operations on spectra and
// surfaces they are made of.
#include "registration/FFTDyn.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace merkanix::registration {

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

// Everything an engine allocates for its size.
struct EngineBuffers {
    TWorkBuffers work;
    // The cross power is formed straight from the workers' spectra: copies
    // of them would only cost time, as one engine never shares its buffers.
    AlignedBuffer<Complex> crossPower, filtered;
    AlignedBuffer<float> real1, real2, real3;
};

// --- Operations shared by the engine and its workers -------------------------

// Element (row, column), both 1-based, of the N x N array M.
inline float ElementAt(const float* M, std::int32_t N, std::int32_t row, std::int32_t column) {
    return M[static_cast<std::size_t>(row - 1) * N + (column - 1)];
}

// ((k - 1 + H) mod N) + 1: swaps quadrants so that the zero frequency at
// (1, 1) lands at (H + 1, H + 1).
std::int32_t CenteredIndex(std::int32_t k, std::int32_t N);

// Bilinear value of M at row x, column y (1 <= x, y < N + 1), wrapping the
// neighbours of the last row and column round to the first; float32.
float BilinearSample(float x, float y, const float* M, std::int32_t N);

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

// Unnormalised in-place 2-D transforms; plans are made once per size and
// direction.
void TransformInPlace(Complex* data, std::int32_t N, int direction);
// Makes the plans of size N ahead, where a failure can still be reported.
void PreparePlans(std::int32_t N);

// --- Worker steps --------------------------------------------------------------

void ForwardFFT(const float* R, Complex* S, std::int32_t N);
void ShiftedLogMagnitude(const Complex* S, float* L, std::int32_t N);
void LogPolarResample(const float* L, float* P, std::int32_t N);
// The same resampling without the vector path, for checking it.
void LogPolarResampleScalar(const float* L, float* P, std::int32_t N);

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

} // namespace merkanix::registration
