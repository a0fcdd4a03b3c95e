#pragma once
// The fibre's top and bottom edge rows in a loaded frame.
#include "common/Picture.h"

#include <array>
#include <cstdint>

namespace merkanix {

inline constexpr int kStripCount = 41;
inline constexpr int kStripWidth = 16;
inline constexpr int kProfileLength = 492;
inline constexpr double kEdgeThreshold = 10.0;

// Where a strip reports its edge. WholeRows: the row before the largest
// change of the smoothed profile, as the program always has. SubPixel: the
// boundary between rows, from the derivative's centre of mass over the run of
// rows above the threshold that the search found (weights D - threshold, so
// the run's ends fade in and out); a whole-row convention half a row before
// the real boundary and whole-row steps are what make round fibres measure
// oval. A run cut by the frame border (rows 1..490) pulls the edge inwards;
// a clipped (saturated) profile loses the bright end of the change and moves
// the edge into the band; a strip without an edge keeps 491 (top) or 0
// (bottom).
enum class EdgeMode { WholeRows, SubPixel };

struct EdgePair {
    double top = 0.0;
    double bottom = 0.0;
};

using StripArrays = std::array<std::array<double, kProfileLength>, kStripCount>;
using StripEdgeRows = std::array<std::int32_t, 2 * kStripCount>; // 41 tops, then 41 bottoms

// Smoothed brightness profile of each strip. Returns false (and leaves the
// profiles alone) when the picture is not 656 x 492.
bool StripProfiles(const Picture& box, StripArrays& profiles);
// Absolute row differences in percent of the strip's largest change.
void StripDerivatives(const StripArrays& profiles, StripArrays& derivatives);
void StripEdges(const StripArrays& derivatives, double threshold, StripEdgeRows& edges);
using StripEdgePositions = std::array<double, 2 * kStripCount>; // 41 tops, then 41 bottoms
void SubPixelStripEdges(const StripArrays& derivatives, double threshold,
                        StripEdgePositions& edges);

// Trimmed means of the strip edges; NaN rows for a picture of another size.
EdgePair MeanEdges(const Picture& box, double threshold, EdgeMode mode = EdgeMode::WholeRows);
// Draws the two rows across the picture: top red, bottom orange, each row
// rounded to the nearest integer, ties to even.
void DrawEdgeRows(Picture& box, const EdgePair& edges);
// MeanEdges with threshold 10, drawn across the picture (top red, bottom
// orange). Returns the rows it drew.
EdgePair ShowMeanEdges41(Picture& box);

} // namespace merkanix
