#pragma once
// Synthetic camera frames of a fibre of known cross-section, seen through the
// same camera model the measurement uses, with the true answers alongside.
#include "common/DateTime.h"
#include "measurement/Settings.h"
#include "reconstruction/EllipseUnit.h"

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace merkanix::simulation {

// Reproducible random numbers: the engine's raw output is turned into
// uniform and normal values here, so that a seed gives the same frames with
// every standard library.
class RandomSource {
public:
    explicit RandomSource(std::uint64_t seed) : engine_(seed) {}
    double Uniform(); // [0, 1)
    double Uniform(double low, double high);
    std::int64_t UniformInteger(std::int64_t low, std::int64_t high); // inclusive
    double Normal();                                                  // mean 0, sigma 1

private:
    std::mt19937_64 engine_;
    bool haveSpare_ = false;
    double spare_ = 0.0;
};

// A well-mixed seed for stream `index` of a run seeded with `seed`.
std::uint64_t DeriveSeed(std::uint64_t seed, std::uint64_t index);

// The edge positions (continuous rows) whose lines of sight just touch the
// fibre: every line of sight strictly between them passes through it.
struct BandRows {
    double top = 0.0;
    double bottom = 0.0;
};

// Throws Error when the camera cannot see the fibre as a band: the lens
// inside or beside the fibre, or the fibre behind the lens.
BandRows TangentRows(const CameraSetup& camera, const EllipseParams& fibre);

struct RenderOptions {
    double bright = 50000.0; // backlight, in 16-bit counts
    double dark = 8000.0;    // fibre shadow
    bool reverse = false;    // bright fibre on a dark ground
    double blurSigma = 0.0;  // rows, Gaussian across the band
    double noiseSigma = 0.0; // counts, additive Gaussian
    double tilt = 0.002;     // rows of band shift per column, zero at the frame's middle
    int supersample = 0;     // sub-rows per pixel row; 0 integrates exactly
};

inline constexpr double kFrameMiddleColumn = 327.5;

// Dark fraction of pixel row `row` (covering edge positions row +- 0.5) for
// a band from `top` to `bottom`.
double RowCoverage(int row, double top, double bottom, double blurSigma, int supersample);

// A whole frame for a band; noise drawn from `noiseSeed`. Throws
// std::invalid_argument for options out of range or a band that is not finite.
std::vector<std::uint16_t> RenderBand(const BandRows& band, const RenderOptions& options,
                                      std::uint64_t noiseSeed);

// 16-bit samples from a clean picture: additive Gaussian noise drawn from
// `noiseSeed`, clamped to 0..65535 and rounded.
std::vector<std::uint16_t> NoisySamples(const std::vector<double>& clean, double noiseSigma,
                                        std::uint64_t noiseSeed);

// --- Runs of frame triples -------------------------------------------------

struct RunOptions {
    int triples = 10;
    int extras = 0;                              // single frames that belong to no triple
    double diameterMin = 0.2, diameterMax = 1.2; // mm, equivalent diameter
    double ovalityMax = 0.0;                     // (a - b) / a
    double offsetMax = 0.3;                      // mm, fibre centre from the origin
    DateTimeParts start{2008, 4, 15, 9, 30, 12, 0};
    std::int64_t intervalMs = 1000;
    std::int64_t jitterMs = 0;     // per frame, uniform in +-jitter
    std::int64_t toleranceMs = 50; // the matching tolerance the run must suit
    std::uint64_t seed = 1;
};

// Why the times of such a run could join or split triples at the tolerance,
// or nothing when they cannot.
std::optional<std::string> TimingProblem(const RunOptions& options);

struct PlannedFrame {
    int camera = 1; // 1..3
    std::string fileName;
    DateTimeParts parts;
    TDateTime time = 0.0;
    EllipseParams fibre;
    BandRows band;
    std::uint64_t noiseSeed = 0;
};

struct PlannedTriple {
    int index = 1; // 1-based
    EllipseParams fibre;
    double diameter = 0.0; // EquivalentDiameter of the fibre
    std::array<PlannedFrame, 3> frames;
};

struct RunPlan {
    std::array<CameraSetup, 3> cameras;
    std::vector<PlannedTriple> triples;
    std::vector<PlannedFrame> extras;
};

// Draws fibres and capture times. Throws std::invalid_argument for options
// that break the timing guarantee or are out of range, Error when a fibre
// would leave a camera's frame.
RunPlan PlanRun(const std::array<CameraSetup, 3>& cameras, const RunOptions& options);

// The truth file of a run, JSON, numbers to 17 significant digits.
std::string TruthJson(const RunPlan& plan, const RunOptions& run, const RenderOptions& render);

} // namespace merkanix::simulation
