#include "registration/EngineInternals.h"

#include "common/Errors.h"
#include "common/NumberText.h"

#include <fftw3.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <new>
#include <stdexcept>
#include <utility>

namespace merkanix::registration {

// --- Aligned buffers ---------------------------------------------------------

template <typename T> AlignedBuffer<T>::AlignedBuffer(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
    data_ = static_cast<T*>(fftwf_malloc(count * sizeof(T)));
    if (data_ == nullptr && count != 0) throw std::bad_alloc();
    size_ = count;
}

template <typename T> AlignedBuffer<T>::~AlignedBuffer() {
    if (data_ != nullptr) fftwf_free(data_);
}

template <typename T>
AlignedBuffer<T>::AlignedBuffer(AlignedBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

template <typename T>
AlignedBuffer<T>& AlignedBuffer<T>::operator=(AlignedBuffer&& other) noexcept {
    AlignedBuffer moved(std::move(other));
    swap(moved);
    return *this;
}

template <typename T> void AlignedBuffer<T>::swap(AlignedBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
}

template class AlignedBuffer<float>;
template class AlignedBuffer<Complex>;

// --- Transforms ----------------------------------------------------------------

namespace {

// The 2-D transform is made of 1-D transforms of length N, taken in batches
// of up to kBatch rows: first the rows in place, then the columns, each
// batch of columns copied into a contiguous buffer and back. FFTW's own 2-D
// plan from the estimate planner walks the columns with a stride of a whole
// row and is five times slower; measured plans are faster still but not
// reproducible from run to run. Every batch uses the same plan, so the
// numbers do not depend on how the work is cut.
constexpr std::int32_t kBatch = 16;

// FFTW's planner is not thread-safe; execution of a finished plan is. Plans
// live for the whole run and are shared by every engine and worker.
std::mutex gPlannerMutex;

struct PlanKey {
    std::int32_t N, count;
    int direction;
    auto operator<=>(const PlanKey&) const = default;
};

// Plans are released, and FFTW's own planner memory with them, when the
// program ends.
struct PlanCache {
    std::map<PlanKey, fftwf_plan> plans;
    ~PlanCache() {
        for (const auto& [key, plan] : plans)
            fftwf_destroy_plan(plan);
        fftwf_cleanup();
    }
};

fftwf_plan BatchPlan(std::int32_t N, std::int32_t count, int direction) {
    static PlanCache cache;
    auto& plans = cache.plans;
    const std::lock_guard lock(gPlannerMutex);
    const auto found = plans.find({N, count, direction});
    if (found != plans.end()) return found->second;
    // The estimate planner leaves the array alone; it only needs one of the
    // alignment every buffer of ours has.
    AlignedBuffer<Complex> scratch(static_cast<std::size_t>(N) * count);
    auto* data = reinterpret_cast<fftwf_complex*>(scratch.data());
    const int n[] = {N};
    const fftwf_plan plan = fftwf_plan_many_dft(1, n, count, data, nullptr, 1, N, data, nullptr, 1,
                                                N, direction, FFTW_ESTIMATE);
    if (plan == nullptr) throw std::runtime_error("FFTW cannot plan a transform of this size");
    plans.emplace(PlanKey{N, count, direction}, plan);
    return plan;
}

void Execute(fftwf_plan plan, Complex* data) {
    auto* d = reinterpret_cast<fftwf_complex*>(data);
    fftwf_execute_dft(plan, d, d);
}

} // namespace

void PreparePlans(std::int32_t N) {
    for (const int direction : {FFTW_FORWARD, FFTW_BACKWARD}) {
        BatchPlan(N, std::min(N, kBatch), direction);
        if (N % kBatch != 0 && N > kBatch) BatchPlan(N, N % kBatch, direction);
    }
}

void TransformInPlace(Complex* data, std::int32_t N, int direction) {
    const std::size_t n = static_cast<std::size_t>(N);
    const fftwf_plan full = BatchPlan(N, std::min(N, kBatch), direction);
    const fftwf_plan rest = N % kBatch == 0 ? full : BatchPlan(N, N % kBatch, direction);
    const auto planFor = [&](std::int32_t count) { return count == kBatch ? full : rest; };
    for (std::int32_t first = 0; first < N; first += kBatch) {
        const std::int32_t count = std::min(kBatch, N - first);
        Execute(planFor(count), data + first * n);
    }
    // Whole complex values move as one 64-bit word; tiles of 16 rows keep
    // both sides of the copy in cache lines.
    thread_local AlignedBuffer<Complex> buffer;
    if (buffer.size() < kBatch * n) buffer = AlignedBuffer<Complex>(kBatch * n);
    Complex* strip = buffer.data();
    for (std::int32_t first = 0; first < N; first += kBatch) {
        const std::int32_t count = std::min(kBatch, N - first);
        for (std::size_t r0 = 0; r0 < n; r0 += kBatch) {
            const std::size_t r1 = std::min(n, r0 + kBatch);
            for (std::int32_t j = 0; j < count; ++j)
                for (std::size_t r = r0; r < r1; ++r)
                    strip[j * n + r] = data[r * n + first + j];
        }
        Execute(planFor(count), strip);
        for (std::size_t r0 = 0; r0 < n; r0 += kBatch) {
            const std::size_t r1 = std::min(n, r0 + kBatch);
            for (std::size_t r = r0; r < r1; ++r)
                for (std::int32_t j = 0; j < count; ++j)
                    data[r * n + first + j] = strip[j * n + r];
        }
    }
}

// --- Shared operations -----------------------------------------------------------

std::int32_t CenteredIndex(std::int32_t k, std::int32_t N) {
    return (k - 1 + N / 2) % N + 1;
}

namespace {

// Row or column index into 1 ... N. Positions are in range by construction;
// the wrap only keeps a rounding at the far edge (x = N + 1) inside the array.
inline std::int32_t WrapIndex(std::int32_t i, std::int32_t N) {
    if (i > N) return i - N;
    if (i < 1) return i + N;
    return i;
}

} // namespace

float BilinearSample(float x, float y, const float* M, std::int32_t N) {
    const auto i = static_cast<std::int32_t>(x);
    const auto j = static_cast<std::int32_t>(y);
    const float fx = x - static_cast<float>(i);
    const float fy = y - static_cast<float>(j);
    const std::int32_t i0 = WrapIndex(i, N), j0 = WrapIndex(j, N);
    const std::int32_t i1 = WrapIndex(i0 + 1, N), j1 = WrapIndex(j0 + 1, N);
    const float gx = 1.0f - fx;
    const float left = gx * ElementAt(M, N, i0, j0) + fx * ElementAt(M, N, i1, j0);
    const float right = gx * ElementAt(M, N, i0, j1) + fx * ElementAt(M, N, i1, j1);
    return (1.0f - fy) * left + fy * right;
}

float LogPolarBase(std::int32_t N) {
    return static_cast<float>(std::exp((std::log(static_cast<double>(N)) - std::log(2.0)) / N));
}

void NormalizedCrossPower(const Complex* X, const Complex* Y, Complex* P, std::int32_t N) {
    const auto* x = reinterpret_cast<const float*>(X);
    const auto* y = reinterpret_cast<const float*>(Y);
    auto* p = reinterpret_cast<float*>(P);
    const std::size_t count = static_cast<std::size_t>(N) * N;
    for (std::size_t k = 0; k < count; ++k) {
        const float xr = x[2 * k], xi = x[2 * k + 1], yr = y[2 * k], yi = y[2 * k + 1];
        const float re = xr * yr + xi * yi;
        const float im = xi * yr - xr * yi;
        float m = std::sqrt(re * re + im * im);
        m = m < 1e-5f ? 1.0f : m;
        p[2 * k] = re / m;
        p[2 * k + 1] = im / m;
    }
}

const std::vector<float>& LowPassWeights(std::int32_t N, std::int32_t sigma) {
    static std::mutex mutex;
    static std::map<std::pair<std::int32_t, std::int32_t>, std::vector<float>> tables;
    if (sigma <= 0) sigma = 1;
    const std::lock_guard lock(mutex);
    auto& table = tables[{N, sigma}];
    if (table.empty()) {
        table.resize(static_cast<std::size_t>(N) * N);
        std::vector<double> centred(static_cast<std::size_t>(N));
        for (std::int32_t k = 1; k <= N; ++k)
            centred[k - 1] = static_cast<double>(CenteredIndex(k, N)) / N - 0.5;
        for (std::int32_t r = 0; r < N; ++r)
            for (std::int32_t c = 0; c < N; ++c) {
                const double u = centred[r], v = centred[c];
                table[static_cast<std::size_t>(r) * N + c] =
                    static_cast<float>(std::exp(-(u * u + v * v) * sigma));
            }
    }
    return table;
}

void GaussianLowPass(const Complex* P, Complex* Q, std::int32_t N, std::int32_t sigma) {
    const std::vector<float>& w = LowPassWeights(N, sigma);
    const auto* p = reinterpret_cast<const float*>(P);
    auto* q = reinterpret_cast<float*>(Q);
    const std::size_t count = static_cast<std::size_t>(N) * N;
    for (std::size_t k = 0; k < count; ++k) {
        q[2 * k] = w[k] * p[2 * k];
        q[2 * k + 1] = w[k] * p[2 * k + 1];
    }
}

SurfaceStatisticsResult SurfaceStatistics(const float* R, std::int32_t N) {
    SurfaceStatisticsResult s;
    double sum = 0.0, sumSquares = 0.0;
    double maximum = -1e10, minimum = 1e10;
    std::size_t peak = 0;
    const std::size_t count = static_cast<std::size_t>(N) * N;
    for (std::size_t k = 0; k < count; ++k) {
        const double v = R[k];
        sum += v;
        sumSquares += v * v;
        if (v > maximum) {
            maximum = v;
            peak = k;
        }
        if (v < minimum) minimum = v;
    }
    s.peakRow = static_cast<std::int32_t>(peak / N) + 1;
    s.peakColumn = static_cast<std::int32_t>(peak % N) + 1;
    s.minimum = minimum;
    s.maximum = maximum;
    const double n = static_cast<double>(count);
    s.mean = sum / n;
    // The one-pass variance can round to just below zero on a flat surface;
    // it is zero then, not a failed square root.
    const double variance = std::max(0.0, sumSquares / n - s.mean * s.mean);
    s.deviation = std::sqrt(variance);
    if (s.deviation < 1e-5) s.deviation = 1.0;
    return s;
}

float WrapCoordinate(float t, std::int32_t N) {
    if (!std::isfinite(t)) throw FloatingPointError(kInvalidOperationText);
    const float n = static_cast<float>(N);
    const float q = std::floor(t / n);
    float wrapped = t - q * n;
    if (std::floor(wrapped) == 0.0f) wrapped = wrapped + n;
    // Near a whole period the float arithmetic can land on N + 1 itself (or
    // just below 1), which is the same place as 1 (as N + 1): keep it inside.
    if (wrapped >= n + 1.0f) wrapped -= n;
    if (wrapped < 1.0f) wrapped += n;
    return wrapped;
}

// --- Worker steps ----------------------------------------------------------------

void ForwardFFT(const float* R, Complex* S, std::int32_t N) {
    auto* s = reinterpret_cast<float*>(S);
    const std::size_t count = static_cast<std::size_t>(N) * N;
    for (std::size_t k = 0; k < count; ++k) {
        s[2 * k] = R[k];
        s[2 * k + 1] = 0.0f;
    }
    TransformInPlace(S, N, FFTW_FORWARD);
}

void ShiftedLogMagnitude(const Complex* S, float* L, std::int32_t N) {
    const auto* s = reinterpret_cast<const float*>(S);
    // Column c reads column CenteredIndex(c): two contiguous runs per row.
    const std::int32_t split = N - N / 2; // output columns fed by source columns H + 1 ... N
    for (std::int32_t r = 1; r <= N; ++r) {
        const float* sourceRow = s + 2 * static_cast<std::size_t>(CenteredIndex(r, N) - 1) * N;
        float* out = L + static_cast<std::size_t>(r - 1) * N;
        const auto run = [](const float* from, float* to, std::int32_t count) {
            for (std::int32_t k = 0; k < count; ++k) {
                const float re = from[2 * k], im = from[2 * k + 1];
                const float m = std::sqrt(re * re + im * im);
                to[k] = m < 1e-7f ? m : std::log(m);
            }
        };
        run(sourceRow + 2 * static_cast<std::size_t>(N / 2), out, split);
        run(sourceRow, out + split, N / 2);
    }
}

namespace {

// Angles and radii of the log-polar samples, made once per size: row i,
// sub-step a has angle (4i + a) delta; column j, sub-step k has radius
// exp(ln b (4j + k) / 4), held as radius[k * N + j] for the vector path.
struct LogPolarTables {
    std::vector<float> cosine, sine, radius;
};

const LogPolarTables& TablesFor(std::int32_t N) {
    static std::mutex mutex;
    static std::map<std::int32_t, LogPolarTables> cache;
    const std::lock_guard lock(mutex);
    LogPolarTables& t = cache[N];
    if (t.cosine.empty()) {
        const float delta = static_cast<float>(3.14159265358979323846 / N) * 0.25f;
        const float lnB = std::log(LogPolarBase(N));
        const std::size_t steps = 4 * static_cast<std::size_t>(N);
        t.cosine.resize(steps);
        t.sine.resize(steps);
        t.radius.resize(steps);
        for (std::size_t s = 0; s < steps; ++s) {
            const float theta = static_cast<float>(s) * delta;
            t.cosine[s] = std::cos(theta);
            t.sine[s] = std::sin(theta);
        }
        for (std::int32_t j = 0; j < N; ++j)
            for (std::int32_t k = 0; k < 4; ++k)
                t.radius[static_cast<std::size_t>(k) * N + j] =
                    std::exp(lnB * static_cast<float>(4 * j + k) * 0.25f);
    }
    return t;
}

// Rows 0 ... N - 1 of P, columns [firstColumn, N), the scalar way.
void ResampleColumns(const float* L, float* P, std::int32_t N, const LogPolarTables& t,
                     std::int32_t firstColumn) {
    const float half = static_cast<float>(N) / 2.0f;
    for (std::int32_t i = 0; i < N; ++i)
        for (std::int32_t j = firstColumn; j < N; ++j) {
            float sum = 0.0f;
            for (std::int32_t a = 0; a < 4; ++a) {
                const float c = t.cosine[4 * static_cast<std::size_t>(i) + a];
                const float s = t.sine[4 * static_cast<std::size_t>(i) + a];
                for (std::int32_t k = 0; k < 4; ++k) {
                    const float rho = t.radius[static_cast<std::size_t>(k) * N + j];
                    const float x = rho * c + 1.0f + half;
                    const float y = rho * s + 1.0f + half;
                    sum += BilinearSample(x, y, L, N);
                }
            }
            P[static_cast<std::size_t>(i) * N + j] = sum / 16.0f;
        }
}

#if defined(__x86_64__)
// Two neighbours in a row, at float index `at` and the one after it, for
// eight lanes: each pair in one 64-bit load, so half the gathered elements.
__attribute__((target("avx2"))) inline void GatherPairs(const float* L, __m256i at, __m256& first,
                                                        __m256& second) {
    const auto* base = reinterpret_cast<const double*>(L);
    // The masked form with every lane on: the plain one trips GCC 12's
    // uninitialised-use warning inside the intrinsic.
    const __m256d zero = _mm256_setzero_pd(), all = _mm256_castsi256_pd(_mm256_set1_epi32(-1));
    // [f0 s0 f1 s1 | f2 s2 f3 s3] and [f4 s4 f5 s5 | f6 s6 f7 s7]
    const __m256 low =
        _mm256_castpd_ps(_mm256_mask_i32gather_pd(zero, base, _mm256_castsi256_si128(at), all, 4));
    const __m256 high = _mm256_castpd_ps(
        _mm256_mask_i32gather_pd(zero, base, _mm256_extracti128_si256(at, 1), all, 4));
    // [f0 f1 f4 f5 | f2 f3 f6 f7], then the middle quarters swapped.
    const __m256 f = _mm256_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0));
    const __m256 s = _mm256_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1));
    first = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(f), _MM_SHUFFLE(3, 1, 2, 0)));
    second = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(s), _MM_SHUFFLE(3, 1, 2, 0)));
}

