#include "common/Marker.h"

#include "common/NumberText.h"

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

} // namespace merkanix
