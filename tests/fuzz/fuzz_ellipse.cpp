// Arbitrary lines and camera inputs: an ellipse, the invalid ellipse, or the
// arithmetic's own error; never a fault or a malformed result.
#include "calibration/CalibrationUnit.h"
#include "common/Errors.h"
#include "common/Marker.h"
#include "reconstruction/EllipseUnit.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace merkanix;
    double v[15] = {};
    std::memcpy(v, data, std::min(size, sizeof v));
    std::array<Line2D, 5> lines;
    for (int i = 0; i < 5; ++i)
        lines[i] = {v[3 * i], v[3 * i + 1], v[3 * i + 2]};
    try {
        const EllipseParams e = EllipseFromTangents(lines);
        if (e.Valid() &&
            !(e.semiMajor >= e.semiMinor && e.semiMinor >= 0 && e.angle >= 0 && e.angle < 180))
            __builtin_trap();
    } catch (const FloatingPointError&) {
    }
    const char* names[4] = {"CAM1", "CAM2", "CAM3", "CAM0"};
    const char* name = names[size % 4];
    const Line2D l = SightLine(name, v[0], v[1], v[2], v[3], v[4]);
    (void)l;
    try {
        Point2D p;
        CameraPosition(name, p, v[5], v[6], v[7], v[8], v[9]);
    } catch (const FloatingPointError&) {
    }
    Picture picture(40, 30);
    DrawMarker(picture, kBlue, v[10], v[11]);
    return 0;
}
