// merkanix-calibrate: one camera's calibration without the calibration
// window, so that it can be scripted, logged and repeated: the optical centre
// from two millimetre-paper frames, the focal length from the farther one,
// and with an etalon frame the camera's position. The steps are the window's
// own, and their results pass between them as the texts the window shows.
#include "calibration/CalibrationSteps.h"
#include "common/Errors.h"
#include "common/NumberText.h"
#include "measurement/Settings.h"
#include "registration/HistoUnit.h"
#include "tools/ToolSupport.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace {

using namespace merkanix;
using merkanix::tools::UsageError;

const std::string kUsage = R"(usage: merkanix-calibrate IMAGE1 IMAGE2 [options]

Calibrates one camera as its calibration window does. IMAGE1 and IMAGE2 are
frames of millimetre paper (656x492 16-bit frame files) taken at two stage
positions, the reading in each name from its 29th character. Prints one
"name value" line per result: the magnification and rotation between the
frames with their quality (peak height in standard deviations of the
correlation surface), the shift dx, dy of the rescaled frame, the refinement
passes, the optical centre xc, yc (px), the stage difference ds (mm), the
final threshold tf, the size of one millimetre mm (px) in the farther frame
and the focal length f (mm); with --etalon also the etalon's edge rows u, l
(px) and the camera position x, y (mm).

Optical centre:
  --low-pass N          low-pass strength; 0 for none (32)
  --window W            refinement window, W x W pixels (9)
  --passes P            most refinement passes (50)
  --epsilon E           refinement stops when a pass moves less than E px (0.000001)
Focal length, on the farther frame (the smaller reading):
  --kernel K            illumination correction kernel, 3..491; 3..125 for CAM2, CAM3 (79)
  --filter-passes N     box-filter passes, 1..10 (2)
  --columns C1 C2       two marked columns, 0..655; stripes of period |C1 - C2| are removed
  --period P            stripes of period P are removed instead (0..655)
  --threshold iterative|T   the iterative threshold, or T (0..255) by hand (iterative)
  --t0 T0               start of the iterative threshold, 0..255 (128)
  --eps E               the iterative threshold stops when it moves less than E (0.000001)
Camera position:
  --etalon FILE         a frame of the etalon
  --camera CAM1|CAM2|CAM3   the camera (CAM1)
  --diameter D          the etalon's diameter in mm (1.020)
  --subpixel-edges      the etalon's edges between rows instead of the whole row
                        before the largest change (as merkanix-measure --subpixel-edges)
  --settings FILE       writes this camera's f, xc, yc, x, y into the 17-line settings
                        file FILE (created with the start values when missing)
  -h, --help            this text

Exit status: 0 done, 1 error, 2 bad command line.
)";

struct Arguments {
    std::string paths[2];
    std::string etalon, settingsFile;
    CentreSearchSettings centre;
    int kernel = 79, filterPasses = 2;
    std::optional<int> column1, column2, period;
    std::optional<int> manualThreshold; // none: iterative
    int t0 = 128;
    std::string eps = "0.000001";
    std::string camera = "CAM1";
    std::string diameter = "1.020";
    EdgeMode edgeMode = EdgeMode::WholeRows;
    bool help = false;
};

int Integer(const std::string& option, const std::string& value, int min, int max) {
    return static_cast<int>(tools::OptionInteger(option, value, min, max));
}

// A real option kept as the text the window would hold; either separator reads.
std::string RealText(const std::string& option, const std::string& value) {
    try {
        ParseReal(value, '.');
    } catch (const ConversionError&) {
        throw UsageError(option + ": '" + value + "' is not a number");
    }
    return value;
}

