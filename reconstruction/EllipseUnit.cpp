#include "reconstruction/EllipseUnit.h"

#include "common/Errors.h"

#include <algorithm>
#include <cstdint>

namespace merkanix {

namespace {

// Cofactor expansion over the rows rows[0..n) and columns cols[0..n) of m.
// Working on index lists instead of copied minors gives the same arithmetic.
double ExpandedDeterminant(const Matrix5& m, const int* rows, const int* cols, int n) {
    if (n == 1) return m[rows[0]][cols[0]];
    if (n == 2)
        return m[rows[0]][cols[0]] * m[rows[1]][cols[1]] -
               m[rows[1]][cols[0]] * m[rows[0]][cols[1]];
    double sum = 0.0;
    int minorCols[4];
    for (int j = 0; j < n; ++j) {
        for (int k = 0, out = 0; k < n; ++k)
            if (k != j) minorCols[out++] = cols[k];
        const double element = (j % 2 == 0) ? m[rows[0]][cols[j]] : -m[rows[0]][cols[j]];
        sum += element * ExpandedDeterminant(m, rows + 1, minorCols, n - 1);
    }
    return sum;
}

constexpr int kIndices[5] = {0, 1, 2, 3, 4};

// The six 5 x 5 determinants of the tangent rows, each without one column,
// as Determinant expands them. The six matrices share their lower minors:
// each minor over the last n rows and a set of columns is computed once and
// with the very operations the expansion uses, so the results are the same
// to the bit without copying matrices.
struct MinorStep {
    std::uint8_t mask; // columns of this minor
    std::uint8_t size; // its order; it spans the last `size` rows
    std::uint8_t column[5];
    std::uint8_t rest[5]; // the minor without column[p]
};

constexpr std::array<MinorStep, 56> MakeMinorSteps() {
    std::array<MinorStep, 56> steps{};
    int n = 0;
    for (int size = 2; size <= 5; ++size)
        for (int mask = 0; mask < 64; ++mask) {
            int bits = 0;
            for (int c = 0; c < 6; ++c)
                bits += (mask >> c) & 1;
            if (bits != size) continue;
            MinorStep& step = steps[n++];
            step.mask = static_cast<std::uint8_t>(mask);
            step.size = static_cast<std::uint8_t>(size);
            for (int c = 0, p = 0; c < 6; ++c)
                if ((mask >> c) & 1) {
                    step.column[p] = static_cast<std::uint8_t>(c);
                    step.rest[p] = static_cast<std::uint8_t>(mask & ~(1 << c));
                    ++p;
                }
        }
    return steps;
}

constexpr std::array<MinorStep, 56> kMinorSteps = MakeMinorSteps();

void TangentMinors(const double (&rows)[5][6], double (&M)[6]) {
    double minor[64];
    for (const MinorStep& step : kMinorSteps) {
        const int top = 5 - step.size;
        if (step.size == 2) {
            const int c0 = step.column[0], c1 = step.column[1];
            minor[step.mask] = rows[3][c0] * rows[4][c1] - rows[4][c0] * rows[3][c1];
            continue;
        }
        double sum = 0.0;
        for (int p = 0; p < step.size; ++p) {
            const double value = rows[top][step.column[p]];
            const double element = (p % 2 == 0) ? value : -value;
            sum += element * minor[step.rest[p]];
        }
        minor[step.mask] = sum;
    }
    for (int j = 0; j < 6; ++j)
        M[j] = minor[63 & ~(1 << j)];
}

} // namespace

Line2D LineThroughPoints(Point2D p, Point2D q) {
    return {p.y - q.y, q.x - p.x, p.x * q.y - q.x * p.y};
}

Line2D SightLine(std::string_view camera, double x, double y, double f, double yc, double edgeRow) {
    const bool known = camera == "CAM1" || camera == "CAM2" || camera == "CAM3";
    if (!known || !(f > 0) || !(yc >= 0 && yc <= 492) || !(edgeRow >= 0 && edgeRow <= 492))
        return InvalidLine();
    const double d = (edgeRow - yc) * kPixelPitch;
    const double s = std::sqrt(3.0) / 2;
    const Point2D lens{x, y};
    Point2D sensor;
    if (camera == "CAM3") {
        sensor = {x + d, y - f};
    } else if (camera == "CAM1") {
        sensor = {x - d / 2 - s * f, y - s * d + f / 2};
    } else {
        sensor = {x - d / 2 + s * f, y + s * d + f / 2};
    }
    return LineThroughPoints(lens, sensor);
}

double Determinant(const Matrix5& matrix, int n) {
    if (n < 1 || n > 5) return NoValue();
    return ExpandedDeterminant(matrix, kIndices, kIndices, n);
}

EllipseParams EllipseFromTangents(const std::array<Line2D, 5>& lines) {
    double rows[5][6];
    for (int i = 0; i < 5; ++i) {
        const double u = lines[i].a, v = lines[i].b, w = lines[i].c;
        if (std::isnan(u) || std::isnan(v) || std::isnan(w)) return InvalidEllipse();
        rows[i][0] = u * u;
        rows[i][1] = v * v;
        rows[i][2] = w * w;
        rows[i][3] = v * w;
        rows[i][4] = u * w;
        rows[i][5] = u * v;
    }
    double M[6];
    TangentMinors(rows, M);

    const double As = M[0];
    const double Bs = -M[1];
    const double Cs = M[2];
    const double Fs = -M[3] / 2;
    const double Es = M[4] / 2;
    const double Ds = -M[5] / 2;

    const double a = Bs * Cs - Fs * Fs;
    const double b = -(Cs * Ds - Fs * Es);
    const double c = As * Cs - Es * Es;
    const double d = -(Bs * Es - Fs * Ds);
    const double f = -(As * Fs - Es * Ds);
    const double g = As * Bs - Ds * Ds;

    const double delta = a * c * g + 2 * b * d * f - c * (d * d) - a * (f * f) - g * (b * b);
    const double J = a * c - b * b;
    const double I = a + c;
    // The lines were finite, so anything else is an overflow on the way.
    if (!std::isfinite(delta) || !std::isfinite(J) || !std::isfinite(I))
        throw FloatingPointError(kOverflowText);
    if (!(delta != 0 && J > 0 && delta * I < 0)) return InvalidEllipse();

    const double r = std::sqrt((a - c) * (a - c) + 4 * (b * b));
    const double N = 2 * (a * (f * f) + c * (d * d) + g * (b * b) - 2 * b * d * f - a * c * g);
    const double q1 = N / ((r - (a + c)) * (b * b - a * c));
    const double q2 = N / ((-r - (a + c)) * (b * b - a * c));
    if (std::isnan(q1) || std::isnan(q2) || q1 < 0 || q2 < 0)
        throw FloatingPointError(kInvalidOperationText);
    const double s1 = std::sqrt(q1);
    const double s2 = std::sqrt(q2);

    EllipseParams e;
    e.semiMajor = std::max(s1, s2);
    e.semiMinor = std::min(s1, s2);
    e.centreX = (b * f - c * d) / (a * c - b * b);
    e.centreY = (b * d - a * f) / (a * c - b * b);
    if (!std::isfinite(e.semiMajor) || !std::isfinite(e.centreX) || !std::isfinite(e.centreY))
        throw FloatingPointError(kOverflowText);

    e.angle = MajorAxisAngle(a, b, c);
    return e;
}

double MajorAxisAngle(double a, double b, double c) {
    double phi;
    if (b == 0) {
        // a = c as well is a circle: any direction will do, 0 after the turn.
        phi = a < c ? 0.0 : 90.0;
    } else if (a < c) {
        phi = 45 - std::atan((a - c) / (2 * b)) * 90 / M_PI;
        // The branch spans (0, 90); a tiny b can round it onto 90, which the
        // turn below would carry to 0: the axis is 90 there.
        if (phi >= 90) return 90;
    } else if (a > c) {
        phi = 135 - std::atan((a - c) / (2 * b)) * 90 / M_PI;
        // Likewise (90, 180): 180 means an axis along x.
        if (phi >= 180) return 0;
    } else {
        // The limit of both neighbouring rules.
        phi = b > 0 ? 45.0 : 135.0;
    }
    const double k = std::floor(phi / 45);
    if (std::fmod(k, 2.0) == 0) {
        phi = phi + 90;
        if (phi >= 180) phi = phi - 180;
    }
    return phi;
}

std::array<EllipseParams, 6> EllipsesLeavingOneOut(const std::array<Line2D, 6>& L) {
    // The line orders the six fits have always used.
    return {EllipseFromTangents({L[1], L[2], L[3], L[5], L[4]}),
            EllipseFromTangents({L[0], L[2], L[3], L[5], L[4]}),
            EllipseFromTangents({L[0], L[1], L[3], L[5], L[4]}),
            EllipseFromTangents({L[0], L[1], L[2], L[5], L[4]}),
            EllipseFromTangents({L[0], L[1], L[2], L[5], L[3]}),
            EllipseFromTangents({L[0], L[1], L[2], L[4], L[3]})};
}

EllipseParams MeanEllipse(const std::array<EllipseParams, 6>& ellipses) {
    for (const EllipseParams& e : ellipses)
        if (std::isnan(e.semiMajor)) return InvalidEllipse();
    EllipseParams sum{0, 0, 0, 0, 0};
    for (const EllipseParams& e : ellipses) {
        sum.semiMajor += e.semiMajor;
        sum.semiMinor += e.semiMinor;
        sum.centreX += e.centreX;
        sum.centreY += e.centreY;
        sum.angle += e.angle;
    }
    return {sum.semiMajor / 6.0, sum.semiMinor / 6.0, sum.centreX / 6.0, sum.centreY / 6.0,
            sum.angle / 6.0};
}

double EquivalentDiameter(double semiMajor, double semiMinor) {
    const double a = semiMajor, b = semiMinor;
    const double ratio = (a - b) / (a + b);
    const double h = ratio * ratio;
    return (a + b) * (1 + 3 * h / (10 + std::sqrt(4 - 3 * h)));
}

} // namespace merkanix
