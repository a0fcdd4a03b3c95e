// merkanix-simulate: writes synthetic frame triples of a known fibre and a
// truth file, for testing the measurement end to end.
#include "common/DateTime.h"
#include "common/Errors.h"
#include "common/FileIO.h"
#include "measurement/Evaluation.h"
#include "measurement/Settings.h"
#include "simulation/CalibrationSimulator.h"
#include "simulation/FrameSimulator.h"
#include "simulation/TiffFrameWriter.h"
#include "tools/ToolSupport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

using namespace merkanix;
using merkanix::tools::UsageError;

const std::string kUsage = R"(usage: merkanix-simulate OUTDIR [options]
       merkanix-simulate OUTDIR --calibration [calibration options]
       merkanix-simulate OUTDIR --optimisation [options]

Writes frame triples (one 656x492 16-bit TIFF frame per camera, named
CameraK_YYYYMMDD_HHMMSS_mmm.tif) of a fibre with random cross-sections, and
OUTDIR/truth.json with the camera parameters and, per triple, the file names,
capture times, true ellipse, equivalent diameter and tangent rows.

Run:
  --triples N          frame triples to write (default 10)
  --extra N            single frames between the triples that match nothing (0)
  --seed N             random seed; equal seeds give equal files (1)
  --settings FILE      camera parameters from a 17-line settings file
                       (default: the program's start values)
Fibre (millimetres):
  --diameter-min MM    smallest equivalent diameter (0.2)
  --diameter-max MM    largest equivalent diameter (1.2)
  --ovality X          largest (a - b) / a, below 1 (0)
  --offset-max MM      largest distance of the centre from the origin (0.3)
Times (milliseconds):
  --start TIME         first triple, "YYYY-MM-DD HH:MM:SS.mmm"
                       (2008-04-15 09:30:12.000)
  --interval MS        between triples (1000)
  --jitter MS          each frame's time moves by up to +-MS (0)
  --tolerance MS       matching tolerance the times must suit (50); rejected
                       when jitter or extras could join or split triples
Picture:
  --noise SIGMA        additive Gaussian noise in 16-bit counts (0)
  --blur SIGMA         Gaussian blur across the band, in rows (0)
  --tilt R             band shift in rows per column (0.002)
  --supersample N      N sub-rows per row instead of exact coverage (0)
  --bright V           background level in counts (50000)
  --dark V             fibre level in counts (8000)
  --reverse            bright fibre on a dark background
  -h, --help           this text

Calibration (--calibration): two frames of millimetre paper on a flat target
at two stage positions, named CameraK_YYYYMMDD_HHMMSS_mmm_RR,RR.tif with the
stage reading RR,RR (mm) from the 29th character, then etalon frames
CameraK_YYYYMMDD_HHMMSS_mmm.tif, and OUTDIR/truth.json. The reading falls as
the target moves away: it stands ZERO - reading mm from the lens.
  --camera K           the camera, 1 to 3 (1)
  --focal MM           true focal length (23)
  --centre-x PX        true optical centre column (318.4)
  --centre-y PX        true optical centre row (252.7)
  --reading1 MM        stage reading of image 1 (35)
  --reading2 MM        stage reading of image 2 (30)
  --zero-distance MM   target distance at reading 0 (85)
  --paper-angle DEG    the ruling's turn against the sensor rows (0.4)
  --vignette V         light lost at the frame corners, 0 to 1 (0.2)
  --gradient G         light lost from left to right, 0 to 1 (0.1)
  --etalon-diameter MM etalon diameter (1.020)
  --etalons N          etalon frames, seen from the camera's position in the
                       settings (1)
  --cameras N          1, or 3 for a whole calibration: every camera of the
                       settings, its own f, xc and yc included, with its paper
                       pair and etalon frames, the etalon at the origin; the
                       truth file adds the marker columns of the focal-length
                       page for each camera (1)
  --noise, --blur      as above, blur in pixels (200, 0.8)
  --bright, --dark     paper and ink levels (42000, 9000)
  --seed, --settings, --start, --tilt, --reverse as above

Optimisation (--optimisation): what a calibration by optimisation needs, for
the true cameras of the settings: OUTDIR/basic/ with one frame per camera of
the etalon at the origin, OUTDIR/triples/ with --triples etalon triples, the
etalon anywhere within --offset-max of the origin, each with its truth.json.
  --etalon-diameter MM etalon diameter (1.020)
  --triples, --offset-max, --seed, --settings, --start, --interval and the
  picture options as above

Exit status: 0 done, 1 error, 2 bad command line.
)";

