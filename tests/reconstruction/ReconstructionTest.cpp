#include "common/Errors.h"
#include "reconstruction/EllipseUnit.h"
#include "reconstruction/ReconstructionView.h"
#include "support/TestFiles.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>

using namespace merkanix;

namespace {

// Six tangents of an ellipse, at parameters 0.3 + 1.05 i (radians).
std::array<Line2D, 6> SixTangents(double A, double B, double x0, double y0, double angleDeg) {
    const double th = angleDeg * M_PI / 180, c = std::cos(th), s = std::sin(th);
    std::array<Line2D, 6> lines;
    for (int i = 0; i < 6; ++i) {
        const double t = 0.3 + i * 1.05;
        const double px = A * std::cos(t), py = B * std::sin(t);
        const double tx = -A * std::sin(t), ty = B * std::cos(t);
        const Point2D p{x0 + px * c - py * s, y0 + px * s + py * c};
        lines[i] = LineThroughPoints(p, {p.x + tx * c - ty * s, p.y + tx * s + ty * c});
    }
    return lines;
}

std::array<Line2D, 5> Five(const std::array<Line2D, 6>& l) {
    return {l[0], l[1], l[2], l[3], l[4]};
}

void ExpectEllipse(const EllipseParams& e, double A, double B, double x0, double y0, double angle) {
    ASSERT_TRUE(e.Valid());
    EXPECT_NEAR(e.semiMajor, A, 1e-9);
    EXPECT_NEAR(e.semiMinor, B, 1e-9);
    EXPECT_NEAR(e.centreX, x0, 1e-9);
    EXPECT_NEAR(e.centreY, y0, 1e-9);
    EXPECT_NEAR(e.angle, angle, 1e-6);
}

double Distance(const Line2D& l, Point2D p) {
    return std::fabs(l.a * p.x + l.b * p.y + l.c) / std::hypot(l.a, l.b);
}

} // namespace

TEST(SightLine, OneCameraModelTurnedBy120Degrees) {
    const Line2D axis = SightLine("CAM3", 2.0, -50.0, 23.0, 245.5, 245.5);
    EXPECT_EQ(axis.a, 23.0);
    EXPECT_EQ(axis.b, 0.0);
    EXPECT_EQ(axis.c, -2.0 * 23.0);
    const Line2D l = SightLine("CAM3", 0.0, -50.0, 23.0, 245.5, 345.5);
    EXPECT_NEAR(Distance(l, {0.56, -73}), 0, 1e-12); // 100 rows of 5.6 um, 23 mm behind

    const double c = std::sqrt(3.0) / 2;
    const auto turn1 = [c](Point2D p) { return Point2D{c * p.y - p.x / 2, -c * p.x - p.y / 2}; };
    const auto turn2 = [c](Point2D p) { return Point2D{-p.x / 2 - c * p.y, c * p.x - p.y / 2}; };
    const Point2D cam3{0.3, -51.0}, cam1 = turn1(cam3), cam2 = turn2(cam3);
    const Line2D l3 = SightLine("CAM3", cam3.x, cam3.y, 23, 240, 300.25);
    const Line2D l1 = SightLine("CAM1", cam1.x, cam1.y, 23, 240, 300.25);
    const Line2D l2 = SightLine("CAM2", cam2.x, cam2.y, 23, 240, 300.25);
    // A point on camera 3's line, turned, lies on the other two.
    for (double s : {-3.0, 0.0, 4.0}) {
        const Point2D p{cam3.x + s * l3.b, cam3.y - s * l3.a};
        EXPECT_NEAR(Distance(l1, turn1(p)), 0, 1e-9);
        EXPECT_NEAR(Distance(l2, turn2(p)), 0, 1e-9);
    }
}

TEST(SightLine, InputsOutOfRangeGiveTheInvalidLine) {
    EXPECT_FALSE(std::isnan(SightLine("CAM2", 1, 1, 23, 0, 492).a)); // both bounds inclusive
    EXPECT_FALSE(std::isnan(SightLine("CAM2", 1, 1, 23, 492, 0).a));
    for (const Line2D& l :
         {SightLine("CAM3", 0, 0, 0, 245.5, 100), SightLine("CAM3", 0, 0, -1, 245.5, 100),
          SightLine("CAM3", 0, 0, 23, 245.5, 492.5), SightLine("CAM3", 0, 0, 23, -0.1, 100),
          SightLine("CAM3", 0, 0, 23, 245.5, -1), SightLine("CAM4", 0, 0, 23, 245.5, 100),
          SightLine("cam1", 0, 0, 23, 245.5, 100),
          SightLine("CAM1", 0, 0, 23, 245.5, std::nan(""))})
        EXPECT_TRUE(std::isnan(l.a) && std::isnan(l.b) && std::isnan(l.c) && std::signbit(l.a));
}

TEST(EllipseFromTangents, AnyFiveTangentsInAnyOrderAndEveryAngle) {
    const auto lines = SixTangents(0.0625, 0.06, 0.01, -0.02, 40);
    const auto six = EllipsesLeavingOneOut(lines);
    for (const EllipseParams& e : six)
        ExpectEllipse(e, 0.0625, 0.06, 0.01, -0.02, 40);
    std::array<Line2D, 5> five = {lines[4], lines[0], lines[5], lines[2], lines[1]};
    ExpectEllipse(EllipseFromTangents(five), 0.0625, 0.06, 0.01, -0.02, 40);
    std::reverse(five.begin(), five.end());
    ExpectEllipse(EllipseFromTangents(five), 0.0625, 0.06, 0.01, -0.02, 40);
    ExpectEllipse(MeanEllipse(six), 0.0625, 0.06, 0.01, -0.02, 40);
    for (double angle : {0.0, 12.5, 44.0, 46.0, 90.0, 100.0, 135.5, 170.0, 179.0})
        ExpectEllipse(EllipseFromTangents(Five(SixTangents(0.6, 0.45, -0.1, 0.2, angle))), 0.6,
                      0.45, -0.1, 0.2, angle);
}

