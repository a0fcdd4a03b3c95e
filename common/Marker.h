#pragma once
// The plus-shaped mark of a point in a picture: the optical centre in a
// camera view, a found centre in a calibration view.
#include "common/Picture.h"

namespace merkanix {

// A plus-shaped cross of arm length 2 centred on (x, y) rounded; nothing
// when the picture is empty or (x, y) lies outside it.
void DrawMarker(Picture& box, TColor colour, double x, double y);

} // namespace merkanix
