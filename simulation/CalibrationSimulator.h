#pragma once
// Synthetic calibration frames of one camera: millimetre paper on a flat
// target at two stage positions, seen through a pinhole camera of known
// optical centre and focal length, and frames of a cylindrical etalon.
#include "common/DateTime.h"
#include "measurement/Settings.h"
#include "simulation/FrameSimulator.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace merkanix::simulation {

// The camera whose calibration is simulated. Pixel (column u, row v) looks
// at the target point ((u - xc), (v - yc)) * pitch * Z / f at distance Z.
struct PaperCamera {
    double f = 23.0;   // mm
    double xc = 318.4; // px
    double yc = 252.7; // px
};

struct PaperOptions {
    // The stage reading falls as the target moves away from the camera:
    // the target stands zeroDistance - reading millimetres from the lens.
    double zeroDistance = 85.0;
    double paperAngle = 0.4;               // degrees, the ruling against the sensor rows
    double offsetX = 0.37, offsetY = 0.61; // mm, where the ruling crosses the optical axis
    double bright = 42000.0;               // paper, 16-bit counts
    double dark = 9000.0;                  // ink
    double blurSigma = 0.8;                // px, Gaussian
    double noiseSigma = 200.0;             // counts, additive Gaussian
    double vignette = 0.2;                 // light lost at the frame corners
    double gradient = 0.1;                 // light lost from the left edge to the right
    int supersample = 4;                   // sub-pixels per axis
};

// Millimetres on the paper per pixel at distance Z; its inverse is the
// size of one millimetre in pixels.
double PixelsPerMillimetre(const PaperCamera& camera, double distance);

// One frame of the paper at `distance` mm from the lens. Throws
// std::invalid_argument for options out of range.
std::vector<std::uint16_t> RenderPaper(const PaperCamera& camera, const PaperOptions& options,
                                       double distance, std::uint64_t noiseSeed);

// The reading as it stands in a calibration file name: two decimals with a
// decimal comma, five characters ("35,00"), six when negative ("-05,00").
// Throws std::invalid_argument outside -99.99 ... 99.99.
std::string StageReadingText(double reading);
// "CameraK_YYYYMMDD_HHMMSS_mmm_RR,RR.tif": a frame name whose reading
// starts at the 29th character.
std::string CalibrationFileName(int camera, const DateTimeParts& time, double reading);

// A calibration run: two paper frames and etalon frames of one camera.
struct CalibrationRun {
    int camera = 1; // 1 ... 3
    PaperCamera truth;
    PaperOptions paper;
    double reading1 = 35.0, reading2 = 30.0; // stage readings of images 1 and 2
    double etalonDiameter = 1.020;           // mm
    int etalons = 1;                         // etalon frames
    CameraSetup etalonCamera;                // where the camera stands for the etalon frames
    RenderOptions etalonRender;
    DateTimeParts start{2008, 4, 15, 9, 30, 12, 7};
    std::uint64_t seed = 1;
};

struct CalibrationFrame {
    std::string fileName;
    std::vector<std::uint16_t> samples;
};

// Where the ruling crosses the optical axis: drawn from the run's seed, as
// it differs from one placing of the paper to the next.
void PlacePaper(CalibrationRun& run);

// Frames in order: image 1, image 2, then the etalon frames. Throws
// std::invalid_argument or Error for a run that cannot be drawn.
std::vector<CalibrationFrame> RenderCalibrationRun(const CalibrationRun& run);

// The truth of a run as JSON: camera, readings, distances, magnification
// m = Z1 / Z2, millimetre sizes, etalon rows and camera position.
std::string CalibrationTruthJson(const CalibrationRun& run,
                                 const std::vector<CalibrationFrame>& frames);

// The two columns a user marks on the focal-length page: two neighbouring
// vertical ruled lines of the paper at `distance` on the frame's middle row,
// an odd number of columns apart (stripe suppression takes only an odd
// period), as near to the lines' true spacing as that allows.
struct MarkerColumns {
    int first = 0, second = 0;
    double spacing = 0.0; // true spacing of the vertical lines along a row, px
};
// Throws std::invalid_argument when two neighbouring lines do not fit in a row.
MarkerColumns StripeMarkers(const PaperCamera& camera, const PaperOptions& paper, double distance);

// A calibration of all three cameras: each camera gets the runs of `base`
// (paper pair and etalon frames) seen through its own f, xc, yc and from its
// own x, y, with the etalon at the origin, so that the calibration should
// give back exactly `cameras`. Each camera's frames follow the previous
// camera's in time and have their own noise and placing of the paper.
std::array<CalibrationRun, 3> SystemCalibrationRuns(const CalibrationRun& base,
                                                    const std::array<CameraSetup, 3>& cameras);

// The truth of such a calibration as JSON: the shared readings, distances,
// magnification and etalon diameter, then per camera its true parameters,
// files, farther millimetre size, marker columns and etalon rows.
std::string SystemCalibrationTruthJson(const std::array<CalibrationRun, 3>& runs,
                                       const std::array<std::vector<CalibrationFrame>, 3>& frames);

} // namespace merkanix::simulation
