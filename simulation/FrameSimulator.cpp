#include "simulation/FrameSimulator.h"

#include "common/Errors.h"
#include "common/NumberText.h"
#include "measurement/FrameFile.h"
#include "simulation/TiffFrameWriter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <string_view>

namespace merkanix::simulation {

// --- Random numbers ----------------------------------------------------------

double RandomSource::Uniform() {
    return static_cast<double>(engine_() >> 11) * 0x1.0p-53;
}

double RandomSource::Uniform(double low, double high) {
    return low + (high - low) * Uniform();
}

std::int64_t RandomSource::UniformInteger(std::int64_t low, std::int64_t high) {
    if (high < low) throw std::invalid_argument("empty integer range");
    const std::uint64_t span = static_cast<std::uint64_t>(high) - static_cast<std::uint64_t>(low);
    if (span == std::numeric_limits<std::uint64_t>::max())
        return static_cast<std::int64_t>(engine_());
    const std::uint64_t count = span + 1;
    // Reject the top remainder so that every value is equally likely.
    const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() -
                                std::numeric_limits<std::uint64_t>::max() % count;
    std::uint64_t draw = engine_();
    while (draw >= limit)
        draw = engine_();
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(low) + draw % count);
}

double RandomSource::Normal() {
    if (haveSpare_) {
        haveSpare_ = false;
        return spare_;
    }
    const double u1 = 1.0 - Uniform(); // (0, 1]: the logarithm stays finite
    const double u2 = Uniform();
    const double radius = std::sqrt(-2.0 * std::log(u1));
    const double angle = 2.0 * std::numbers::pi * u2;
    spare_ = radius * std::sin(angle);
    haveSpare_ = true;
    return radius * std::cos(angle);
}