DateTimeParts ParseStart(std::string_view text) {
    // YYYY-MM-DD HH:MM:SS[.mmm], 'T' allowed between date and time.
    DateTimeParts t;
    const auto field = [&](std::size_t at, std::size_t length, int& out) {
        if (at + length > text.size()) return false;
        const char* first = text.data() + at;
        auto [end, ec] = std::from_chars(first, first + length, out);
        return ec == std::errc() && end == first + length;
    };
    const auto separator = [&](std::size_t at, std::string_view allowed) {
        return at < text.size() && allowed.find(text[at]) != std::string_view::npos;
    };
    const bool ok = (text.size() == 19 || text.size() == 23) && field(0, 4, t.year) &&
                    separator(4, "-") && field(5, 2, t.month) && separator(7, "-") &&
                    field(8, 2, t.day) && separator(10, " T") && field(11, 2, t.hour) &&
                    separator(13, ":") && field(14, 2, t.minute) && separator(16, ":") &&
                    field(17, 2, t.second) &&
                    (text.size() == 19 || (separator(19, ".") && field(20, 3, t.millisecond)));
    if (!ok)
        throw UsageError("--start: '" + std::string(text) + "' is not YYYY-MM-DD HH:MM:SS.mmm");
    try {
        EncodeDateTime(t);
    } catch (const ConversionError&) {
        throw UsageError("--start: '" + std::string(text) + "' is not a valid date and time");
    }
    if (t.year < 1900) throw UsageError("--start: the year must be 1900 or later");
    return t;
}

struct Arguments {
    std::string outDir;
    std::string settingsFile;
    simulation::RunOptions run;
    simulation::RenderOptions render;
    bool calibration = false;
    bool optimisation = false;
    int cameras = 1;
    simulation::CalibrationRun calibrationRun;
    std::set<std::string> given;
};

// The calibration run's picture options: those given, or the paper's defaults.
void CheckCalibration(Arguments& args) {
    auto& cal = args.calibrationRun;
    auto& paper = cal.paper;
    const auto given = [&](const char* option) { return args.given.count(option) > 0; };
    if (args.cameras == 2) throw UsageError("--cameras must be 1 or 3");
    // With all three cameras the settings give each camera's truth.
    if (args.cameras == 3)
        for (const char* option : {"--camera", "--focal", "--centre-x", "--centre-y"})
            if (given(option))
                throw UsageError(std::string(option) +
                                 " does not apply to --cameras 3: the settings give every camera");
    if (given("--noise")) paper.noiseSigma = args.render.noiseSigma;
    if (given("--blur")) paper.blurSigma = args.render.blurSigma;
    if (given("--bright")) paper.bright = args.render.bright;
    if (given("--dark")) paper.dark = args.render.dark;
    cal.etalonRender = args.render;
    cal.etalonRender.noiseSigma = paper.noiseSigma;
    cal.etalonRender.blurSigma = paper.blurSigma;
    if (!(cal.truth.f > 0) || !std::isfinite(cal.truth.f))
        throw UsageError("--focal must be positive");
    if (!(cal.truth.xc >= 0 && cal.truth.xc <= kFrameWidth - 1) ||
        !(cal.truth.yc >= 0 && cal.truth.yc <= kFrameHeight - 1))
        throw UsageError("the optical centre must lie in the frame");
    for (const double reading : {cal.reading1, cal.reading2})
        if (!(std::fabs(reading) <= 99.99))
            throw UsageError("stage readings must lie within -99.99 ... 99.99 mm");
    if (!(paper.zeroDistance - std::max(cal.reading1, cal.reading2) > 0) ||
        !std::isfinite(paper.zeroDistance))
        throw UsageError("--zero-distance must put the target in front of the lens");
    if (!(paper.noiseSigma >= 0) || !(paper.blurSigma >= 0 && paper.blurSigma <= 50))
        throw UsageError("--noise must not be negative and --blur must lie in 0..50");
    if (!(paper.vignette >= 0 && paper.vignette < 1) ||
        !(paper.gradient >= 0 && paper.gradient < 1))
        throw UsageError("--vignette and --gradient must lie in [0, 1)");
    if (!std::isfinite(paper.paperAngle)) throw UsageError("--paper-angle must be a number");
    if (!(cal.etalonDiameter > 0) || !std::isfinite(cal.etalonDiameter))
        throw UsageError("--etalon-diameter must be positive");
    for (const double level : {paper.bright, paper.dark})
        if (!(level >= 0 && level <= 65535))
            throw UsageError("--bright and --dark must lie in 0..65535");
    cal.start = args.run.start;
    cal.seed = args.run.seed;
}

