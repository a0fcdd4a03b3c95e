#pragma once
// Calibration image routines (loading, padding, rescaling, illumination
// correction, stripe suppression, ruled lines of millimetre paper), the
// optical-centre formula and the camera position from an etalon.
#include "common/Geometry.h"
#include "common/Picture.h"
#include "measurement/FrameFile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace merkanix {

inline constexpr int kRegistrationSize = 1024;

// Two-dimensional array of 32-bit integers, indexed [column][row].
using TIntMatrix = std::vector<std::vector<std::int32_t>>;

// A calibration image: 656 x 492 float values 0 ... 255, row-major.
using CalibrationImage = std::vector<float>;

// Reads a frame file into `image` (resized to one frame): each sample scaled
// so that the largest becomes 255, rounded half to even; all 0 for a black
// frame. Missing samples of a short file count as 0. Throws InOutError.
void LoadCalibrationFrame(const std::string& path, CalibrationImage& image);

// Copies the w x h source into the top-left corner of the N x N output and
// zeroes the rest; only when w < N and h < N (otherwise returns false and
// leaves the output alone). The output must hold N x N values.
bool ZeroFill(const float* source, int w, int h, int N, float* out);

// Bilinear rescale by s into trunc(w s) x trunc(h s), in float32. Returns
// false and leaves the output alone when w < 1, h < 1, s <= 0 or the new
// size is empty or exceeds the registration size.
bool RescaleImage(const float* source, int w, int h, float s, std::vector<float>& out,
                  int& outWidth, int& outHeight);

// S[x][y]: the sum of the blue bytes over columns 0 ... x and rows 0 ... y.
// Empty for an empty picture, and for one so large that the sums could
// leave 32 bits.
TIntMatrix IntegralImage(const Picture& box);

// Mean of the k x k window around each pixel, cut at the borders, rounded
// half to even. Only for a non-empty source of the target's size with odd
// k, 1 <= k < min(width, height). Source and target may be one picture.
void BoxFilter(const Picture& source, Picture& target, int k);

// Rounded mean of the blue bytes; 0 for an empty picture.
int MeanGrey(const Picture& box);

// Flattens uneven lighting: source minus its p-times box-filtered copy plus
// that copy's mean grey, clamped to 0 ... 255.
void IlluminationCorrection(const Picture& source, Picture& target, int k, int passes);

// Row-wise running mean over a period of p columns, which smooths vertical
// ruled lines of that period away and keeps horizontal ones. Only for odd
// p >= 1 below the width, source and target of one size.
void SuppressStripes(const Picture& source, Picture& target, int p);

// The fixed point of the magnification m between two images whose shift
// after rescaling is (dx, dy). Returns false, leaving `centre` alone, unless
// m > 0, height >= 1 and width >= 1.
bool OpticalCentre(int height, int width, double m, double dx, double dy, Point2D& centre);

// a x + b y + c = 0 in pixels (x column, y row); b = -1 for the lines found.
struct FittedLine {
    double a = 0.0;
    double b = -1.0;
    double c = 0.0;
    double angle = 0.0; // degrees
};

// Least-squares lines through the black regions (blue byte 0, 8-connected)
// that reach from the first column to the last and stay in the picture
// there; top to bottom by their first pixel.
std::vector<FittedLine> FindLines(const Picture& box);

// Pixels per millimetre: after lines whose angle is an outlier (robust
// z-score above `threshold`) are dropped, the distance between the outermost
// remaining lines through (xc, yc), divided by the gaps between them in the
// given order (dropped lines between them keep their gaps). NaN for fewer
// than two lines. Raises FloatingPointError when all angles agree so
// closely that the median absolute deviation is 0.
double MillimetreSize(const std::vector<FittedLine>& lines, double xc, double yc, double threshold);

// Where two lines meet; (+inf, +inf) for parallel lines.
Point2D LineIntersection(double a1, double b1, double c1, double a2, double b2, double c2);

// Lens centre of a camera relative to a cylindrical etalon of diameter D
// whose edges lie at rows u and l. Returns false, leaving `position` alone,
// for inputs out of range. Raises FloatingPointError where the arithmetic
// divides by zero (u = l).
bool CameraPosition(std::string_view camera, Point2D& position, double f, double yc, double u,
                    double l, double D);

} // namespace merkanix