TEST(EllipseFromTangents, DegenerateLineSetsGiveTheInvalidEllipseOrTheTrapsMessage) {
    // Five lines through one point, (1, 2); exact coefficients, as rounding
    // noise in the minors would otherwise decide.
    const std::array<Line2D, 5> pencil = {Line2D{1, 0, -1}, Line2D{0, 1, -2}, Line2D{1, 1, -3},
                                          Line2D{2, -1, 0}, Line2D{1, -1, 1}};
    EXPECT_FALSE(EllipseFromTangents(pencil).Valid());
    const auto lines = SixTangents(0.5, 0.3, 0, 0, 20);
    EXPECT_FALSE(EllipseFromTangents({lines[0], lines[1], lines[2], lines[3], lines[3]}).Valid());
    // A line with no value, as an out-of-range camera gives.
    const EllipseParams invalid =
        EllipseFromTangents({lines[0], lines[1], InvalidLine(), lines[3], lines[4]});
    EXPECT_TRUE(!invalid.Valid() && std::signbit(invalid.semiMajor));
    // Finite lines whose products overflow.
    std::array<Line2D, 5> huge;
    for (int i = 0; i < 5; ++i)
        huge[i] = {lines[i].a * 1e80, lines[i].b * 1e80, lines[i].c * 1e80};
    EXPECT_EQ(merkanix::testing::MessageOf<FloatingPointError>([&] { EllipseFromTangents(huge); }),
              "Floating point overflow");
}

TEST(EllipseFromTangents, SameBitsAsTheFitItReplaced) {
    // Every output of 4000 fits, tangents of random ellipses (scaled as
    // sight lines are) and random line sets, folded into one hash that the
    // straightforward fit over five copied 5 x 5 matrices produced.
    std::mt19937_64 engine(20261207);
    const auto uniform = [&](double low, double high) {
        return low + (high - low) * static_cast<double>(engine() >> 11) * 0x1.0p-53;
    };
    std::uint64_t hash = 14695981039346656037ull;
    const auto fold = [&](double value) {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        hash = (hash ^ bits) * 1099511628211ull;
    };
    for (int n = 0; n < 4000; ++n) {
        std::array<Line2D, 5> lines;
        const double a = uniform(0.05, 1), b = uniform(0.05, 1), turn = uniform(0, M_PI);
        const double cx = uniform(-0.5, 0.5), cy = uniform(-0.5, 0.5);
        for (Line2D& line : lines) {
            const double phi = uniform(0, 2 * M_PI), scale = uniform(-60, 60);
            if (n % 4 == 3) {
                line = {uniform(-50, 50), uniform(-50, 50), uniform(-500, 500)};
                continue;
            }
            const double u = std::cos(phi), v = std::sin(phi);
            const double along = u * std::cos(turn) + v * std::sin(turn);
            const double across = -u * std::sin(turn) + v * std::cos(turn);
            const double support = std::sqrt(a * a * along * along + b * b * across * across);
            line = {scale * u, scale * v, -scale * (u * cx + v * cy + support)};
        }
        const EllipseParams e = EllipseFromTangents(lines);
        for (const double value : {e.semiMajor, e.semiMinor, e.centreX, e.centreY, e.angle})
            fold(value);
    }
    EXPECT_EQ(hash, 17528457311974632523ull);
}

TEST(MajorAxisAngle, CirclesTiesAndTheEndsOfEachRange) {
    const std::tuple<double, double, double, double> exact[] = {
        {-2, 0.5, -2, 45},    {-2, -0.5, -2, 135},   // equal square terms: the limit
        {-1, 0, -2, 0},       {-2, 0, -1, 90},       // axis-parallel
        {-2, 1e-300, -1, 90}, {-2, -1e-300, -1, 90}, // a tiny b rounds onto the range's end
        {-1, 1e-300, -2, 0},  {-1, -1e-300, -2, 0}};
    for (const auto& [a, b, c, angle] : exact)
        EXPECT_EQ(MajorAxisAngle(a, b, c), angle) << a << " " << b << " " << c;
    for (const double d : {-1e-9, 1e-9}) {
        EXPECT_NEAR(MajorAxisAngle(-2 + d, 0.5, -2), 45, 1e-6);
        EXPECT_NEAR(MajorAxisAngle(-2 + d, -0.5, -2), 135, 1e-6);
    }
}

TEST(MeanEllipseAndDiameter, FieldwiseMeanAndRamanujansPerimeter) {
    std::array<EllipseParams, 6> six;
    for (int i = 0; i < 6; ++i)
        six[i] = {1.0 + i, 0.5, 0.1 * i, -0.2, i % 2 ? 179.0 : 1.0};
    const EllipseParams m = MeanEllipse(six);
    EXPECT_DOUBLE_EQ(m.semiMajor, 3.5);
    EXPECT_DOUBLE_EQ(m.angle, 90.0); // no wrap of the angle
    EXPECT_DOUBLE_EQ(m.centreX, 0.25);
    six[4] = InvalidEllipse();
    EXPECT_FALSE(MeanEllipse(six).Valid());

    EXPECT_DOUBLE_EQ(EquivalentDiameter(0.5, 0.5), 1.0);
    EXPECT_NEAR(EquivalentDiameter(2, 1), 3.0839288, 1e-7);
    EXPECT_DOUBLE_EQ(EquivalentDiameter(1, 0), 14.0 / 11.0);
}

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