// The kind of run an option belongs to.
enum class RunKind { Both, Triples, Calibration };

// An option's value as the setters read it.
struct OptionValue {
    const std::string& option;
    const std::string& text;
    double Real() const { return tools::OptionReal(option, text); }
    std::int64_t Integer(std::int64_t min, std::int64_t max) const {
        return tools::OptionInteger(option, text, min, max);
    }
};

// An option that takes a value: its name, its kind of run, and what it sets.
struct ValueOption {
    std::string_view name;
    RunKind kind;
    void (*apply)(Arguments& args, const OptionValue& value);
};

constexpr std::int64_t kMaxMs = std::int64_t{1} << 40;

// Within each kind of run in the order a refused option is reported.
constexpr ValueOption kValueOptions[] = {
    {"--camera", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) {
         a.calibrationRun.camera = static_cast<int>(v.Integer(1, 3));
     }},
    {"--focal", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) { a.calibrationRun.truth.f = v.Real(); }},
    {"--centre-x", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) { a.calibrationRun.truth.xc = v.Real(); }},
    {"--centre-y", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) { a.calibrationRun.truth.yc = v.Real(); }},
    {"--reading1", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) { a.calibrationRun.reading1 = v.Real(); }},
    {"--reading2", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) { a.calibrationRun.reading2 = v.Real(); }},
    {"--zero-distance", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) { a.calibrationRun.paper.zeroDistance = v.Real(); }},
    {"--paper-angle", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) { a.calibrationRun.paper.paperAngle = v.Real(); }},
    {"--vignette", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) { a.calibrationRun.paper.vignette = v.Real(); }},
    {"--gradient", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) { a.calibrationRun.paper.gradient = v.Real(); }},
    {"--etalon-diameter", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) { a.calibrationRun.etalonDiameter = v.Real(); }},
    {"--cameras", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) { a.cameras = static_cast<int>(v.Integer(1, 3)); }},
    {"--etalons", RunKind::Calibration,
     [](Arguments& a, const OptionValue& v) {
         a.calibrationRun.etalons = static_cast<int>(v.Integer(0, 1000));
     }},
    {"--triples", RunKind::Triples,
     [](Arguments& a, const OptionValue& v) {
         a.run.triples = static_cast<int>(v.Integer(0, 1000000));
     }},
    {"--extra", RunKind::Triples,
     [](Arguments& a, const OptionValue& v) {
         a.run.extras = static_cast<int>(v.Integer(0, 1000000));
     }},
    {"--diameter-min", RunKind::Triples,
     [](Arguments& a, const OptionValue& v) { a.run.diameterMin = v.Real(); }},
    {"--diameter-max", RunKind::Triples,
     [](Arguments& a, const OptionValue& v) { a.run.diameterMax = v.Real(); }},
    {"--ovality", RunKind::Triples,
     [](Arguments& a, const OptionValue& v) { a.run.ovalityMax = v.Real(); }},
    {"--offset-max", RunKind::Triples,
     [](Arguments& a, const OptionValue& v) { a.run.offsetMax = v.Real(); }},
    {"--interval", RunKind::Triples,
     [](Arguments& a, const OptionValue& v) { a.run.intervalMs = v.Integer(1, kMaxMs); }},
    {"--jitter", RunKind::Triples,
     [](Arguments& a, const OptionValue& v) { a.run.jitterMs = v.Integer(0, kMaxMs); }},
    {"--tolerance", RunKind::Triples,
     [](Arguments& a, const OptionValue& v) { a.run.toleranceMs = v.Integer(0, kMaxMs); }},
    {"--supersample", RunKind::Triples,
     [](Arguments& a, const OptionValue& v) {
         a.render.supersample = static_cast<int>(v.Integer(0, 4096));
     }},
    {"--seed", RunKind::Both,
     [](Arguments& a, const OptionValue& v) {
         a.run.seed =
             static_cast<std::uint64_t>(v.Integer(0, std::numeric_limits<std::int64_t>::max()));
     }},
    {"--settings", RunKind::Both,
     [](Arguments& a, const OptionValue& v) { a.settingsFile = v.text; }},
    {"--start", RunKind::Both,
     [](Arguments& a, const OptionValue& v) { a.run.start = ParseStart(v.text); }},
    {"--noise", RunKind::Both,
     [](Arguments& a, const OptionValue& v) { a.render.noiseSigma = v.Real(); }},
    {"--blur", RunKind::Both,
     [](Arguments& a, const OptionValue& v) { a.render.blurSigma = v.Real(); }},
    {"--tilt", RunKind::Both, [](Arguments& a, const OptionValue& v) { a.render.tilt = v.Real(); }},
    {"--bright", RunKind::Both,
     [](Arguments& a, const OptionValue& v) { a.render.bright = v.Real(); }},
    {"--dark", RunKind::Both, [](Arguments& a, const OptionValue& v) { a.render.dark = v.Real(); }},
};

