#pragma once
// Lines of sight in the cross-section plane and the ellipses they touch.
#include "common/Geometry.h"

#include <array>
#include <cmath>
#include <string_view>

namespace merkanix {

// a*x + b*y + c = 0, in millimetres; not normalised.
struct Line2D {
    double a = 0.0;
    double b = 0.0;
    double c = 0.0;
};

struct EllipseParams {
    double semiMajor = 0.0;
    double semiMinor = 0.0;
    double centreX = 0.0;
    double centreY = 0.0;
    double angle = 0.0; // degrees of the major axis, [0, 180)

    bool Valid() const { return !std::isnan(semiMajor); }
};

inline Line2D InvalidLine() {
    return {NoValue(), NoValue(), NoValue()};
}
inline EllipseParams InvalidEllipse() {
    return {NoValue(), NoValue(), NoValue(), NoValue(), NoValue()};
}

Line2D LineThroughPoints(Point2D p, Point2D q);

// The line of sight of `edgeRow` for camera "CAM1", "CAM2" or "CAM3" with
// lens centre (x, y), focal length f and optical-centre row yc. Inputs out
// of range (unknown name, f <= 0, yc or edgeRow outside [0, 492]) give the
// invalid line, so that no ellipse is built on it.
Line2D SightLine(std::string_view camera, double x, double y, double f, double yc, double edgeRow);

using Matrix5 = std::array<std::array<double, 5>, 5>;
// Cofactor expansion along the first row for n = 1..5; NaN for other n.
double Determinant(const Matrix5& matrix, int n);

// The ellipse touching five lines, or the invalid ellipse. Lines with a NaN
// give the invalid ellipse; an overflow raises FloatingPointError.
EllipseParams EllipseFromTangents(const std::array<Line2D, 5>& lines);
// Major-axis direction in [0, 180) degrees of the point conic
// a*x^2 + 2b*x*y + c*y^2 + ... in the sign the tangent fit produces.
double MajorAxisAngle(double a, double b, double c);
// Ellipse k (0-based) from all lines except line k.
std::array<EllipseParams, 6> EllipsesLeavingOneOut(const std::array<Line2D, 6>& lines);
EllipseParams MeanEllipse(const std::array<EllipseParams, 6>& ellipses);
// Diameter of the circle with the ellipse's perimeter (Ramanujan II).
double EquivalentDiameter(double semiMajor, double semiMinor);

// Lines L1..L6, ellipses E1..E6 and the fibre ellipse of the last
// evaluation; all zeros before the first.
struct ReconstructionState {
    std::array<Line2D, 6> lines{};
    std::array<EllipseParams, 6> ellipses{};
    EllipseParams fibre{};
};

} // namespace merkanix
