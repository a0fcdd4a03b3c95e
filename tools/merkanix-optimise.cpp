// merkanix-optimise: calibration by optimisation without a window. The
// three focal lengths are refined by steepest descent until the etalon
// triples of a folder reconstruct as circles of the etalon's diameter.
#include "common/Errors.h"
#include "common/NumberText.h"
#include "measurement/Edges.h"
#include "measurement/FrameFile.h"
#include "measurement/Settings.h"
#include "measurement/Triples.h"
#include "optimisation/EtalonOptimisation.h"
#include "tools/ToolSupport.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace merkanix;
using merkanix::tools::UsageError;

const std::string kUsage =
    R"(usage: merkanix-optimise FOLDER --etalon FILE1 FILE2 FILE3 [options]

Finds the etalon triples of FOLDER, measures the etalon's edges in them and
in the three basic-position frames FILE1..FILE3 (etalon at the origin, one
frame per camera), and refines the focal lengths f1, f2, f3 by steepest
descent until the reconstructed etalon is a circle of the given diameter.
Numbers are written with '.'.

  --tolerance MS        triple matching tolerance (50)
  --diameter MM         etalon diameter (1.020)
  --f F1,F2,F3          start focal lengths, mm (16,16,16; one value for all)
  --xc X1,X2,X3         optical centre columns, handed on only (327.5)
  --yc Y1,Y2,Y3         optical centre rows (245.5)
  --variant N           1 sum |R-a|+|R-b| of the mean ellipses, 2 the same
                        squared, 3 and 4 the same over the six ellipses (2)
  --step H              half-width of the central difference, mm (0.1)
  --kappa K             gain of the descent step (10000)
  --epsilon E           stop when g <= E (0.000001)
  --max-grad G          stop when the gradient norm <= G (0.000000000001)
  --time S              time limit in seconds, tested between passes (15)
  --max-passes N        at most N passes, for runs that do not depend on the
                        machine's speed (no bound)
  --evaluate            print the seven sums g0 g1- g1+ g2- g2+ g3- g3+ at
                        the start focal lengths and stop
  --csv                 one row per pass: pass,f1,f2,f3,g0,grad1,grad2,grad3,norm,best
  --settings FILE       write the fifteen camera texts (best f, xc, yc and the
                        positions at the best f) as a 17-line settings file
  --jobs N              threads (all cores); results do not depend on it
  --subpixel-edges      every etalon edge between rows instead of the whole row
                        before the largest change (as merkanix-measure --subpixel-edges)
  -h, --help            this text

Exit status: 0 done, 1 error (a run that fails on an invalid floating-point
operation prints what it reached first), 2 bad command line.
)";

struct Arguments {
    std::string folder;
    std::array<std::string, 3> etalon;
    std::string tolerance = "50";
    DescentTexts texts = DefaultDescentTexts('.');
    std::array<std::string, 3> xc{"327.5", "327.5", "327.5"};
    ObjectiveVariant variant = ObjectiveVariant::MeanSquared;
    std::int64_t maxPasses = 0;
    bool evaluate = false, csv = false, help = false;
    EdgeMode edgeMode = EdgeMode::WholeRows;
    std::string settingsFile;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
};

std::string RealText(const std::string& option, const std::string& value) {
    tools::OptionReal(option, value);
    return value;
}

// One value for all three cameras, or three separated by commas.
std::array<std::string, 3> ThreeTexts(const std::string& option, const std::string& value) {
    std::vector<std::string> parts(1);
    for (const char c : value)
        if (c == ',')
            parts.emplace_back();
        else
            parts.back() += c;
    if (parts.size() == 1) parts = {parts[0], parts[0], parts[0]};
    if (parts.size() != 3) throw UsageError(option + " needs one or three values");
    for (const std::string& part : parts)
        RealText(option, part);
    return {parts[0], parts[1], parts[2]};
}