const ValueOption* FindValueOption(std::string_view name) {
    for (const ValueOption& option : kValueOptions)
        if (option.name == name) return &option;
    return nullptr;
}

// An option of frame-triple runs with --calibration, or the reverse.
void RefuseForeignOptions(const Arguments& args) {
    if (args.optimisation) {
        if (args.calibration) throw UsageError("--optimisation does not apply to --calibration");
        // Every etalon frame shows the one etalon.
        for (const ValueOption& option : kValueOptions) {
            const bool etalonSize = option.name == "--diameter-min" ||
                                    option.name == "--diameter-max" || option.name == "--ovality";
            if (args.given.count(std::string(option.name)) &&
                (etalonSize ||
                 (option.kind == RunKind::Calibration && option.name != "--etalon-diameter")))
                throw UsageError(std::string(option.name) + " does not apply to --optimisation");
        }
        return;
    }
    const RunKind foreign = args.calibration ? RunKind::Triples : RunKind::Calibration;
    for (const ValueOption& option : kValueOptions)
        if (option.kind == foreign && args.given.count(std::string(option.name)))
            throw UsageError(std::string(option.name) + (args.calibration
                                                             ? " does not apply to --calibration"
                                                             : " needs --calibration"));
}

void CheckTripleRun(const Arguments& args) {
    const auto& run = args.run;
    const auto& render = args.render;
    if (!(run.diameterMin > 0) || !(run.diameterMax >= run.diameterMin))
        throw UsageError("diameters must satisfy 0 < --diameter-min <= --diameter-max");
    if (!(run.ovalityMax >= 0 && run.ovalityMax < 1))
        throw UsageError("--ovality must lie in [0, 1)");
    if (!(run.offsetMax >= 0)) throw UsageError("--offset-max must not be negative");
    if (!(render.noiseSigma >= 0) || !(render.blurSigma >= 0))
        throw UsageError("--noise and --blur must not be negative");
    if (!std::isfinite(render.tilt) || std::abs(render.tilt) > 0.05)
        throw UsageError("--tilt must lie within +-0.05 rows per column");
    for (const double level : {render.bright, render.dark})
        if (!(level >= 0 && level <= 65535))
            throw UsageError("--bright and --dark must lie in 0..65535");
    if (const auto problem = simulation::TimingProblem(run)) throw UsageError(*problem);
}

