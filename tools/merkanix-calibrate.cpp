// merkanix-calibrate: the optical centre of a camera from two millimetre-paper
// frames taken at two stage positions, without the calibration window, so
// that a calibration can be scripted, logged and repeated.
#include "app/NumberText.h"
#include "calibration/CentreSearch.h"
#include "tools/ToolSupport.h"

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

int Calibrate(int argc, char** argv) {
    std::string paths[2];
    int images = 0;
    CentreSearchSettings settings;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "-h" || option == "--help") {
            std::fputs(kUsage.c_str(), stdout);
            return 0;
        }
        if (option.rfind("--", 0) != 0) {
            if (images == 2) throw UsageError("more than two images: '" + option + "'");
            paths[images++] = option;
            continue;
        }
        std::string value;
        const std::size_t equals = option.find('=');
        if (equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
        } else {
            if (i + 1 >= argc) throw UsageError(option + " needs a value");
            value = argv[++i];
        }
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

    CalibrationImage image1, image2;
    LoadCalibrationFrame(paths[0], image1);
    LoadCalibrationFrame(paths[1], image2);

    constexpr int kGauge = 1200;
    tools::ProgressBar bar("registering", kGauge);
    registration::RegistrationProgress progress;
    progress.gaugeMaximum = kGauge;
    progress.setGauge = [&](int position) {
        if (position > 0) bar.Update(static_cast<std::size_t>(position));
    };
    CentreSearchResult r;
    FindCentre(image1, image2, settings, r, progress);
    bar.Finish();

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
    const auto reading1 = StageReading(std::filesystem::path(paths[0]).filename().string());
    const auto reading2 = StageReading(std::filesystem::path(paths[1]).filename().string());
    if (reading1 && reading2)
        std::printf("ds %s\n", FormatFixed(std::fabs(*reading1 - *reading2), 3, '.').c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return merkanix::tools::RunTool("merkanix-calibrate", kUsage,
                                    [&] { return Calibrate(argc, argv); });
}
