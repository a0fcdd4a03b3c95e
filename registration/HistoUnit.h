#pragma once
// Grey-level histogram of a picture and the intermeans threshold that turns
// a stripe-free millimetre-paper picture into black lines on white.
#include "common/Picture.h"

#include <array>
#include <cstdint>

namespace merkanix::registration {

using THistogram = std::array<std::uint32_t, 256>;

// Counts of the blue byte over the picture; leaves `counts` alone when the
// picture is empty.
void Histogram(const Picture& box, THistogram& counts);

// Intermeans iteration from t0 until the threshold moves by less than
// `tolerance` (or not at all, or comes back to a value it had: the value
// that repeats is returned); then pixels at or below it become black and
// the others white in `target`. Returns the threshold, or 0 with `target`
// untouched when the source is empty or the two pictures differ in size.
double IterativeThreshold(const Picture& source, Picture& target, double tolerance, double t0);

} // namespace merkanix::registration