Arguments ParseArguments(int argc, char** argv) {
    Arguments args;
    tools::ArgumentReader reader(argc, argv);
    while (reader.Next()) {
        const std::string& option = reader.Name();
        if (reader.Text() == "-h" || reader.Text() == "--help") {
            args.help = true;
            return args;
        }
        if (!reader.IsOption()) {
            if (!args.folder.empty()) throw UsageError("more than one FOLDER: '" + option + "'");
            args.folder = option;
        } else if (option == "--subpixel-edges") {
            reader.RefuseValue();
            args.edgeMode = EdgeMode::SubPixel;
        } else if (option == "--evaluate" || option == "--csv") {
            reader.RefuseValue();
            (option == "--csv" ? args.csv : args.evaluate) = true;
        } else if (option == "--etalon") {
            args.etalon[0] = reader.Value();
            for (int k = 1; k < 3; ++k) {
                if (!reader.Next() || reader.IsOption())
                    throw UsageError("--etalon needs three files, one per camera");
                args.etalon[k] = reader.Text();
            }
        } else {
            const std::string value = reader.Value();
            DescentTexts& t = args.texts;
            if (option == "--tolerance")
                args.tolerance = RealText(option, value);
            else if (option == "--diameter")
                t.diameter = RealText(option, value);
            else if (option == "--f")
                t.f = ThreeTexts(option, value);
            else if (option == "--xc")
                args.xc = ThreeTexts(option, value);
            else if (option == "--yc")
                t.yc = ThreeTexts(option, value);
            else if (option == "--variant")
                args.variant =
                    static_cast<ObjectiveVariant>(tools::OptionInteger(option, value, 1, 4));
            else if (option == "--step")
                t.step = RealText(option, value);
            else if (option == "--kappa")
                t.kappa = RealText(option, value);
            else if (option == "--epsilon")
                t.epsilon = RealText(option, value);
            else if (option == "--max-grad")
                t.sufficientGradient = RealText(option, value);
            else if (option == "--time")
                t.timeLimit = RealText(option, value);
            else if (option == "--max-passes")
                args.maxPasses = tools::OptionInteger(option, value, 1, std::int64_t{1} << 40);
            else if (option == "--settings")
                args.settingsFile = value;
            else if (option == "--jobs")
                args.jobs = static_cast<unsigned>(tools::OptionInteger(option, value, 1, 256));
            else
                throw UsageError("unknown option " + option);
        }
    }
    if (args.folder.empty()) throw UsageError("FOLDER is missing");
    if (args.etalon[0].empty()) throw UsageError("--etalon FILE1 FILE2 FILE3 is missing");
    return args;
}

void PrintRow(const PassReport& r) {
    const auto n = [](double v) { return FormatRoundTrip(v); };
    const std::string nan = "nan";
    std::printf("%lld,%s,%s,%s,%s,%s,%s,%s,%s,%s\n", static_cast<long long>(r.pass),
                n(r.f[0]).c_str(), n(r.f[1]).c_str(), n(r.f[2]).c_str(), n(r.sums[kG0]).c_str(),
                (r.gradientShown ? n(r.gradient[0]) : nan).c_str(),
                (r.gradientShown ? n(r.gradient[1]) : nan).c_str(),
                (r.gradientShown ? n(r.gradient[2]) : nan).c_str(),
                (r.gradientShown ? n(r.norm) : nan).c_str(), n(r.best).c_str());
}

void PrintTableRow(const PassReport& r) {
    std::printf("%6lld  %-17s %-17s %-17s %-17s %-17s %s\n", static_cast<long long>(r.pass),
                r.fTexts[0].c_str(), r.fTexts[1].c_str(), r.fTexts[2].c_str(), r.g0Text.c_str(),
                r.gradientShown ? r.normText.c_str() : "-", r.improved ? "*" : "");
}

const char* StopText(DescentStop stop) {
    switch (stop) {
    case DescentStop::SmallObjective:
        return "g <= epsilon";
    case DescentStop::SmallGradient:
        return "gradient norm <= max grad";
    case DescentStop::TimeLimit:
        return "time limit";
    case DescentStop::PassLimit:
        return "pass limit";
    case DescentStop::Cancelled:
        return "cancelled";
    case DescentStop::Failed:
        break;
    }
    return "failed";
}

