#pragma once
// The fifteen camera texts and the 17-line settings file that carries them.
#include <array>
#include <string>

namespace merkanix {

struct CameraTexts {
    std::string f, xc, yc, x, y;
};
using SystemTexts = std::array<CameraTexts, 3>; // CAM1, CAM2, CAM3

// The main window's start values written with the given separator.
SystemTexts DefaultCameraTexts(char decimalSeparator);

// 17 lines ended by CR LF; the texts unparsed. Replaces the file atomically.
// Throws InOutError.
void WriteSettingsFile(const std::string& path, const SystemTexts& texts);
// Missing lines read as empty texts; lines 6 and 12 are ignored. Throws
// InOutError.
SystemTexts ReadSettingsFile(const std::string& path);

// The numbers of one camera, parsed when a measurement uses them.
struct CameraSetup {
    const char* name = "CAM1";
    double f = 0, xc = 0, yc = 0, x = 0, y = 0;
};

} // namespace merkanix
