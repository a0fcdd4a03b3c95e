#pragma once
// The steps of one camera's calibration as the calibration window takes
// them, over pictures and texts, so that the window and merkanix-calibrate
// run the very same chain. Results travel between the steps as the texts
// the window shows (general form, "%.3f" where the window uses it) and are
// parsed again where the window parses them, so both give the same numbers.
#include "calibration/CalibrationUnit.h"
#include "calibration/CentreSearch.h"
#include "common/Picture.h"
#include "measurement/Edges.h"

#include <string>
#include <string_view>
#include <vector>

namespace merkanix {

// --- Optical-centre page -------------------------------------------------------

// A calibration image as its image box shows it: each value rounded half to
// even into all three bytes; the picture becomes 656 x 492.
void DrawCalibrationImage(const CalibrationImage& image, Picture& box);

// Which image the focal-length page works on after image `opened` (1 or 2)
// was opened: the one with the smaller stage distance when both are loaded
// (0, keep the current one, when the distances are equal), else the one just
// opened.
int FartherImage(bool loaded1, bool loaded2, float distance1, float distance2, int opened);

// The texts the optical-centre page shows after a search: magnification,
// rotation with "°", its quality, dx, dy, the translation quality, the
// pass count and the centre; the general form with the given separator.
struct CentreSearchTexts {
    std::string magnification, rotation, rotationQuality;
    std::string dx, dy, translationQuality, passes;
    std::string xc, yc;
};
CentreSearchTexts FormatCentreSearch(const CentreSearchResult& result, char decimalSeparator);

// "%.3f" of |distance 1 - distance 2|, as the float32 distances give it.
std::string FormatStageDifference(float distance1, float distance2, char decimalSeparator);

// The overlay of the two registered images (656 x 492): the rescaled image
// inside the rectangle of the integer shift, the other image elsewhere, the
// crimson lines from the corners to the rounded centre and that pixel blue.
// Each line holds one pixel per step along its longer axis, both ends
// included, and is cut at the picture's border.
void DrawOverlay(const CalibrationImage& image1, const CalibrationImage& image2,
                 const CentreSearchResult& result, Picture& box);

// The correlation surface as an N x N grey picture: value / maximum * 255,
// negatives 0, rounded half to even; all 0 when the maximum is 0.
void DrawSurface(const std::vector<float>& surface, int N, Picture& box);

// --- Focal-length page -----------------------------------------------------------

// The marked view: a copy of `source` whose pixels in the two columns have
// their red byte set to 255 (columns outside the picture are skipped).
void MarkColumns(const Picture& source, int column1, int column2, Picture& target);

// Manual threshold: blue byte <= t gives black, any other white; the target
// takes the source's size. Nothing for an empty source.
void ThresholdPicture(const Picture& source, int t, Picture& target);

// What the focal-length search shows, filled step by step, so that after a
// failure it holds what was already shown.
struct FocalLengthTexts {
    std::string millimetre;  // pixels per millimetre, general form ("NAN" for fewer than two lines)
    std::string focalLength; // f in mm, general form
    bool millimetreShown = false;
    bool focalLengthShown = false;
    // The numbers behind the two texts, for callers that print them in full.
    double millimetreValue = 0.0, focalLengthValue = 0.0;
};

// The search of the focal-length page on the thresholded picture: xc, yc
// parsed, lines found, the millimetre size at (xc, yc) with threshold 3.5
// shown, ds and dy parsed, f = yc ds 0.0056 s / dy shown. Throws
// ConversionError for a text that is not a number and FloatingPointError
// where the arithmetic traps; `out` then holds what was shown.
void FindFocalLengthTexts(const Picture& thresholded, std::string_view xc, std::string_view yc,
                          std::string_view ds, std::string_view dy, char decimalSeparator,
                          FocalLengthTexts& out);

// --- Etalon page --------------------------------------------------------------------

// What the etalon page shows, filled step by step like FocalLengthTexts.
struct EtalonTexts {
    std::string top, bottom; // u and l, general form
    std::string x, y;        // camera position, general form
    bool edgesShown = false;
    bool positionShown = false;
    // The numbers behind the texts, and whether the camera position could be
    // computed (it is shown as 0, 0 when its inputs are out of range).
    EdgePair edges;
    Point2D position;
    bool positionFound = false;
};

// The etalon page after the etalon frame was loaded into `box`: the edge
// rows measured (threshold 10) and shown, drawn across the picture, f, xc
// and yc parsed (in the window's order: xc, yc, f), the centre marked in
// blue, the diameter parsed and the camera position from (0, 0) shown.
// Throws like FindFocalLengthTexts.
void MeasureEtalon(Picture& box, std::string_view camera, std::string_view f, std::string_view xc,
                   std::string_view yc, std::string_view diameter, char decimalSeparator,
                   EtalonTexts& out, EdgeMode edgeMode = EdgeMode::WholeRows);

} // namespace merkanix
