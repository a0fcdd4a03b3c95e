// merkanix-simulate: writes synthetic frame triples of a known fibre and a
// truth file, for testing the measurement end to end.
#include "app/DateTime.h"
#include "app/Errors.h"
#include "app/Evaluation.h"
#include "app/Settings.h"
#include "simulation/FrameSimulator.h"
#include "simulation/TiffFrameWriter.h"
#include "tools/ToolSupport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

using namespace merkanix;
using merkanix::tools::UsageError;

const std::string kUsage = R"(usage: merkanix-simulate OUTDIR [options]

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

constexpr std::string_view kValueOptions[] = {
    "--triples", "--extra",      "--seed",  "--settings",    "--diameter-min", "--diameter-max",
    "--ovality", "--offset-max", "--start", "--interval",    "--jitter",       "--tolerance",
    "--noise",   "--blur",       "--tilt",  "--supersample", "--bright",       "--dark"};

struct Arguments {
    std::string outDir;
    std::string settingsFile;
    simulation::RunOptions run;
    simulation::RenderOptions render;
};

Arguments ParseArguments(int argc, char** argv, bool& help) {
    Arguments args;
    constexpr std::int64_t kMaxMs = std::int64_t{1} << 40;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "-h" || option == "--help") {
            help = true;
            return args;
        }
        if (option.rfind("--", 0) != 0) {
            if (!args.outDir.empty()) throw UsageError("more than one OUTDIR: '" + option + "'");
            args.outDir = option;
            continue;
        }
        if (option == "--reverse") {
            args.render.reverse = true;
            continue;
        }
        std::string value;
        const std::size_t equals = option.find('=');
        if (equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            if (option == "--reverse") throw UsageError("--reverse takes no value");
        }
        if (std::find(std::begin(kValueOptions), std::end(kValueOptions), option) ==
            std::end(kValueOptions))
            throw UsageError("unknown option " + option);
        if (equals == std::string::npos) {
            if (i + 1 >= argc) throw UsageError(option + " needs a value");
            value = argv[++i];
        }
        const auto real = [&] { return tools::OptionReal(option, value); };
        const auto integer = [&](std::int64_t min, std::int64_t max) {
            return tools::OptionInteger(option, value, min, max);
        };
        auto& run = args.run;
        auto& render = args.render;
        if (option == "--triples")
            run.triples = static_cast<int>(integer(0, 1000000));
        else if (option == "--extra")
            run.extras = static_cast<int>(integer(0, 1000000));
        else if (option == "--seed")
            run.seed =
                static_cast<std::uint64_t>(integer(0, std::numeric_limits<std::int64_t>::max()));
        else if (option == "--settings")
            args.settingsFile = value;
        else if (option == "--diameter-min")
            run.diameterMin = real();
        else if (option == "--diameter-max")
            run.diameterMax = real();
        else if (option == "--ovality")
            run.ovalityMax = real();
        else if (option == "--offset-max")
            run.offsetMax = real();
        else if (option == "--start")
            run.start = ParseStart(value);
        else if (option == "--interval")
            run.intervalMs = integer(1, kMaxMs);
        else if (option == "--jitter")
            run.jitterMs = integer(0, kMaxMs);
        else if (option == "--tolerance")
            run.toleranceMs = integer(0, kMaxMs);
        else if (option == "--noise")
            render.noiseSigma = real();
        else if (option == "--blur")
            render.blurSigma = real();
        else if (option == "--tilt")
            render.tilt = real();
        else if (option == "--supersample")
            render.supersample = static_cast<int>(integer(0, 4096));
        else if (option == "--bright")
            render.bright = real();
        else if (option == "--dark")
            render.dark = real();
        else
            throw UsageError("unknown option " + option);
    }
    if (args.outDir.empty()) throw UsageError("OUTDIR is missing");

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

int Simulate(int argc, char** argv) {
    bool help = false;
    const Arguments args = ParseArguments(argc, argv, help);
    if (help) {
        std::fputs(kUsage.c_str(), stdout);
        return 0;
    }
    const SystemTexts texts =
        args.settingsFile.empty() ? DefaultCameraTexts(',') : ReadSettingsFile(args.settingsFile);
    const simulation::RunPlan plan = simulation::PlanRun(ParseCameraSetups(texts, ','), args.run);

    const std::filesystem::path folder(args.outDir);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) ThrowFileError("Cannot create folder", args.outDir, error.value());
    // Frames left from another run would pair up with these ones.
    if (HoldsFrames(folder))
        throw Error("\"" + args.outDir + "\" already holds camera frames; use an empty folder");

    std::vector<const simulation::PlannedFrame*> frames;
    for (const auto& triple : plan.triples)
        for (const auto& frame : triple.frames)
            frames.push_back(&frame);
    for (const auto& frame : plan.extras)
        frames.push_back(&frame);

    tools::ProgressBar progress("frames", frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const simulation::PlannedFrame& frame = *frames[i];
        simulation::WriteFrameFile(
            (folder / frame.fileName).string(),
            simulation::RenderBand(frame.band, args.render, frame.noiseSeed));
        progress.Update(i + 1);
    }
    progress.Finish();

    const std::string truth = simulation::TruthJson(plan, args.run, args.render);
    simulation::ReplaceFileContents((folder / "truth.json").string(), truth.data(), truth.size());
    std::fprintf(stderr, "merkanix-simulate: %zu triples, %zu extra frames in %s\n",
                 plan.triples.size(), plan.extras.size(), args.outDir.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return merkanix::tools::RunTool("merkanix-simulate", kUsage,
                                    [&] { return Simulate(argc, argv); });
}
