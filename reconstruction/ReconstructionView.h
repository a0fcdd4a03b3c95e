#pragma once
// The square view of the cross-section plane: the lines of sight as grey
// bands and the chosen ellipses as coloured rings.
#include "common/Picture.h"
#include "reconstruction/EllipseUnit.h"

#include <array>

namespace merkanix {

// Which rings to draw: E1..E6 and the fibre ellipse.
struct RingChoice {
    std::array<bool, 6> ellipses{};
    bool fibre = true;
};

// Red, green and blue of each ring where it is drawn exactly: E1..E6, then
// the fibre ellipse.
inline constexpr std::array<std::array<int, 3>, 7> kRingColours = {{{57, 106, 177},
                                                                    {218, 124, 48},
                                                                    {62, 150, 81},
                                                                    {107, 76, 154},
                                                                    {148, 139, 61},
                                                                    {83, 81, 84},
                                                                    {255, 0, 0}}};

// |a X + b Y + c| / sqrt(a^2 + b^2); +infinity for a = b = 0.
double PointLineDistance(const Line2D& line, double X, double Y);
// Zero on the ellipse, negative inside, positive outside.
double EllipseLevel(double A, double B, double x0, double y0, double theta, double X, double Y);

// Redraws the whole picture of the view (its size is kept) at `zoom` pixels
// per millimetre; bands and rings are `lineWidth` pixels wide. Nothing is
// drawn unless lineWidth > 0. Rows are shared among the cores; the pixels do
// not depend on how.
void DrawReconstruction(Picture& view, const ReconstructionState& state, double zoom,
                        double lineWidth, const RingChoice& rings);

} // namespace merkanix