Arguments ParseArguments(int argc, char** argv, bool& help) {
    Arguments args;
    tools::ArgumentReader reader(argc, argv);
    while (reader.Next()) {
        const std::string& option = reader.Name();
        if (reader.Text() == "-h" || reader.Text() == "--help") {
            help = true;
            return args;
        }
        if (!reader.IsOption()) {
            if (!args.outDir.empty()) throw UsageError("more than one OUTDIR: '" + option + "'");
            args.outDir = option;
        } else if (option == "--reverse" || option == "--calibration" ||
                   option == "--optimisation") {
            reader.RefuseValue();
            (option == "--reverse"       ? args.render.reverse
             : option == "--calibration" ? args.calibration
                                         : args.optimisation) = true;
        } else if (const ValueOption* known = FindValueOption(option)) {
            const std::string value = reader.Value();
            args.given.insert(option);
            known->apply(args, OptionValue{option, value});
        } else {
            throw UsageError("unknown option " + option);
        }
    }
    if (args.outDir.empty()) throw UsageError("OUTDIR is missing");
    RefuseForeignOptions(args);
    if (args.optimisation) {
        const double diameter = args.calibrationRun.etalonDiameter;
        if (!(diameter > 0) || !std::isfinite(diameter))
            throw UsageError("--etalon-diameter must be positive");
        args.run.diameterMin = args.run.diameterMax = diameter;
        args.run.ovalityMax = 0;
    }
    if (args.calibration)
        CheckCalibration(args);
    else
        CheckTripleRun(args);
    return args;
}

bool HoldsFrames(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("Camera1", 0) == 0 || name.rfind("Camera2", 0) == 0 ||
            name.rfind("Camera3", 0) == 0)
            return true;
    }
    return false;
}

std::filesystem::path PrepareFolder(const std::string& outDir) {
    const std::filesystem::path folder(outDir);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) ThrowFileError("Cannot create folder", outDir, error.value());
    // Frames left from another run would pair up with these ones.
    if (HoldsFrames(folder))
        throw Error("\"" + outDir + "\" already holds camera frames; use an empty folder");
    return folder;
}

// Every camera of the settings, with the truth of the whole system.
int SimulateSystemCalibration(const Arguments& args, const std::array<CameraSetup, 3>& cameras) {
    const auto runs = simulation::SystemCalibrationRuns(args.calibrationRun, cameras);
    std::array<std::vector<simulation::CalibrationFrame>, 3> frames;
    for (std::size_t k = 0; k < 3; ++k)
        frames[k] = simulation::RenderCalibrationRun(runs[k]);
    const std::string truth = simulation::SystemCalibrationTruthJson(runs, frames);

    const std::filesystem::path folder = PrepareFolder(args.outDir);
    for (const auto& camera : frames)
        for (const auto& frame : camera)
            simulation::WriteFrameFile((folder / frame.fileName).string(), frame.samples);
    ReplaceFileContents((folder / "truth.json").string(), truth);
    std::fprintf(stderr,
                 "merkanix-simulate: 3 cameras, 2 paper frames and %d etalon frames each, in %s\n",
                 args.calibrationRun.etalons, args.outDir.c_str());
    return 0;
}