// Eight columns at once with gathers; every lane does the scalar path's
// operations in the scalar path's order (no fused multiply-add), so the
// map is the same to the bit. Returns the first column it left undone.
__attribute__((target("avx2"))) std::int32_t ResampleAvx2(const float* L, float* P, std::int32_t N,
                                                          const LogPolarTables& t) {
    const std::int32_t blocks = N / 8 * 8;
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 half = _mm256_set1_ps(static_cast<float>(N) / 2.0f);
    const __m256i oneI = _mm256_set1_epi32(1);
    const __m256i nI = _mm256_set1_epi32(N);
    const __m256i nPlusOne = _mm256_set1_epi32(N + 1);
    const __m256 sixteen = _mm256_set1_ps(16.0f);
    for (std::int32_t i = 0; i < N; ++i) {
        for (std::int32_t j = 0; j < blocks; j += 8) {
            __m256 sum = _mm256_setzero_ps();
            for (std::int32_t a = 0; a < 4; ++a) {
                const __m256 c = _mm256_set1_ps(t.cosine[4 * static_cast<std::size_t>(i) + a]);
                const __m256 s = _mm256_set1_ps(t.sine[4 * static_cast<std::size_t>(i) + a]);
                for (std::int32_t k = 0; k < 4; ++k) {
                    const __m256 rho =
                        _mm256_loadu_ps(t.radius.data() + static_cast<std::size_t>(k) * N + j);
                    const __m256 x = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(rho, c), one), half);
                    const __m256 y = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(rho, s), one), half);
                    const __m256i xi = _mm256_cvttps_epi32(x);
                    const __m256i yi = _mm256_cvttps_epi32(y);
                    const __m256 fx = _mm256_sub_ps(x, _mm256_cvtepi32_ps(xi));
                    const __m256 fy = _mm256_sub_ps(y, _mm256_cvtepi32_ps(yi));
                    // Indices stay in 1 ... N: positions lie in [1, N + 1).
                    const __m256i i0 = _mm256_min_epi32(_mm256_max_epi32(xi, oneI), nI);
                    const __m256i j0 = _mm256_min_epi32(_mm256_max_epi32(yi, oneI), nI);
                    __m256i i1 = _mm256_add_epi32(i0, oneI);
                    __m256i j1 = _mm256_add_epi32(j0, oneI);
                    i1 = _mm256_blendv_epi8(i1, oneI, _mm256_cmpeq_epi32(i1, nPlusOne));
                    j1 = _mm256_blendv_epi8(j1, oneI, _mm256_cmpeq_epi32(j1, nPlusOne));
                    const __m256i row0 = _mm256_mullo_epi32(_mm256_sub_epi32(i0, oneI), nI);
                    const __m256i row1 = _mm256_mullo_epi32(_mm256_sub_epi32(i1, oneI), nI);
                    const __m256i col0 = _mm256_sub_epi32(j0, oneI);
                    const __m256i col1 = _mm256_sub_epi32(j1, oneI);
                    __m256 m00, m01, m10, m11;
                    // The right neighbour follows in memory unless the column wraps
                    // to the first one (only at the outermost radius).
                    const __m256i wraps = _mm256_cmpeq_epi32(j0, nI);
                    if (_mm256_testz_si256(wraps, wraps)) {
                        GatherPairs(L, _mm256_add_epi32(row0, col0), m00, m01);
                        GatherPairs(L, _mm256_add_epi32(row1, col0), m10, m11);
                    } else {
                        m00 = _mm256_i32gather_ps(L, _mm256_add_epi32(row0, col0), 4);
                        m10 = _mm256_i32gather_ps(L, _mm256_add_epi32(row1, col0), 4);
                        m01 = _mm256_i32gather_ps(L, _mm256_add_epi32(row0, col1), 4);
                        m11 = _mm256_i32gather_ps(L, _mm256_add_epi32(row1, col1), 4);
                    }
                    const __m256 gx = _mm256_sub_ps(one, fx);
                    const __m256 left =
                        _mm256_add_ps(_mm256_mul_ps(gx, m00), _mm256_mul_ps(fx, m10));
                    const __m256 right =
                        _mm256_add_ps(_mm256_mul_ps(gx, m01), _mm256_mul_ps(fx, m11));
                    const __m256 value = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(one, fy), left),
                                                       _mm256_mul_ps(fy, right));
                    sum = _mm256_add_ps(sum, value);
                }
            }
            _mm256_storeu_ps(P + static_cast<std::size_t>(i) * N + j, _mm256_div_ps(sum, sixteen));
        }
    }
    return blocks;
}
#endif

} // namespace

