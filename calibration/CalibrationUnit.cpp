#include "calibration/CalibrationUnit.h"

#include "app/Errors.h"
#include "app/NumberText.h"

#include <cmath>

namespace merkanix {

void DrawMarker(Picture& box, TColor colour, double x, double y) {
    if (box.Empty() || !(x >= 0 && x < box.width && y >= 0 && y < box.height)) return;
    const int cx = static_cast<int>(RoundHalfEven(x));
    const int cy = static_cast<int>(RoundHalfEven(y));
    static constexpr int kArms[8][2] = {{0, -2}, {0, -1}, {-2, 0}, {-1, 0},
                                        {1, 0},  {2, 0},  {0, 1},  {0, 2}};
    // Rounding can carry the centre itself just past the last column or row.
    if (box.Contains(cx, cy)) box.SetPixel(cx, cy, colour);
    for (const auto& arm : kArms)
        if (box.Contains(cx + arm[0], cy + arm[1])) box.SetPixel(cx + arm[0], cy + arm[1], colour);
}

bool CameraPosition(std::string_view camera, Point2D& position, double f, double yc, double u,
                    double l, double D) {
    const bool known = camera == "CAM1" || camera == "CAM2" || camera == "CAM3";
    const auto inRows = [](double v) { return v >= 0 && v <= 492; };
    if (!known || !(f > 0) || !(D > 0) || !inRows(yc) || !inRows(u) || !inRows(l)) return false;

    const double k = kPixelPitch;
    const double R = D / 2;
    const double d1 = std::fabs(yc - u) * k;
    const double d2 = std::fabs(yc - l) * k;
    const double d12 = std::fabs(u - l) * k;
    const double L1 = std::sqrt(d1 * d1 + f * f);
    const double L2 = std::sqrt(d2 * d2 + f * f);
    const double t = L1 * d12 / (L1 + L2);
    const double cosAlpha = (L1 * L1 + L2 * L2 - d12 * d12) / (2 * L1 * L2);
    const double halfVersine = (1 - cosAlpha) / 2;
    if (halfVersine < 0) throw FloatingPointError(kInvalidOperationText);
    const double sinHalfAlpha = std::sqrt(halfVersine);
    // Both edges on one row: the etalon would be infinitely far away.
    if (sinHalfAlpha == 0) throw FloatingPointError(kDivisionByZeroText);
    const double rho = R / sinHalfAlpha;
    const double e = std::fabs(k * yc - (k * u + t));
    const double g = std::sqrt(e * e + f * f);

    double X = 0;
    double Y = -rho * f / g;
    if (d1 < d2) {
        X = rho * e / g;
    } else if (d1 > d2) {
        X = -rho * e / g;
    } else {
        X = 0;
        Y = -rho;
    }

    const double c = std::sqrt(3.0) / 2;
    if (camera == "CAM3") {
        position = {X, Y};
    } else if (camera == "CAM1") {
        position = {c * Y - X / 2, -c * X - Y / 2};
    } else {
        position = {-X / 2 - c * Y, c * X - Y / 2};
    }
    return true;
}

} // namespace merkanix
