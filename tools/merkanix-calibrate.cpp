// merkanix-calibrate: the optical centre of a camera from two millimetre-paper
// frames taken at two stage positions, without the calibration window, so
// that a calibration can be scripted, logged and repeated.
#include "calibration/CentreSearch.h"
#include "common/NumberText.h"
#include "tools/ToolSupport.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

using namespace merkanix;
using merkanix::tools::UsageError;

const std::string kUsage = R"(usage: merkanix-calibrate IMAGE1 IMAGE2 [options]

Registers two frames of millimetre paper (656x492 16-bit frame files) taken
at two stage positions and prints the magnification and rotation between
them, the quality of each registration (peak height in standard deviations
of the correlation surface), the shift dx, dy of the rescaled image, the
refinement passes and the optical centre (xc, yc) in pixels.

  --low-pass N     low-pass strength; 0 for none (32)
  --window W       refinement window, W x W pixels (9)
  --passes P       most refinement passes (50)
  --epsilon E      refinement stops when a pass moves less than E px (0.000001)
  -h, --help       this text

Exit status: 0 done, 1 error, 2 bad command line.
)";

std::string Number(double value) {
    return FormatGeneral(value, '.');
}

struct Arguments {
    std::string paths[2];
    CentreSearchSettings settings;
    bool help = false;
};

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
        const std::string value = reader.Value();
        CentreSearchSettings& settings = args.settings;
        if (option == "--low-pass")
            settings.lowPass = static_cast<int>(tools::OptionInteger(option, value, 0, 1024));
        else if (option == "--window")
            settings.window = static_cast<int>(tools::OptionInteger(option, value, 1, 255));
        else if (option == "--passes")
            settings.maximumPasses =
                static_cast<int>(tools::OptionInteger(option, value, 1, 1000000));
        else if (option == "--epsilon") {
            settings.epsilon = tools::OptionReal(option, value);
            if (!(settings.epsilon > 0)) throw UsageError("--epsilon must be positive");
        } else
            throw UsageError("unknown option " + option);
    }
    if (images < 2) throw UsageError("two images are needed");
    return args;
}

void PrintResult(const CentreSearchResult& r, const std::string& path1, const std::string& path2) {
    std::printf("magnification %s\n", Number(r.rotationScale.magnification).c_str());
    std::printf("rotation %s\n", Number(r.rotationScale.angle).c_str());
    std::printf("rotation_quality %s\n", Number(r.rotationScale.quality).c_str());
    std::printf("dx %s\n", Number(r.dx).c_str());
    std::printf("dy %s\n", Number(r.dy).c_str());
    std::printf("translation_quality %s\n", Number(r.translation.quality).c_str());
    std::printf("passes %d\n", r.subPixel.iterations);
    std::printf("xc %s\n", Number(r.centre.x).c_str());
    std::printf("yc %s\n", Number(r.centre.y).c_str());
    // The focal-length step needs the stage difference the names carry.
    const auto reading1 = StageReading(std::filesystem::path(path1).filename().string(), '.');
    const auto reading2 = StageReading(std::filesystem::path(path2).filename().string(), '.');
    if (reading1 && reading2)
        std::printf("ds %s\n", FormatFixed(std::fabs(*reading1 - *reading2), 3, '.').c_str());
}

int Calibrate(int argc, char** argv) {
    const Arguments args = ParseArguments(argc, argv);
    if (args.help) {
        std::fputs(kUsage.c_str(), stdout);
        return 0;
    }
    CalibrationImage image1, image2;
    LoadCalibrationFrame(args.paths[0], image1);
    LoadCalibrationFrame(args.paths[1], image2);

    constexpr int kGauge = 1200;
    tools::ProgressBar bar("registering", kGauge);
    registration::RegistrationProgress progress;
    progress.gaugeMaximum = kGauge;
    progress.setGauge = [&](int position) {
        if (position > 0) bar.Update(static_cast<std::size_t>(position));
    };
    CentreSearchResult r;
    FindCentre(image1, image2, args.settings, r, progress);
    bar.Finish();
    PrintResult(r, args.paths[0], args.paths[1]);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return merkanix::tools::RunTool("merkanix-calibrate", kUsage,
                                    [&] { return Calibrate(argc, argv); });
}
