// merkanix-measure: finds the frame triples of a folder and measures the
// fibre in each, as the main window does for one selected triple.
#include "common/Errors.h"
#include "common/NumberText.h"
#include "measurement/Evaluation.h"
#include "measurement/Settings.h"
#include "measurement/Triples.h"
#include "tools/ToolSupport.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace merkanix;
using merkanix::tools::UsageError;

namespace {

const char* const kUsage =
    "usage: merkanix-measure FOLDER [--tolerance MS] [--settings FILE] [--csv] [--jobs N]\n"
    "                        [--subpixel-edges]\n"
    "  --tolerance MS   largest time difference within a triple (default 50)\n"
    "  --settings FILE  camera parameters from a 17-line settings file\n"
    "                   (default: the main window's start values)\n"
    "  --csv            one comma-separated row per triple instead of a table\n"
    "  --jobs N         threads (default: all cores); the output does not change\n"
    "  --subpixel-edges each strip's edge between rows instead of the whole row\n"
    "                   before the largest change\n";

struct Options {
    std::string folder;
    std::string tolerance = "50";
    std::string settings;
    bool csv = false;
    unsigned jobs = 0;
    EdgeMode edgeMode = EdgeMode::WholeRows;
};

Options ParseArguments(int argc, char** argv) {
    Options o;
    tools::ArgumentReader reader(argc, argv);
    while (reader.Next()) {
        const std::string& arg = reader.Name();
        if (arg == "--tolerance") {
            o.tolerance = reader.Value();
            try {
                ParseReal(o.tolerance, '.');
            } catch (const ConversionError& e) {
                throw UsageError(std::string("--tolerance: ") + e.what());
            }
        } else if (arg == "--settings") {
            o.settings = reader.Value();
        } else if (arg == "--csv") {
            reader.RefuseValue();
            o.csv = true;
        } else if (arg == "--subpixel-edges") {
            reader.RefuseValue();
            o.edgeMode = EdgeMode::SubPixel;
        } else if (arg == "--jobs") {
            o.jobs = static_cast<unsigned>(tools::OptionInteger(arg, reader.Value(), 1, 1024));
        } else if (reader.Text() == "-h" || reader.Text() == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (!arg.empty() && arg[0] == '-') {
            throw UsageError("unknown option " + reader.Text());
        } else if (o.folder.empty()) {
            o.folder = arg;
        } else {
            throw UsageError("more than one folder given");
        }
    }
    if (o.folder.empty()) throw UsageError("no folder given");
    return o;
}

std::string BaseName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

void WriteCsv(const TripleList& triples, const std::vector<TripleResult>& results,
              std::string& out) {
    out += "triple,file1,file2,file3,span_ms,top1,bottom1,top2,bottom2,top3,bottom3,"
           "centre_x,centre_y,a,b,angle,diameter\n";
    for (std::size_t t = 0; t < triples.size(); ++t) {
        const FrameTriple& triple = triples[t];
        const TripleResult& r = results[t];
        out += std::to_string(t + 1);
        for (const std::string& path : triple.path)
            out += "," + CsvField(BaseName(path));
        out += "," + std::to_string(triple.span);
        for (const EdgePair& e : r.edges)
            out += "," + FormatRoundTrip(e.top) + "," + FormatRoundTrip(e.bottom);
        const EllipseParams& f = r.state.fibre;
        for (double v : {f.centreX, f.centreY, f.semiMajor, f.semiMinor, f.angle, r.diameter})
            out += "," + FormatRoundTrip(v);
        out += '\n';
    }
}

void WriteTable(const TripleList& triples, const std::vector<TripleResult>& results,
                std::string& out) {
    if (triples.empty()) {
        out += "No frame triples within the tolerance.\n";
        return;
    }
    char line[512];
    std::snprintf(line, sizeof line,
                  "%6s  %-10s %-12s %7s  %-17s %-17s %-17s %-20s %7s %7s %7s %9s\n", "triple",
                  "date", "CAM1 time", "span", "CAM1 edges [px]", "CAM2 edges [px]",
                  "CAM3 edges [px]", "centre [mm]", "a [mm]", "b [mm]", "angle", "diam [mm]");
    out += line;
    for (std::size_t t = 0; t < triples.size(); ++t) {
        const FrameTriple& triple = triples[t];
        const TripleResult& r = results[t];
        std::string edges[3];
        for (int k = 0; k < 3; ++k)
            edges[k] = FormatFixed(r.edges[k].top, 2, '.') + " / " +
                       FormatFixed(r.edges[k].bottom, 2, '.');
        const EllipseTexts row = FormatEllipseRow(r.state.fibre, '.');
        std::snprintf(
            line, sizeof line, "%6zu  %-10s %-12s %7s  %-17s %-17s %-17s %-20s %7s %7s %7s %9s\n",
            t + 1, IsoDateText(triple.time[0]).c_str(),
            FormatTime(triple.time[0], "hh:mm:ss.zzz").c_str(), FormatSpan(triple.span).c_str(),
            edges[0].c_str(), edges[1].c_str(), edges[2].c_str(), row.centre.c_str(), row.a.c_str(),
            row.b.c_str(), row.angle.c_str(), FormatDiameter(r.state.fibre, '.').c_str());
        out += line;
    }
}

int Run(int argc, char** argv) {
    const Options options = ParseArguments(argc, argv);
    const SystemTexts texts =
        options.settings.empty() ? DefaultCameraTexts(',') : ReadSettingsFile(options.settings);

    const std::vector<std::string> names = ListFolderFiles(options.folder);
    const TripleList triples = FindTriples(options.folder, names, options.tolerance, '.');

    std::vector<TripleResult> results;
    std::vector<std::string> shortFrames;
    {
        tools::ProgressBar bar("measuring frames", 0);
        results = EvaluateTriples(
            triples, texts, '.', options.jobs,
            [&](std::size_t done, std::size_t total) { bar.Update(done, total); }, &shortFrames,
            options.edgeMode);
    }
    // Measured all the same, as the window does; but a truncated copy should
    // not pass unnoticed in a batch.
    for (const std::string& path : shortFrames)
        std::fprintf(stderr,
                     "merkanix-measure: warning: \"%s\" is shorter than a frame; the missing "
                     "samples were read as 0\n",
                     path.c_str());

    std::string out;
    out.reserve(triples.size() * 256 + 256);
    if (options.csv) {
        WriteCsv(triples, results, out);
    } else {
        WriteTable(triples, results, out);
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
        throw InOutError("Cannot write the results to standard output");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return tools::RunTool("merkanix-measure", kUsage, [&] { return Run(argc, argv); });
}