Arguments ParseArguments(int argc, char** argv) {
    Arguments args;
    int images = 0;
    tools::ArgumentReader reader(argc, argv);
    while (reader.Next()) {
        const std::string& option = reader.Name();
        if (reader.Text() == "-h" || reader.Text() == "--help") {
            args.help = true;
            return args;
        }
        if (!reader.IsOption()) {
            if (images == 2) throw UsageError("more than two images: '" + option + "'");
            args.paths[images++] = option;
            continue;
        }
        if (option == "--subpixel-edges") {
            reader.RefuseValue();
            args.edgeMode = EdgeMode::SubPixel;
            continue;
        }
        const std::string value = reader.Value();
        CentreSearchSettings& centre = args.centre;
        if (option == "--low-pass") {
            centre.lowPass = Integer(option, value, 0, 1024);
        } else if (option == "--window") {
            centre.window = Integer(option, value, 1, 255);
        } else if (option == "--passes") {
            centre.maximumPasses = Integer(option, value, 1, 1000000);
        } else if (option == "--epsilon") {
            centre.epsilon = tools::OptionReal(option, value);
            if (!(centre.epsilon > 0)) throw UsageError("--epsilon must be positive");
        } else if (option == "--kernel") {
            args.kernel = Integer(option, value, 3, 491);
        } else if (option == "--filter-passes") {
            args.filterPasses = Integer(option, value, 1, 10);
        } else if (option == "--columns") {
            args.column1 = Integer(option, value, 0, kFrameWidth - 1);
            if (!reader.Next() || reader.IsOption())
                throw UsageError("--columns needs two columns");
            args.column2 = Integer(option, reader.Text(), 0, kFrameWidth - 1);
        } else if (option == "--period") {
            args.period = Integer(option, value, 0, kFrameWidth - 1);
        } else if (option == "--threshold") {
            if (value == "iterative")
                args.manualThreshold.reset();
            else
                args.manualThreshold = Integer(option, value, 0, 255);
        } else if (option == "--t0") {
            args.t0 = Integer(option, value, 0, 255);
        } else if (option == "--eps") {
            args.eps = RealText(option, value);
        } else if (option == "--etalon") {
            args.etalon = value;
        } else if (option == "--camera") {
            if (value != "CAM1" && value != "CAM2" && value != "CAM3")
                throw UsageError("--camera: '" + value + "' is not CAM1, CAM2 or CAM3");
            args.camera = value;
        } else if (option == "--diameter") {
            args.diameter = RealText(option, value);
        } else if (option == "--settings") {
            args.settingsFile = value;
        } else {
            throw UsageError("unknown option " + option);
        }
    }
    if (images < 2) throw UsageError("two images are needed");
    if (args.column1 && args.period) throw UsageError("--columns and --period exclude each other");
    // The kernel's spin box of the CAM2 and CAM3 windows stops at 125.
    if (args.camera != "CAM1" && args.kernel > 125)
        throw UsageError("--kernel: " + std::to_string(args.kernel) +
                         " is out of range 3..125 for " + args.camera);
    return args;
}

// Anything but a regular file of at least one frame would be read as a
// frame all the same (a FIFO would even block the read): refuse it here.
void CheckFrameFile(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) ThrowFileError("Cannot open file", path, errno);
    if (!S_ISREG(status.st_mode))
        throw InOutError("\"" + path + "\" is not a regular file, so not a frame file");
    if (status.st_size < kFrameFileBytes)
        throw InOutError("\"" + path + "\" holds " + std::to_string(status.st_size) +
                         " bytes, fewer than a frame file's " + std::to_string(kFrameFileBytes));
}

void Warn(const std::string& message) {
    std::fprintf(stderr, "merkanix-calibrate: warning: %s\n", message.c_str());
}

template <typename Values> bool Constant(const Values& values) {
    return std::adjacent_find(values.begin(), values.end(), std::not_equal_to<>()) == values.end();
}

void Print(const char* name, double value) {
    std::printf("%s %s\n", name, FormatRoundTrip(value).c_str());
    std::fflush(stdout);
}

// The stage reading of a file name and its text, as opening the image reads them.
struct Reading {
    float distance = 0.0f; // stays 0 when the name gives no number
    bool valid = false;
};

Reading ReadingOf(const std::string& path) {
    Reading r;
    if (const auto value = StageReading(std::filesystem::path(path).filename().string(), '.')) {
        r.distance = static_cast<float>(*value);
        r.valid = true;
    }
    return r;
}

// The camera's five texts into the settings file, the other cameras kept.
void WriteSettings(const Arguments& args, const CameraTexts& texts) {
    const std::string& path = args.settingsFile;
    SystemTexts all =
        std::filesystem::exists(path) ? ReadSettingsFile(path) : DefaultCameraTexts('.');
    CameraTexts& camera = all[static_cast<std::size_t>(args.camera.back() - '1')];
    camera.f = texts.f;
    camera.xc = texts.xc;
    camera.yc = texts.yc;
    // Without an etalon there is no position: the one in the file stays.
    if (!args.etalon.empty()) {
        camera.x = texts.x;
        camera.y = texts.y;
    }
    WriteSettingsFile(path, all);
}