int SimulateCalibration(Arguments args, const std::array<CameraSetup, 3>& cameras) {
    if (args.cameras == 3) return SimulateSystemCalibration(args, cameras);
    simulation::CalibrationRun& run = args.calibrationRun;
    // The etalon is seen from where the settings put the camera, through the
    // simulated focal length and centre.
    run.etalonCamera = cameras[static_cast<std::size_t>(run.camera - 1)];
    run.etalonCamera.f = run.truth.f;
    run.etalonCamera.xc = run.truth.xc;
    run.etalonCamera.yc = run.truth.yc;
    simulation::PlacePaper(run);

    const std::filesystem::path folder = PrepareFolder(args.outDir);
    const std::vector<simulation::CalibrationFrame> frames = simulation::RenderCalibrationRun(run);
    for (const auto& frame : frames)
        simulation::WriteFrameFile((folder / frame.fileName).string(), frame.samples);
    const std::string truth = simulation::CalibrationTruthJson(run, frames);
    ReplaceFileContents((folder / "truth.json").string(), truth);
    std::fprintf(stderr, "merkanix-simulate: 2 paper frames, %d etalon frames in %s\n", run.etalons,
                 args.outDir.c_str());
    return 0;
}

// The frames of a planned run and its truth file.
void WriteRun(const std::filesystem::path& folder, const simulation::RunPlan& plan,
              const simulation::RunOptions& run, const simulation::RenderOptions& render) {
    std::vector<const simulation::PlannedFrame*> frames;
    for (const auto& triple : plan.triples)
        for (const auto& frame : triple.frames)
            frames.push_back(&frame);
    for (const auto& frame : plan.extras)
        frames.push_back(&frame);

    tools::ProgressBar progress("frames", frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const simulation::PlannedFrame& frame = *frames[i];
        simulation::WriteFrameFile((folder / frame.fileName).string(),
                                   simulation::RenderBand(frame.band, render, frame.noiseSeed));
        progress.Update(i + 1);
    }
    progress.Finish();
    ReplaceFileContents((folder / "truth.json").string(), simulation::TruthJson(plan, run, render));
}

// The basic-position frames (the etalon at the origin) and the etalon triples.
int SimulateOptimisation(const Arguments& args, const std::array<CameraSetup, 3>& cameras) {
    simulation::RunOptions basic = args.run;
    basic.triples = 1;
    basic.offsetMax = 0;
    basic.seed = simulation::DeriveSeed(args.run.seed, 1u << 20);
    const simulation::RunPlan basicPlan = simulation::PlanRun(cameras, basic);
    const simulation::RunPlan triplePlan = simulation::PlanRun(cameras, args.run);

    const std::filesystem::path folder(args.outDir);
    WriteRun(PrepareFolder((folder / "basic").string()), basicPlan, basic, args.render);
    WriteRun(PrepareFolder((folder / "triples").string()), triplePlan, args.run, args.render);
    std::fprintf(stderr,
                 "merkanix-simulate: 3 basic-position etalon frames, %zu etalon triples in %s\n",
                 triplePlan.triples.size(), args.outDir.c_str());
    return 0;
}

int Simulate(int argc, char** argv) {
    bool help = false;
    const Arguments args = ParseArguments(argc, argv, help);
    if (help) {
        std::fputs(kUsage.c_str(), stdout);
        return 0;
    }
    const SystemTexts texts =
        args.settingsFile.empty() ? DefaultCameraTexts(',') : ReadSettingsFile(args.settingsFile);
    if (args.calibration) return SimulateCalibration(args, ParseCameraSetups(texts, ','));
    const std::array<CameraSetup, 3> cameras = ParseCameraSetups(texts, ',');
    if (args.optimisation) return SimulateOptimisation(args, cameras);
    const simulation::RunPlan plan = simulation::PlanRun(cameras, args.run);
    WriteRun(PrepareFolder(args.outDir), plan, args.run, args.render);
    std::fprintf(stderr, "merkanix-simulate: %zu triples, %zu extra frames in %s\n",
                 plan.triples.size(), plan.extras.size(), args.outDir.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return merkanix::tools::RunTool("merkanix-simulate", kUsage,
                                    [&] { return Simulate(argc, argv); });
}