std::uint64_t DeriveSeed(std::uint64_t seed, std::uint64_t index) {
    // SplitMix64: neighbouring indices give unrelated engine states.
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ull * (index + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// --- Camera geometry ---------------------------------------------------------

namespace {

// Cosine and sine of the camera's turn from camera 3's view along +y.
struct ViewTurn {
    double c = 1.0;
    double s = 0.0;
};

ViewTurn CameraTurn(std::string_view name) {
    const double half3 = std::sqrt(3.0) / 2;
    if (name == "CAM3") return {1.0, 0.0};
    if (name == "CAM1") return {-0.5, -half3};
    if (name == "CAM2") return {-0.5, half3};
    throw std::invalid_argument("unknown camera '" + std::string(name) + "'");
}

} // namespace

BandRows TangentRows(const CameraSetup& camera, const EllipseParams& fibre) {
    if (!(fibre.semiMinor > 0) || !(fibre.semiMajor >= fibre.semiMinor) ||
        !std::isfinite(fibre.semiMajor) || !std::isfinite(fibre.centreX) ||
        !std::isfinite(fibre.centreY) || !std::isfinite(fibre.angle))
        throw std::invalid_argument("the fibre needs finite semi-axes a >= b > 0");
    if (!(camera.f > 0)) throw std::invalid_argument("focal length must be positive");
    const ViewTurn turn = CameraTurn(camera.name);

    // Work in the camera's own frame: lens at the origin, looking along +y.
    // The line of sight of sensor offset d runs along (-d, f), and its normal
    // is (f, d); it meets the ellipse where (n.P)^2 <= n^T M n, P the centre
    // and M the ellipse's shape matrix. With n = (f, d) that is a quadratic
    // in d whose roots are the two tangents.
    const double dx = fibre.centreX - camera.x;
    const double dy = fibre.centreY - camera.y;
    const double p = turn.c * dx + turn.s * dy;
    const double q = -turn.s * dx + turn.c * dy;
    const double phi = fibre.angle * std::numbers::pi / 180.0;
    const double ux = turn.c * std::cos(phi) + turn.s * std::sin(phi);
    const double uy = -turn.s * std::cos(phi) + turn.c * std::sin(phi);
    const double wx = -uy, wy = ux;
    const double a2 = fibre.semiMajor * fibre.semiMajor;
    const double b2 = fibre.semiMinor * fibre.semiMinor;
    const double q11 = p * p - (a2 * ux * ux + b2 * wx * wx);
    const double q12 = p * q - (a2 * ux * uy + b2 * wx * wy);
    const double q22 = q * q - (a2 * uy * uy + b2 * wy * wy);
    const double discriminant = q12 * q12 - q11 * q22;
    // q22 > 0: the whole fibre lies in front of the lens, so the band is finite.
    if (!(q > 0) || !(q22 > 0) || !(discriminant > 0))
        throw Error(std::string(camera.name) + " does not see the fibre in front of its lens");
    const double k = -(q12 + std::copysign(std::sqrt(discriminant), q12));
    const double d1 = camera.f * k / q22;
    const double d2 = camera.f * q11 / k; // product of the roots, without cancellation
    const double r1 = camera.yc + d1 / kPixelPitch;
    const double r2 = camera.yc + d2 / kPixelPitch;
    return {std::min(r1, r2), std::max(r1, r2)};
}

// --- Rendering ---------------------------------------------------------------

namespace {

double Phi(double z) {
    return 0.5 * std::erfc(-z * std::numbers::sqrt2 / 2);
}

// Antiderivative of Phi: integral of a blurred edge over a stretch of rows.
double PhiIntegral(double z) {
    return z * Phi(z) + std::exp(-0.5 * z * z) / std::sqrt(2.0 * std::numbers::pi);
}

double BlurredBand(double x, double top, double bottom, double sigma) {
    if (sigma == 0.0) return x >= top && x <= bottom ? 1.0 : 0.0;
    return Phi((x - top) / sigma) - Phi((x - bottom) / sigma);
}

// Beyond this many sigmas a blurred edge is a step to double precision.
constexpr double kBlurReach = 8.5;

} // namespace

double RowCoverage(int row, double top, double bottom, double blurSigma, int supersample) {
    const double low = row - 0.5, high = row + 0.5;
    const double reach = kBlurReach * blurSigma;
    if (high <= top - reach || low >= bottom + reach) return 0.0;
    if (low >= top + reach && high <= bottom - reach) return 1.0;
    if (supersample > 0) {
        double sum = 0.0;
        for (int k = 0; k < supersample; ++k)
            sum += BlurredBand(low + (k + 0.5) / supersample, top, bottom, blurSigma);
        return sum / supersample;
    }
    double covered = 0.0;
    if (blurSigma == 0.0) {
        covered = std::min(high, bottom) - std::max(low, top);
    } else {
        const double s = blurSigma;
        covered = s * (PhiIntegral((high - top) / s) - PhiIntegral((low - top) / s) -
                       PhiIntegral((high - bottom) / s) + PhiIntegral((low - bottom) / s));
    }
    return std::clamp(covered, 0.0, 1.0);
}

std::vector<std::uint16_t> RenderBand(const BandRows& band, const RenderOptions& options,
                                      std::uint64_t noiseSeed) {
    if (!(options.blurSigma >= 0) || !(options.noiseSigma >= 0) || options.supersample < 0 ||
        !std::isfinite(options.tilt) || !std::isfinite(band.top) || !std::isfinite(band.bottom))
        throw std::invalid_argument("render options out of range");
    const double ground = options.reverse ? options.dark : options.bright;
    const double fibre = options.reverse ? options.bright : options.dark;

    // The band's profile depends on the column only through its shift, so
    // it is built once per column and the noise added in row order after.
    std::vector<double> clean(kFrameSamples);
    for (int column = 0; column < kFrameWidth; ++column) {
        const double shift = options.tilt * (column - kFrameMiddleColumn);
        const double top = band.top + shift, bottom = band.bottom + shift;
        for (int row = 0; row < kFrameHeight; ++row) {
            const double cover =
                RowCoverage(row, top, bottom, options.blurSigma, options.supersample);
            clean[static_cast<std::size_t>(row) * kFrameWidth + column] =
                ground + (fibre - ground) * cover;
        }
    }

    return NoisySamples(clean, options.noiseSigma, noiseSeed);
}

std::vector<std::uint16_t> NoisySamples(const std::vector<double>& clean, double noiseSigma,
                                        std::uint64_t noiseSeed) {
    RandomSource noise(noiseSeed);
    std::vector<std::uint16_t> samples(clean.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        double value = clean[i];
        if (noiseSigma > 0) value += noiseSigma * noise.Normal();
        samples[i] = static_cast<std::uint16_t>(RoundHalfEven(std::clamp(value, 0.0, 65535.0)));
    }
    return samples;
}

// --- Runs --------------------------------------------------------------------

std::optional<std::string> TimingProblem(const RunOptions& o) {
    if (o.intervalMs <= 0) return "the interval must be positive";
    if (o.jitterMs < 0) return "the jitter must not be negative";
    if (o.toleranceMs < 0) return "the tolerance must not be negative";
    const std::int64_t spread = 2 * o.jitterMs;
    if (2 * spread >= o.intervalMs)
        return "twice the jitter (" + std::to_string(spread) +
               " ms) must stay below half the interval (" + std::to_string(o.intervalMs) + " ms)";
    if (spread > o.toleranceMs)
        return "twice the jitter (" + std::to_string(spread) +
               " ms) exceeds the tolerance: triples would fall apart";
    // A difference can read one millisecond short, hence the extra margin.
    const std::int64_t nearestForeign =
        o.extras > 0 ? o.intervalMs / 2 - o.jitterMs : o.intervalMs - spread;
    if (nearestForeign <= o.toleranceMs + 1)
        return "frames of different moments come within " + std::to_string(nearestForeign) +
               " ms, not more than the tolerance apart: lengthen the interval";
    return std::nullopt;
}

namespace {

constexpr std::int64_t kMsPerDay = 86400000;

// Capture times are whole milliseconds; keeping them as integers until the
// end gives the same day count the frame name reads back to.
struct Clock {
    std::int64_t startMs = 0; // since the day-count epoch

    explicit Clock(const DateTimeParts& start) {
        DateTimeParts midnight{start.year, start.month, start.day, 0, 0, 0, 0};
        const auto day = static_cast<std::int64_t>(EncodeDateTime(midnight));
        // Day counts before the epoch run backwards within the day.
        if (day < 1) throw std::invalid_argument("start before 1900");
        EncodeDateTime(start); // rejects an impossible time of day
        startMs = day * kMsPerDay +
                  ((start.hour * 60 + start.minute) * 60 + start.second) * std::int64_t{1000} +
                  start.millisecond;
    }

    DateTimeParts At(std::int64_t offsetMs) const {
        const std::int64_t total = startMs + offsetMs;
        std::int64_t day = total / kMsPerDay, ms = total % kMsPerDay;
        if (ms < 0) {
            ms += kMsPerDay;
            --day;
        }
        DateTimeParts parts = DecodeDateTime(static_cast<double>(day));
        parts.hour = static_cast<int>(ms / 3600000);
        parts.minute = static_cast<int>(ms / 60000 % 60);
        parts.second = static_cast<int>(ms / 1000 % 60);
        parts.millisecond = static_cast<int>(ms % 1000);
        return parts;
    }
};

EllipseParams DrawFibre(RandomSource& random, const RunOptions& o) {
    const double diameter = random.Uniform(o.diameterMin, o.diameterMax);
    const double ovality = random.Uniform(0.0, o.ovalityMax);
    const double angle = random.Uniform(0.0, 180.0);
    const double radius = o.offsetMax * std::sqrt(random.Uniform()); // even over the disc
    const double direction = 2.0 * std::numbers::pi * random.Uniform();
    // The equivalent diameter grows in proportion to the semi-axes.
    const double a = diameter / EquivalentDiameter(1.0, 1.0 - ovality);
    EllipseParams fibre;
    fibre.semiMajor = a;
    fibre.semiMinor = a * (1.0 - ovality);
    fibre.centreX = radius * std::cos(direction);
    fibre.centreY = radius * std::sin(direction);
    fibre.angle = angle;
    return fibre;
}

// Keeps the edges clear of the frame border, where the edge finder's
// smoothing and search cannot reach them.
constexpr double kBorderRows = 4.0;

PlannedFrame PlanFrame(const std::array<CameraSetup, 3>& cameras, int camera,
                       const EllipseParams& fibre, const Clock& clock, std::int64_t offsetMs,
                       std::uint64_t noiseSeed, const std::string& what) {
    PlannedFrame frame;
    frame.camera = camera;
    frame.parts = clock.At(offsetMs);
    frame.time = EncodeDateTime(frame.parts);
    frame.fileName = FrameFileName(camera, frame.parts);
    frame.fibre = fibre;
    frame.band = TangentRows(cameras[static_cast<std::size_t>(camera - 1)], fibre);
    frame.noiseSeed = noiseSeed;
    if (frame.band.top < kBorderRows || frame.band.bottom > kFrameHeight - 1 - kBorderRows)
        throw Error("the fibre of " + what + " leaves the frame of camera " +
                    std::to_string(camera) + " (rows " + FormatRoundTrip(frame.band.top) + " to " +
                    FormatRoundTrip(frame.band.bottom) +
                    "): make it smaller or keep it nearer the middle");
    return frame;
}

} // namespace

RunPlan PlanRun(const std::array<CameraSetup, 3>& cameras, const RunOptions& o) {
    if (o.triples < 0 || o.extras < 0) throw std::invalid_argument("negative frame count");
    if (!(o.diameterMin > 0) || !(o.diameterMax >= o.diameterMin) || !std::isfinite(o.diameterMax))
        throw std::invalid_argument("diameters must satisfy 0 < min <= max");
    if (!(o.ovalityMax >= 0) || !(o.ovalityMax < 1))
        throw std::invalid_argument("ovality must lie in [0, 1)");
    if (!(o.offsetMax >= 0) || !std::isfinite(o.offsetMax))
        throw std::invalid_argument("the centre offset must not be negative");
    if (const auto problem = TimingProblem(o)) throw std::invalid_argument(*problem);

    RunPlan plan;
    plan.cameras = cameras;
    const Clock clock(o.start);
    RandomSource random(DeriveSeed(o.seed, 0));
    std::uint64_t frameCount = 0;

    plan.triples.reserve(static_cast<std::size_t>(o.triples));
    for (int i = 0; i < o.triples; ++i) {
        PlannedTriple triple;
        triple.index = i + 1;
        triple.fibre = DrawFibre(random, o);
        triple.diameter = EquivalentDiameter(triple.fibre.semiMajor, triple.fibre.semiMinor);
        for (int camera = 1; camera <= 3; ++camera) {
            const std::int64_t offset =
                i * o.intervalMs + random.UniformInteger(-o.jitterMs, o.jitterMs);
            triple.frames[static_cast<std::size_t>(camera - 1)] =
                PlanFrame(cameras, camera, triple.fibre, clock, offset,
                          DeriveSeed(o.seed, ++frameCount), "triple " + std::to_string(i + 1));
        }
        plan.triples.push_back(std::move(triple));
    }
    // One extra per gap between moments, so that no two of them can meet.
    for (int e = 0; e < o.extras; ++e) {
        const EllipseParams fibre = DrawFibre(random, o);
        const std::int64_t offset = e * o.intervalMs + o.intervalMs / 2;
        plan.extras.push_back(PlanFrame(cameras, e % 3 + 1, fibre, clock, offset,
                                        DeriveSeed(o.seed, ++frameCount),
                                        "extra frame " + std::to_string(e + 1)));
    }
    return plan;
}

// --- Truth file --------------------------------------------------------------

namespace {

std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Number(double value) {
    return FormatRoundTrip(value);
}

std::string CaptureText(const DateTimeParts& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

template <typename Item, typename Format> std::string List(const Item& items, Format format) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        out += (i ? ", " : "") + format(items[i]);
    return out + "]";
}

} // namespace

std::string TruthJson(const RunPlan& plan, const RunOptions& run, const RenderOptions& render) {
    std::string json = "{\n";
    json += "  \"pixel_pitch\": " + Number(kPixelPitch) + ",\n";
    json += "  \"cameras\": [\n";
    for (std::size_t k = 0; k < 3; ++k) {
        const CameraSetup& c = plan.cameras[k];
        json += "    {\"name\": " + Quoted(c.name) + ", \"f\": " + Number(c.f) +
                ", \"xc\": " + Number(c.xc) + ", \"yc\": " + Number(c.yc) +
                ", \"x\": " + Number(c.x) + ", \"y\": " + Number(c.y) + "}" +
                (k < 2 ? ",\n" : "\n");
    }
    json += "  ],\n";
    json += "  \"seed\": " + std::to_string(run.seed) + ",\n";
    json += "  \"interval_ms\": " + std::to_string(run.intervalMs) +
            ", \"jitter_ms\": " + std::to_string(run.jitterMs) +
            ", \"tolerance_ms\": " + std::to_string(run.toleranceMs) + ",\n";
    json += "  \"render\": {\"bright\": " + Number(render.bright) +
            ", \"dark\": " + Number(render.dark) +
            ", \"reverse\": " + (render.reverse ? "true" : "false") +
            ", \"blur\": " + Number(render.blurSigma) +
            ", \"noise\": " + Number(render.noiseSigma) + ", \"tilt\": " + Number(render.tilt) +
            ", \"supersample\": " + std::to_string(render.supersample) + "},\n";
    json += "  \"triples\": [";
    for (std::size_t i = 0; i < plan.triples.size(); ++i) {
        const PlannedTriple& t = plan.triples[i];
        json += i ? ",\n" : "\n";
        json += "    {\"index\": " + std::to_string(t.index) + ",\n";
        json += "     \"files\": " +
                List(t.frames, [](const PlannedFrame& f) { return Quoted(f.fileName); }) + ",\n";
        json += "     \"times\": " +
                List(t.frames, [](const PlannedFrame& f) { return Number(f.time); }) + ",\n";
        json += "     \"time_texts\": " +
                List(t.frames, [](const PlannedFrame& f) { return Quoted(CaptureText(f.parts)); }) +
                ",\n";
        json += "     \"centre_x\": " + Number(t.fibre.centreX) +
                ", \"centre_y\": " + Number(t.fibre.centreY) + ",\n";
        json += "     \"a\": " + Number(t.fibre.semiMajor) +
                ", \"b\": " + Number(t.fibre.semiMinor) + ", \"angle\": " + Number(t.fibre.angle) +
                ", \"diameter\": " + Number(t.diameter) + ",\n";
        json += "     \"tangent_rows\": " +
                List(t.frames,
                     [](const PlannedFrame& f) {
                         return "[" + Number(f.band.top) + ", " + Number(f.band.bottom) + "]";
                     }) +
                "}";
    }
    json += plan.triples.empty() ? "],\n" : "\n  ],\n";
    json += "  \"extra_files\": " +
            List(plan.extras, [](const PlannedFrame& f) { return Quoted(f.fileName); }) + "\n";
    return json + "}\n";
}

} // namespace merkanix::simulation
