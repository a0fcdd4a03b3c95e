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
RingChoice NoRings() {
    RingChoice none;
    none.fibre = false;
    return none;
}
bool AllWhite(const Picture& p) {
    for (std::uint8_t b : p.bgr)
        if (b != 255) return false;
    return true;
}
} // namespace

TEST(DrawReconstruction, BeforeAnyEvaluationTheViewIsWhite) {
    Picture view(492, 492);
    RingChoice all;
    all.ellipses.fill(true);
    for (double zoom : {1.0, 100.0, 500.0}) {
        DrawReconstruction(view, ReconstructionState{}, zoom, 2.0, all);
        EXPECT_TRUE(AllWhite(view)) << zoom;
    }
    Picture untouched(492, 492);
    DrawReconstruction(untouched, ReconstructionState{}, 100, 0.0, all); // no width: nothing drawn
    EXPECT_EQ(untouched.Blue(0, 0), 0);
}

TEST(DrawReconstruction, LinesAreBlackOnTheLineAndGreyAtHalfTheTolerance) {
    Picture view(492, 492);
    ReconstructionState state;
    // x = 0.5 mm: at zoom 100 pixel column c shows X = (c - 245.5) / 100,
    // so the line runs between columns 295 and 296.
    state.lines[0] = {1, 0, -0.5};
    // y = X - 0.0050 puts the half-tolerance distance on a pixel centre.
    state.lines[1] = {0, 2, 0.3};
    DrawReconstruction(view, state, 100, 2.0, NoRings());
    // tol = 0.02 mm; column 295 is 0.005 mm from x = 0.5: 255 / 0.02 * 0.005 = 63.75
    EXPECT_EQ(Rgb(view, 295, 10), (std::array<int, 3>{64, 64, 64}));
    EXPECT_EQ(Rgb(view, 293, 10), (std::array<int, 3>{255, 255, 255}));
    // Row where Y = -0.15 exactly: ((491 / 2) - r) / 100 = -0.15 -> r = 260.5, between rows;
    // y = -0.15 lies 0.005 from the pixel centres of rows 260 and 261.
    EXPECT_EQ(Rgb(view, 10, 260)[0], 64);
    // A line through pixel centres: black exactly on it, 128 at tol / 2
    // (127.5 to even). Zoom 128 keeps every coordinate exact in binary.
    Picture exact(492, 492);
    ReconstructionState on;
    on.lines[2] = {1, 0, -0.5 / 128}; // column 246
    DrawReconstruction(exact, on, 128, 2.0, NoRings());
    EXPECT_EQ(Rgb(exact, 246, 100), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(Rgb(exact, 247, 100), (std::array<int, 3>{128, 128, 128}));
    EXPECT_EQ(Rgb(exact, 248, 100), (std::array<int, 3>{255, 255, 255}));
}

TEST(DrawReconstruction, RingsInTheirColoursOnTopAndInvalidOnesNever) {
    ReconstructionState state;
    state.lines[0] = {1, 0, -0.005};
    for (int k = 0; k < 6; ++k)
        state.ellipses[k] = {0.5, 0.5, 0.005, 0, 0};
    state.fibre = {0.5, 0.5, 0.005, 0, 0};
    // Column 246 is X = 0.005; row 195.5 would be Y = 0.5; row 196 lies 0.005
    // below: level = (0.495 / 0.5)^2 - 1 = -0.0199.
    Picture view(492, 492);
    RingChoice fibreOnly;
    DrawReconstruction(view, state, 100, 2.0, fibreOnly);
    const double e = std::fabs(0.495 * 0.495 / 0.25 - 1);
    const int fade = static_cast<int>(std::nearbyint(e * 255 / 0.1));
    EXPECT_EQ(Rgb(view, 246, 196), (std::array<int, 3>{255, fade, fade}));
    EXPECT_EQ(Rgb(view, 246, 300), (std::array<int, 3>{0, 0, 0})); // the line outside the ring band

    RingChoice second{};
    second.fibre = false;
    second.ellipses[1] = true;
    DrawReconstruction(view, state, 100, 2.0, second);
    const auto shade = [&](int base) {
        return static_cast<int>(std::nearbyint(e * (255 - base) / 0.1) + base);
    };
    EXPECT_EQ(Rgb(view, 246, 196), (std::array<int, 3>{shade(218), shade(124), shade(48)}));

    // E1 is drawn after E2, and the fibre after all of them.
    RingChoice all;
    all.ellipses.fill(true);
    DrawReconstruction(view, state, 100, 2.0, all);
    EXPECT_EQ(Rgb(view, 246, 196)[0], 255);
    all.fibre = false;
    DrawReconstruction(view, state, 100, 2.0, all);
    EXPECT_EQ(Rgb(view, 246, 196), (std::array<int, 3>{shade(57), shade(106), shade(177)}));

    ReconstructionState invalid = state;
    invalid.lines = {};
    invalid.fibre = InvalidEllipse();
    for (auto& ellipse : invalid.ellipses)
        ellipse = InvalidEllipse();
    all.fibre = true;
    DrawReconstruction(view, invalid, 100, 2.0, all);
    EXPECT_TRUE(AllWhite(view));
    invalid.lines[0] = InvalidLine();
    DrawReconstruction(view, invalid, 100, 2.0, all);
    EXPECT_TRUE(AllWhite(view));
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
    RingChoice all;
    all.ellipses.fill(true);
    for (double zoom : {1.0, 37.0, 100.0, 500.0}) {
        Picture view(492, 492);
        DrawReconstruction(view, state, zoom, 2.0, all);
        EXPECT_TRUE(view.bgr == PlainDrawing(state, zoom, all).bgr) << "zoom " << zoom;
    }
}

TEST(ReconstructionHelpers, DistanceAndLevel) {
    EXPECT_DOUBLE_EQ(PointLineDistance({3, 4, -5}, 0, 0), 1.0);
    EXPECT_TRUE(std::isinf(PointLineDistance({0, 0, 1}, 1, 1)));
    EXPECT_DOUBLE_EQ(EllipseLevel(2, 1, 0, 0, 0, 2, 0), 0.0);
    EXPECT_DOUBLE_EQ(EllipseLevel(2, 1, 0, 0, M_PI / 2, 0, 2), 0.0);
    EXPECT_LT(EllipseLevel(2, 1, 0, 0, 0, 0, 0), 0);
}