void LogPolarResampleScalar(const float* L, float* P, std::int32_t N) {
    ResampleColumns(L, P, N, TablesFor(N), 0);
}

void LogPolarResample(const float* L, float* P, std::int32_t N) {
    const LogPolarTables& t = TablesFor(N);
    std::int32_t done = 0;
#if defined(__x86_64__)
    // Gathers index with 32-bit lanes; the clamp in the vector path assumes
    // positions that the radii below N / 2 guarantee from N = 4 on.
    if (N >= 4 && __builtin_cpu_supports("avx2")) done = ResampleAvx2(L, P, N, t);
#endif
    if (done < N) ResampleColumns(L, P, N, t, done);
}

// --- Work state --------------------------------------------------------------------

void TWorkBuffers::Allocate(std::int32_t size) {
    Free();
    const std::size_t count = static_cast<std::size_t>(size) * size;
    // Allocation order as the engine documents it; a failure frees what came before.
    SpectrumA = AlignedBuffer<Complex>(count);
    ImageA = AlignedBuffer<float>(count);
    LogMagnitudeA = AlignedBuffer<float>(count);
    LogPolarA = AlignedBuffer<float>(count);
    SpectrumB = AlignedBuffer<Complex>(count);
    ImageB = AlignedBuffer<float>(count);
    LogMagnitudeB = AlignedBuffer<float>(count);
    LogPolarB = AlignedBuffer<float>(count);
    LogPolarSpectrumA = AlignedBuffer<Complex>(count);
    LogPolarSpectrumB = AlignedBuffer<Complex>(count);
    N = size;
}