int Calibrate(int argc, char** argv) {
    const Arguments args = ParseArguments(argc, argv);
    if (args.help) {
        std::fputs(kUsage.c_str(), stdout);
        return 0;
    }
    CheckFrameFile(args.paths[0]);
    CheckFrameFile(args.paths[1]);
    if (!args.etalon.empty()) CheckFrameFile(args.etalon);

    // Opening image 1, then image 2.
    CalibrationImage images[2];
    Reading readings[2];
    for (int i = 0; i < 2; ++i) {
        LoadCalibrationFrame(args.paths[i], images[i]);
        if (Constant(images[i]))
            Warn("\"" + args.paths[i] + "\" is the same grey all over; no centre can be found");
        readings[i] = ReadingOf(args.paths[i]);
        if (!readings[i].valid)
            Warn("\"" + args.paths[i] + "\" carries no stage reading from its 29th character");
    }
    std::string dsText;
    if (readings[0].valid && readings[1].valid)
        dsText = FormatStageDifference(readings[0].distance, readings[1].distance, '.');
    int farther = FartherImage(true, false, readings[0].distance, readings[1].distance, 1);
    if (const int chosen = FartherImage(true, true, readings[0].distance, readings[1].distance, 2))
        farther = chosen;

    // "HLEDAT" on the optical-centre page.
    constexpr int kGauge = 1200;
    tools::ProgressBar bar("registering", kGauge);
    registration::RegistrationProgress progress;
    progress.gaugeMaximum = kGauge;
    progress.setGauge = [&](int position) {
        if (position > 0) bar.Update(static_cast<std::size_t>(position));
    };
    CentreSearchResult r;
    FindCentre(images[0], images[1], args.centre, r, progress);
    bar.Finish();
    const CentreSearchTexts centre = FormatCentreSearch(r, '.');
    Print("magnification", r.rotationScale.magnification);
    Print("rotation", r.rotationScale.angle);
    Print("rotation_quality", r.rotationScale.quality);
    Print("dx", r.dx);
    Print("dy", r.dy);
    Print("translation_quality", r.translation.quality);
    std::printf("passes %d\n", r.subPixel.iterations);
    Print("xc", r.centre.x);
    Print("yc", r.centre.y);
    if (!dsText.empty()) Print("ds", ParseReal(dsText, '.'));

    // The focal-length page: the farther image, its illumination corrected,
    // the marked view, the stripes removed, the threshold, "HLEDAT".
    Picture farView, corrected(kFrameWidth, kFrameHeight), view;
    DrawCalibrationImage(images[farther - 1], farView);
    IlluminationCorrection(farView, corrected, args.kernel, args.filterPasses);
    MarkColumns(corrected, args.column1.value_or(0), args.column2.value_or(0), view);
    if (args.period || args.column1)
        SuppressStripes(corrected, view,
                        args.period.value_or(std::abs(*args.column1 - *args.column2)));
    Picture binary(kFrameWidth, kFrameHeight);
    if (args.manualThreshold) {
        ThresholdPicture(view, *args.manualThreshold, binary);
    } else {
        Print("tf", registration::IterativeThreshold(view, binary, ParseReal(args.eps, '.'),
                                                     static_cast<double>(args.t0)));
    }
    // What a step showed before it failed is printed too, as the window keeps it.
    FocalLengthTexts focal;
    const auto printFocal = [&focal] {
        if (focal.millimetreShown) Print("mm", focal.millimetreValue);
        if (focal.focalLengthShown) Print("f", focal.focalLengthValue);
        if (focal.millimetreShown && std::isnan(focal.millimetreValue))
            Warn("fewer than two ruled lines across the farther frame; --columns or --period "
                 "removes the vertical ones");
    };
    try {
        FindFocalLengthTexts(binary, centre.xc, centre.yc, dsText, centre.dy, '.', focal);
    } catch (const Error&) {
        printFocal();
        throw;
    }
    printFocal();

    // The etalon page: "Otevřít", then "Nastavit".
    CameraTexts handOver{focal.focalLength, centre.xc, centre.yc, "", ""};
    if (!args.etalon.empty()) {
        Picture etalonView(kFrameWidth, kFrameHeight);
        LoadFrame(args.etalon, etalonView);
        if (Constant(etalonView.bgr))
            Warn("\"" + args.etalon + "\" is the same grey all over; no edges can be found");
        EtalonTexts etalon;
        const auto printEtalon = [&etalon] {
            if (etalon.edgesShown) {
                Print("u", etalon.edges.top);
                Print("l", etalon.edges.bottom);
            }
            if (etalon.positionShown) {
                Print("x", etalon.position.x);
                Print("y", etalon.position.y);
            }
        };
        try {
            MeasureEtalon(etalonView, args.camera, focal.focalLength, centre.xc, centre.yc,
                          args.diameter, '.', etalon, args.edgeMode);
        } catch (const Error&) {
            printEtalon();
            throw;
        }
        printEtalon();
        if (!etalon.positionFound)
            Warn("the camera position is out of reach (focal length, centre row, edge rows or "
                 "diameter out of range), so 0, 0 is shown");
        handOver.x = etalon.x;
        handOver.y = etalon.y;
        if (!args.settingsFile.empty() && !etalon.positionFound)
            throw Error("no camera position, so \"" + args.settingsFile + "\" is left as it was");
    }
    if (!args.settingsFile.empty()) {
        if (!(focal.focalLengthValue > 0) || std::isinf(focal.focalLengthValue))
            throw Error("no usable focal length, so \"" + args.settingsFile +
                        "\" is left as it was");
        WriteSettings(args, handOver);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return merkanix::tools::RunTool("merkanix-calibrate", kUsage,
                                    [&] { return Calibrate(argc, argv); });
}
