#include "reconstruction/ReconstructionView.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace merkanix;

namespace {
std::array<int, 3> Rgb(const Picture& p, int c, int r) {
    const std::uint8_t* px = p.Pixel(c, r);
    return {px[2], px[1], px[0]};
}
bool AllWhite(const Picture& p) {
    return std::all_of(p.bgr.begin(), p.bgr.end(), [](std::uint8_t b) { return b == 255; });
}
RingChoice Rings(bool fibre, std::initializer_list<int> ellipses) {
    RingChoice choice;
    choice.fibre = fibre;
    for (const int k : ellipses)
        choice.ellipses[k] = true;
    return choice;
}
Picture Drawn(const ReconstructionState& state, double zoom, const RingChoice& rings) {
    Picture view(492, 492);
    DrawReconstruction(view, state, zoom, 2.0, rings);
    return view;
}

// The drawing pixel by pixel exactly as written, with no shortcuts: the
// routine's own must give the same picture.
Picture PlainDrawing(const ReconstructionState& state, double zoom, const RingChoice& rings) {
    Picture p(492, 492);
    const double tol = 2.0 / zoom;
    for (int r = 0; r < 492; ++r)
        for (int c = 0; c < 492; ++c) {
            const double X = (c - 491 / 2.0) / zoom, Y = (491 / 2.0 - r) / zoom;
            std::array<double, 3> rgb = {255, 255, 255};
            double nearest = std::numeric_limits<double>::infinity();
            for (const Line2D& l : state.lines)
                if (!std::isnan(l.a)) nearest = std::min(nearest, PointLineDistance(l, X, Y));
            if (nearest <= tol) rgb.fill(std::nearbyint(255 / tol * nearest));
            for (int index : {5, 4, 3, 2, 1, 0, 6}) { // E6 .. E1, then the fibre
                const EllipseParams& e = index == 6 ? state.fibre : state.ellipses[index];
                if (!(index == 6 ? rings.fibre : rings.ellipses[index]) || !e.Valid()) continue;
                const double level = std::fabs(EllipseLevel(e.semiMajor, e.semiMinor, e.centreX,
                                                            e.centreY, M_PI * e.angle / 180, X, Y));
                if (level > 5 * tol) continue;
                for (int i = 0; i < 3; ++i) {
                    const int base = kRingColours[index][i];
                    rgb[i] = std::nearbyint(level * (255 - base) / (5 * tol)) + base;
                }
            }
            std::uint8_t* px = p.Pixel(c, r);
            px[0] = static_cast<std::uint8_t>(rgb[2]);
            px[1] = static_cast<std::uint8_t>(rgb[1]);
            px[2] = static_cast<std::uint8_t>(rgb[0]);
        }
    return p;
}
} // namespace

TEST(DrawReconstruction, WhiteBeforeAnyEvaluationOrWithInvalidResultsAndNothingWithoutAWidth) {
    ReconstructionState invalid;
    invalid.lines[0] = InvalidLine();
    invalid.fibre = InvalidEllipse();
    invalid.ellipses.fill(InvalidEllipse());
    for (double zoom : {1.0, 100.0, 500.0})
        for (const ReconstructionState& state : {ReconstructionState{}, invalid})
            EXPECT_TRUE(AllWhite(Drawn(state, zoom, Rings(true, {0, 1, 2, 3, 4, 5}))));
    Picture untouched(492, 492);
    DrawReconstruction(untouched, ReconstructionState{}, 100, 0.0, Rings(true, {}));
    EXPECT_EQ(untouched.Blue(0, 0), 0);
    EXPECT_TRUE(std::isinf(PointLineDistance({0, 0, 1}, 1, 1))); // a line infinitely far
}

TEST(DrawReconstruction, LinesDarkenTowardsTheLineAndRingsFadeFromTheirColoursOnTop) {
    ReconstructionState lines, exact, rings;
    // x = 0.5 mm: at zoom 100 pixel column c shows X = (c - 245.5) / 100, so
    // column 295 lies 0.005 mm off the line: 255 / 0.02 * 0.005 = 63.75.
    lines.lines[0] = {1, 0, -0.5};
    lines.lines[1] = {0, 2, 0.3}; // y = -0.15 lies 0.005 from rows 260 and 261
    // A line through pixel centres: black on it, 128 at tol / 2 (127.5 to
    // even). Zoom 128 keeps every coordinate exact in binary.
    exact.lines[2] = {1, 0, -0.5 / 128}; // column 246
    // Column 246 is X = 0.005; row 196 lies 0.005 below Y = 0.5:
    // level = (0.495 / 0.5)^2 - 1.
    rings.lines[0] = {1, 0, -0.005};
    rings.ellipses.fill({0.5, 0.5, 0.005, 0, 0});
    rings.fibre = {0.5, 0.5, 0.005, 0, 0};
    const double e = std::fabs(0.495 * 0.495 / 0.25 - 1);
    const auto s = [&](int base) {
        return static_cast<int>(std::nearbyint(e * (255 - base) / 0.1) + base);
    };
    const struct {
        const ReconstructionState& state;
        double zoom;
        RingChoice rings;
        int column, row;
        std::array<int, 3> rgb;
    } cases[] = {
        {lines, 100, Rings(false, {}), 295, 10, {64, 64, 64}},
        {lines, 100, Rings(false, {}), 293, 10, {255, 255, 255}},
        {lines, 100, Rings(false, {}), 10, 260, {64, 64, 64}},
        {exact, 128, Rings(false, {}), 246, 100, {0, 0, 0}},
        {exact, 128, Rings(false, {}), 247, 100, {128, 128, 128}},
        {exact, 128, Rings(false, {}), 248, 100, {255, 255, 255}},
        {rings, 100, Rings(true, {}), 246, 196, {255, s(0), s(0)}},
        {rings, 100, Rings(true, {}), 246, 300, {0, 0, 0}}, // the line, outside the ring band
        {rings, 100, Rings(false, {1}), 246, 196, {s(218), s(124), s(48)}},
        // E1 is drawn after E2, and the fibre after all of them.
        {rings, 100, Rings(false, {0, 1, 2, 3, 4, 5}), 246, 196, {s(57), s(106), s(177)}},
        {rings, 100, Rings(true, {0, 1, 2, 3, 4, 5}), 246, 196, {255, s(0), s(0)}}};
    for (const auto& c : cases)
        EXPECT_EQ(Rgb(Drawn(c.state, c.zoom, c.rings), c.column, c.row), c.rgb)
            << c.column << ", " << c.row << " at zoom " << c.zoom;
}

TEST(DrawReconstruction, SameAsThePlainPixelByPixelDrawing) {
    ReconstructionState state;
    for (int k = 0; k < 6; ++k) {
        const double t = 0.4 + k;
        state.lines[k] = {std::cos(t), std::sin(t), -0.3 - 0.01 * k};
        state.ellipses[k] = {0.31 + 0.01 * k, 0.27 - 0.005 * k, 0.01 * k - 0.02, 0.03 - 0.01 * k,
                             20.0 * k + 5};
    }
    state.fibre = MeanEllipse(state.ellipses);
    state.ellipses[2] = {3000.0, 2.0, 0, 0, 90}; // much larger than the view
    const RingChoice all = Rings(true, {0, 1, 2, 3, 4, 5});
    for (double zoom : {1.0, 37.0, 100.0, 500.0})
        EXPECT_TRUE(Drawn(state, zoom, all).bgr == PlainDrawing(state, zoom, all).bgr)
            << "zoom " << zoom;
}
