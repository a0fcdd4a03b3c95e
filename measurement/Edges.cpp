#include "measurement/Edges.h"

#include "common/Geometry.h"
#include "common/NumberText.h"
#include "common/Sorting.h"
#include "measurement/FrameFile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace merkanix {

namespace {
constexpr int kLastRow = kProfileLength - 1; // 491
} // namespace

bool StripProfiles(const Picture& box, StripArrays& profiles) {
    if (box.width != kFrameWidth || box.height != kFrameHeight || box.Empty()) return false;

    StripArrays raw;
    for (int y = 0; y < kProfileLength; ++y) {
        const std::uint8_t* pixel = box.Pixel(0, y);
        for (int s = 0; s < kStripCount; ++s) {
            int sum = 0;
            for (int i = 0; i < kStripWidth; ++i, pixel += 3)
                sum += pixel[0];
            raw[s][y] = sum / 16.0;
        }
    }

    for (int s = 0; s < kStripCount; ++s) {
        const auto& p = raw[s];
        auto& out = profiles[s];
        // The end rows lose the taps that fall outside the profile; the kept
        // taps are rescaled to sum 1, or a flat backlight would show a false
        // step at the frame border that outweighs the fibre's own edge.
        out[0] = (0.4 * p[0] + 0.2 * p[1] + 0.1 * p[2]) / 0.7;
        out[1] = (0.2 * p[0] + 0.4 * p[1] + 0.2 * p[2] + 0.1 * p[3]) / 0.9;
        for (int y = 2; y <= kLastRow - 2; ++y)
            out[y] = 0.1 * p[y - 2] + 0.2 * p[y - 1] + 0.4 * p[y] + 0.2 * p[y + 1] + 0.1 * p[y + 2];
        out[490] = (0.1 * p[488] + 0.2 * p[489] + 0.4 * p[490] + 0.2 * p[491]) / 0.9;
        out[491] = (0.1 * p[489] + 0.2 * p[490] + 0.4 * p[491]) / 0.7;
    }
    return true;
}

void StripDerivatives(const StripArrays& profiles, StripArrays& derivatives) {
    for (int s = 0; s < kStripCount; ++s) {
        const auto& p = profiles[s];
        auto& d = derivatives[s];
        for (int y = 0; y < kLastRow; ++y)
            d[y] = std::fabs(p[y + 1] - p[y]);
        d[kLastRow] = std::fabs(p[kLastRow] - p[kLastRow - 1]);
        double largest = 1.0;
        for (double v : d)
            if (v > largest) largest = v;
        for (double& v : d)
            v = v / largest * 100;
    }
}

void StripEdges(const StripArrays& derivatives, double threshold, StripEdgeRows& edges) {
    for (int s = 0; s < kStripCount; ++s) {
        const auto& d = derivatives[s];

        int i = 1;
        while (i < kLastRow && !(d[i] > threshold))
            ++i;
        int top = kLastRow;
        if (i != kLastRow) {
            int k = i + 1;
            while (k != kLastRow && d[k + 1] >= d[k])
                ++k;
            top = k;
        }

        int j = kLastRow - 1;
        while (j > 0 && !(d[j] > threshold))
            --j;
        int bottom = 0;
        if (j != 0) {
            int k = j - 1;
            while (k != 0 && d[k - 1] >= d[k])
                --k;
            bottom = k;
        }

        edges[s] = top;
        edges[kStripCount + s] = bottom;
    }
}

namespace {

// Centre of mass of d - threshold over the run of rows above the threshold
// that holds `from`, within rows 1..490 where the searches look; the change
// d[y] lies between rows y and y + 1.
double RunCentre(const std::array<double, kProfileLength>& d, double threshold, int from) {
    int first = from, last = from;
    while (first > 1 && d[first - 1] > threshold)
        --first;
    while (last < kLastRow - 1 && d[last + 1] > threshold)
        ++last;
    double weight = 0.0, moment = 0.0;
    for (int y = first; y <= last; ++y) {
        weight += d[y] - threshold;
        moment += (d[y] - threshold) * y;
    }
    return moment / weight + 0.5;
}

} // namespace

void SubPixelStripEdges(const StripArrays& derivatives, double threshold,
                        StripEdgePositions& edges) {
    for (int s = 0; s < kStripCount; ++s) {
        const auto& d = derivatives[s];
        int i = 1;
        while (i < kLastRow && !(d[i] > threshold))
            ++i;
        edges[s] = i == kLastRow ? kLastRow : RunCentre(d, threshold, i);
        int j = kLastRow - 1;
        while (j > 0 && !(d[j] > threshold))
            --j;
        edges[kStripCount + s] = j == 0 ? 0.0 : RunCentre(d, threshold, j);
    }
}

namespace {

// Sorts the 41 tops and the 41 bottoms; the ten smallest and ten largest
// strips of each kind are left out of the means.
template <typename T, typename Sort>
EdgePair TrimmedMeans(std::array<T, 2 * kStripCount>& edges, const Sort& sort) {
    T* tops = edges.data();
    T* bottoms = edges.data() + kStripCount;
    sort(tops);
    sort(bottoms);
    T topSum = 0;
    T bottomSum = 0;
    for (int k = 10; k <= 30; ++k) {
        topSum += tops[k];
        bottomSum += bottoms[k];
    }
    return {topSum / 21.0, bottomSum / 21.0};
}

} // namespace

EdgePair MeanEdges(const Picture& box, double threshold, EdgeMode mode) {
    StripArrays profiles;
    if (!StripProfiles(box, profiles)) return {NoValue(), NoValue()};
    StripArrays derivatives;
    StripDerivatives(profiles, derivatives);
    if (mode == EdgeMode::SubPixel) {
        StripEdgePositions edges;
        SubPixelStripEdges(derivatives, threshold, edges);
        return TrimmedMeans(edges, [](double* kind) { std::sort(kind, kind + kStripCount); });
    }
    StripEdgeRows edges;
    StripEdges(derivatives, threshold, edges);
    return TrimmedMeans(edges, [](std::int32_t* kind) { SortIntegers(kind, kStripCount - 1); });
}

EdgePair ShowMeanEdges41(Picture& box) {
    const EdgePair edges = MeanEdges(box, kEdgeThreshold);
    DrawEdgeRows(box, edges);
    return edges;
}

void DrawEdgeRows(Picture& box, const EdgePair& edges) {
    if (box.Empty() || std::isnan(edges.top) || std::isnan(edges.bottom)) return;
    const int top = static_cast<int>(RoundHalfEven(edges.top));
    const int bottom = static_cast<int>(RoundHalfEven(edges.bottom));
    for (int x = 0; x < box.width; ++x) {
        if (box.Contains(x, top)) box.SetPixel(x, top, kRed);
        if (box.Contains(x, bottom)) box.SetPixel(x, bottom, kOrange);
    }
}

} // namespace merkanix