void TWorkBuffers::Free() {
    for (auto* b : {&ImageA, &ImageB, &LogMagnitudeA, &LogMagnitudeB, &LogPolarA, &LogPolarB})
        *b = AlignedBuffer<float>();
    for (auto* b : {&SpectrumA, &SpectrumB, &LogPolarSpectrumA, &LogPolarSpectrumB})
        *b = AlignedBuffer<Complex>();
    N = 0;
    spectrumValidA = spectrumValidB = false;
    reuseA = reuseB = false;
}

void TWorkBuffers::NotifyProgress(char side, std::uint8_t value) {
    {
        const std::lock_guard lock(signalMutex_);
        ++signalCount_;
        history_.emplace_back(side, value);
    }
    signal_.notify_all();
}

std::vector<std::pair<char, std::uint8_t>> TWorkBuffers::ProgressHistory() {
    const std::lock_guard lock(signalMutex_);
    return history_;
}

void TWorkBuffers::ClearProgressHistory() {
    const std::lock_guard lock(signalMutex_);
    history_.clear();
}

unsigned TWorkBuffers::ProgressSignals() {
    const std::lock_guard lock(signalMutex_);
    return signalCount_;
}

void TWorkBuffers::WaitForProgress(unsigned seen, int milliseconds) {
    std::unique_lock lock(signalMutex_);
    signal_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                     [&] { return signalCount_ != seen; });
}

