#pragma once
// The optical centre of a camera from two images of a flat target taken at
// two stage positions: the magnification between them by rotation-scale
// registration, then the shift of the rescaled image, then the fixed point
// of that similarity. Also the focal length that follows from it.
#include "calibration/CalibrationUnit.h"
#include "registration/FFTDyn.h"

#include <optional>
#include <string>
#include <vector>

namespace merkanix {

struct CentreSearchSettings {
    double epsilon = 1e-6;  // convergence threshold of the refinement (used as float32)
    int maximumPasses = 50; // refinement passes
    int window = 9;         // refinement window W (3 ... 25 in the window)
    int lowPass = 32;       // low-pass strength; below 1 no filter
    int N = kRegistrationSize;
};

struct CentreSearchResult {
    registration::RotationScaleResult rotationScale;
    registration::TranslationResult translation;
    registration::SubPixelTranslationResult subPixel;
    double dx = 0.0, dy = 0.0; // column and row shift of the sub-pixel result
    Point2D centre;            // (xc, yc) in pixels
    // The image that was rescaled (1 when m <= 1, else 2) and the result,
    // for the overlay of the two registered images.
    int rescaledImage = 1;
    std::vector<float> rescaled;
    int rescaledWidth = 0, rescaledHeight = 0;
    std::vector<float> surface; // the last correlation surface, N x N
};

// Steps of the search on two 656 x 492 images and their N x N zero-filled
// copies. Returns false, doing nothing, when epsilon <= 0 or fewer than one
// pass is allowed. `progress` is what the rotation-scale registration calls
// while it waits.
bool FindCentre(const CalibrationImage& image1, const CalibrationImage& image2,
                const std::vector<float>& padded1, const std::vector<float>& padded2,
                const CentreSearchSettings& settings, CentreSearchResult& result,
                const registration::RegistrationProgress& progress = {});
// The same, zero-filling the images itself.
bool FindCentre(const CalibrationImage& image1, const CalibrationImage& image2,
                const CentreSearchSettings& settings, CentreSearchResult& result,
                const registration::RegistrationProgress& progress = {});

// f = yc ds 0.0056 s / dy (mm): centre row yc, stage difference ds (mm),
// pixels per millimetre s of the farther image, row shift dy. Raises
// FloatingPointError for dy = 0.
double FocalLength(double yc, double ds, double s, double dy);

// The stage reading in a calibration file name (no folder): from the 29th
// character, six characters when that one is '-', else five, read as a
// number with the given decimal separator (either of '.' and ',' reads).
// Nothing for a shorter name or a text that is not a number; `text`
// receives the characters read.
std::optional<double> StageReading(const std::string& fileName, char decimalSeparator,
                                   std::string* text = nullptr);

} // namespace merkanix
