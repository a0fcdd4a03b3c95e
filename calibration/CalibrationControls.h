#pragma once
// What the calibration window's spinners and marker columns stand for: the
// refinement window and low-pass strength of an up-down position, and the
// stripe period between two marked columns.
#include <cstdlib>

namespace merkanix {

// The refinement window W = 9 + 2 * position (positions -3 ... 8: W = 3 ... 25).
inline int RefinementWindow(int position) {
    return 9 + 2 * position;
}

// Position -1 switches the filter off (0); positions 0 ... 5 give 2^position.
inline int LowPassStrength(int position) {
    return position < 0 ? 0 : 1 << position;
}

// The period of the vertical lines: the distance of the two marked columns.
inline int StripePeriod(int column1, int column2) {
    return std::abs(column1 - column2);
}

} // namespace merkanix