// --- Workers -----------------------------------------------------------------------

T1::T1(std::int32_t mode, std::int32_t N, TWorkBuffers& work)
    : N_(static_cast<std::uint16_t>(N)), mode_(mode), work_(work) {
    if (mode < 1 || mode > 4) throw std::invalid_argument("worker mode must be 1 to 4");
    if (N_ != work.N) throw std::invalid_argument("worker size differs from its buffers");
    thread_ = std::thread([this] { Execute(); });
}

T1::~T1() {
    WaitFor();
}

void T1::WaitFor() {
    if (thread_.joinable()) thread_.join();
}

void T1::Publish(char side, std::atomic<std::uint8_t>& progress, std::uint8_t value) {
    progress.store(value, std::memory_order_release);
    work_.NotifyProgress(side, value);
}

void T1::Execute() {
    const bool sideA = mode_ == 1 || mode_ == 3;
    const float* image = (sideA ? work_.ImageA : work_.ImageB).data();
    Complex* spectrum = (sideA ? work_.SpectrumA : work_.SpectrumB).data();
    std::atomic<std::uint8_t>& progress = sideA ? work_.ProgressA : work_.ProgressB;
    // A spectrum already computed for this very image is not computed again.
    const bool reuse = sideA ? work_.reuseA : work_.reuseB;
    const char name = sideA ? 'A' : 'B';

    if (!reuse) ForwardFFT(image, spectrum, N_);
    if (mode_ >= 3) {
        Publish(name, progress, 100);
        return;
    }
    Publish(name, progress, 25);
    float* logMagnitude = (sideA ? work_.LogMagnitudeA : work_.LogMagnitudeB).data();
    float* logPolar = (sideA ? work_.LogPolarA : work_.LogPolarB).data();
    ShiftedLogMagnitude(spectrum, logMagnitude, N_);
    Publish(name, progress, 50);
    LogPolarResample(logMagnitude, logPolar, N_);
    Publish(name, progress, 75);
    ForwardFFT(logPolar, (sideA ? work_.LogPolarSpectrumA : work_.LogPolarSpectrumB).data(), N_);
    Publish(name, progress, 100);
}

} // namespace merkanix::registration
