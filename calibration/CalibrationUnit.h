#pragma once
// Camera geometry and drawing helpers shared with the calibration windows.
#include "app/Picture.h"
#include "reconstruction/EllipseUnit.h"

#include <string_view>

namespace merkanix {

// A plus-shaped cross of arm length 2 centred on (x, y) rounded; nothing
// when the picture is empty or (x, y) lies outside it.
void DrawMarker(Picture& box, TColor colour, double x, double y);

// Lens centre of a camera relative to a cylindrical etalon of diameter D
// whose edges lie at rows u and l. Returns false, leaving `position` alone,
// for inputs out of range. Raises FloatingPointError where the arithmetic
// divides by zero (u = l).
bool CameraPosition(std::string_view camera, Point2D& position, double f, double yc, double u,
                    double l, double D);

} // namespace merkanix
