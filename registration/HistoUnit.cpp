#include "registration/HistoUnit.h"

#include <bitset>
#include <cmath>
#include <cstddef>

namespace merkanix::registration {

void Histogram(const Picture& box, THistogram& counts) {
    if (box.Empty()) return;
    counts.fill(0);
    const std::size_t pixels = static_cast<std::size_t>(box.width) * box.height;
    for (std::size_t p = 0; p < pixels; ++p)
        ++counts[box.bgr[3 * p]];
}

double IterativeThreshold(const Picture& source, Picture& target, double tolerance, double t0) {
    if (source.Empty() || target.width != source.width || target.height != source.height)
        return 0.0;

    THistogram h{};
    Histogram(source, h);
    const std::int64_t n = std::int64_t{source.width} * source.height;
    double T = t0;
    // Which splits into a lower and an upper class have been seen: the next
    // threshold depends on the split alone, so a split seen before means a
    // threshold computed before comes round again, a cycle.
    std::bitset<257> seen;
    for (;;) {
        std::int64_t lowerCount = 0, lowerSum = 0, upperSum = 0;
        int lowerLevels = 0;
        for (int i = 0; i < 256; ++i) {
            if (i <= T) {
                lowerCount += h[i];
                lowerSum += std::int64_t{i} * h[i];
                ++lowerLevels;
            } else {
                upperSum += std::int64_t{i} * h[i];
            }
        }
        const double m1 =
            lowerCount == 0 ? 0.0 : static_cast<double>(lowerSum) / static_cast<double>(lowerCount);
        const double m2 = n == lowerCount
                              ? 255.0
                              : static_cast<double>(upperSum) / static_cast<double>(n - lowerCount);
        const double next = (m1 + m2) / 2;
        const double delta = std::fabs(T - next);
        T = next;
        // Once the classes stop changing delta is 0, which a tolerance of 0
        // or below would never undercut.
        if (delta < tolerance || delta == 0.0) break;
        // On a cycle the threshold just computed, the first to repeat, is
        // the one kept and shown. (Both class means grow with the threshold,
        // so the thresholds move one way only and the only cycle is the
        // fixed point that delta = 0 ends; this bounds the passes to 257
        // whatever the arithmetic.)
        if (seen.test(static_cast<std::size_t>(lowerLevels))) break;
        seen.set(static_cast<std::size_t>(lowerLevels));
    }

    target.Resize(source.width, source.height);
    const std::size_t pixels = static_cast<std::size_t>(source.width) * source.height;
    for (std::size_t p = 0; p < pixels; ++p) {
        const std::uint8_t grey = source.bgr[3 * p] <= T ? 0 : 255;
        target.bgr[3 * p] = target.bgr[3 * p + 1] = target.bgr[3 * p + 2] = grey;
    }
    return T;
}

} // namespace merkanix::registration