int Optimise(int argc, char** argv) {
    const Arguments args = ParseArguments(argc, argv);
    if (args.help) {
        std::fputs(kUsage.c_str(), stdout);
        return 0;
    }
    DescentSettings settings;
    try {
        settings = ReadDescentSettings(args.texts, '.');
    } catch (const ConversionError& e) {
        throw UsageError(e.what());
    }

    std::array<Picture, 3> etalon;
    for (int k = 0; k < 3; ++k)
        LoadFrame(args.etalon[k], etalon[k]);
    const CameraEdges reference = MeasureReferenceEdges({&etalon[0], &etalon[1], &etalon[2]},
                                                        {true, true, true}, args.edgeMode);
    const EtalonTripleTable triples =
        FindEtalonTriples(args.folder, ListFolderFiles(args.folder), args.tolerance, '.');
    std::vector<CameraEdges> edges = MeasureTripleEdges(triples, args.jobs, args.edgeMode);

    if (args.evaluate) {
        ObjectiveData data{settings.diameter, settings.yc, reference, std::move(edges)};
        const SearchSums sums =
            EtalonObjective(data, settings.f, settings.step, args.variant, args.jobs);
        for (int p = 0; p < kSearchPoints; ++p)
            std::printf("%s %s\n", kSearchPointNames[p], FormatRoundTrip(sums[p]).c_str());
        return 0;
    }

    DescentRun run;
    run.settings = settings;
    run.bestObjective = args.texts.bestObjective;
    run.reference = reference;
    run.triples = std::move(edges);
    run.variant = [v = args.variant] { return v; };
    run.decimalSeparator = '.';
    run.jobs = args.jobs;
    run.maxPasses = args.maxPasses;

    if (args.csv)
        std::puts("pass,f1,f2,f3,g0,grad1,grad2,grad3,norm,best");
    else
        std::printf("%zu etalon triples\n%6s  %-17s %-17s %-17s %-17s %-17s %s\n", triples.size(),
                    "pass", "f1", "f2", "f3", "g", "|grad|", "best");
    const auto started = std::chrono::steady_clock::now();
    const auto limitMs = static_cast<std::size_t>(std::max(0.0, settings.timeLimit) * 1000);
    tools::ProgressBar progress("time", std::max<std::size_t>(limitMs, 1));
    const DescentOutcome outcome = GradientDescent(run, args.texts.f, [&](const PassReport& r) {
        if (args.csv)
            PrintRow(r);
        else
            PrintTableRow(r);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
        progress.Update(std::min<std::size_t>(static_cast<std::size_t>(ms.count()), limitMs));
    });
    progress.Finish();
    std::fflush(stdout);

    const auto& p = outcome.bestPositionTexts;
    std::fprintf(args.csv ? stderr : stdout,
                 "%lld passes, stopped by %s\nbest g %s\nf %s %s %s\n"
                 "CAM1 x %s y %s\nCAM2 x %s y %s\nCAM3 x %s y %s\n",
                 static_cast<long long>(outcome.passes), StopText(outcome.stop),
                 outcome.bestText.c_str(), outcome.bestFTexts[0].c_str(),
                 outcome.bestFTexts[1].c_str(), outcome.bestFTexts[2].c_str(), p[0].c_str(),
                 p[1].c_str(), p[2].c_str(), p[3].c_str(), p[4].c_str(), p[5].c_str());

    if (!args.settingsFile.empty()) {
        for (const Point2D& position : outcome.bestPositions)
            if (!std::isfinite(position.x) || !std::isfinite(position.y))
                throw Error("no camera position at the best focal lengths, so \"" +
                            args.settingsFile + "\" is not written");
        SystemTexts texts;
        for (int k = 0; k < 3; ++k)
            texts[k] = {outcome.bestFTexts[k], args.xc[k], args.texts.yc[k], p[2 * k],
                        p[2 * k + 1]};
        WriteSettingsFile(args.settingsFile, texts);
    }
    if (!outcome.error.empty()) throw Error(outcome.error);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return merkanix::tools::RunTool("merkanix-optimise", kUsage,
                                    [&] { return Optimise(argc, argv); });
}
