#pragma once
// Small geometry shared by the measurement, the calibration and the
// simulation: the sensor's pitch, points in the cross-section plane, and the
// value that marks a number as missing.
#include <limits>

namespace merkanix {

inline constexpr double kPixelPitch = 0.0056; // mm per sensor row

struct Point2D {
    double x = 0.0;
    double y = 0.0;
};

// The quiet NaN with the sign bit set marks "no value".
inline double NoValue() {
    return -std::numeric_limits<double>::quiet_NaN();
}

} // namespace merkanix
