#include "reconstruction/ReconstructionView.h"

#include "common/NumberText.h"
#include "common/ParallelFor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace merkanix {

double PointLineDistance(const Line2D& line, double X, double Y) {
    if (line.a == 0 && line.b == 0) return std::numeric_limits<double>::infinity();
    return std::fabs(line.a * X + line.b * Y + line.c) /
           std::sqrt(line.a * line.a + line.b * line.b);
}

double EllipseLevel(double A, double B, double x0, double y0, double theta, double X, double Y) {
    const double c = std::cos(theta), s = std::sin(theta);
    const double u = (X - x0) * c + (Y - y0) * s;
    const double v = (X - x0) * s - (Y - y0) * c;
    return u * u / (A * A) + v * v / (B * B) - 1;
}

namespace {

struct DrawnLine {
    double a, b, c, norm;
};

struct DrawnRing {
    double A2, B2, x0, y0, cosT, sinT;
    std::array<int, 3> colour;
    // Outside this box |level| is far above the band: no need to evaluate.
    double xMin, xMax, yMin, yMax;
};

// What every pixel of one drawing needs: the lines and rings in drawing
// order with their per-pixel constants, the band widths and the columns'
// x coordinates.
struct Scene {
    std::vector<DrawnLine> lines;
    std::vector<DrawnRing> rings;
    double zoom = 1, tol = 0, ringTol = 0;
    std::vector<double> xs;
};

// A ring is skipped when its ellipse has no value or a zero semi-axis (the
// state before any evaluation).
bool Drawable(const EllipseParams& e) {
    return !std::isnan(e.semiMajor) && !std::isnan(e.semiMinor) && !std::isnan(e.centreX) &&
           !std::isnan(e.centreY) && !std::isnan(e.angle) && e.semiMajor != 0 && e.semiMinor != 0;
}

std::vector<DrawnLine> LinesToDraw(const ReconstructionState& state) {
    std::vector<DrawnLine> lines;
    for (const Line2D& l : state.lines) {
        if (std::isnan(l.a) || std::isnan(l.b) || std::isnan(l.c)) continue; // no line of sight
        if (l.a == 0 && l.b == 0) continue;                                  // infinitely far
        lines.push_back({l.a, l.b, l.c, std::sqrt(l.a * l.a + l.b * l.b)});
    }
    return lines;
}

DrawnRing RingToDraw(const EllipseParams& e, int colour, double zoom, double ringTol) {
    const double theta = M_PI * e.angle / 180;
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    DrawnRing ring{e.semiMajor * e.semiMajor,
                   e.semiMinor * e.semiMinor,
                   e.centreX,
                   e.centreY,
                   std::cos(theta),
                   std::sin(theta),
                   kRingColours[colour],
                   -kInfinity,
                   kInfinity,
                   -kInfinity,
                   kInfinity};
    // The band |level| <= 5 tol lies inside the ellipse grown by sqrt(1 + 5 tol);
    // its bounding box, two pixels wider, leaves every pixel outside it with
    // a level well above the band. Huge ellipses keep the whole view.
    const double grow = std::sqrt(1 + ringTol);
    const double a = std::fabs(e.semiMajor) * grow, b = std::fabs(e.semiMinor) * grow;
    if (a < 1e6 && b < 1e6) {
        const double margin = 2 / zoom;
        const double hx = std::hypot(a * ring.cosT, b * ring.sinT) + margin;
        const double hy = std::hypot(a * ring.sinT, b * ring.cosT) + margin;
        ring.xMin = e.centreX - hx;
        ring.xMax = e.centreX + hx;
        ring.yMin = e.centreY - hy;
        ring.yMax = e.centreY + hy;
    }
    return ring;
}

// E6 down to E1, then the fibre on top: later rings paint over earlier ones.
std::vector<DrawnRing> RingsToDraw(const ReconstructionState& state, const RingChoice& rings,
                                   double zoom, double ringTol) {
    std::vector<DrawnRing> drawn;
    for (int k = 5; k >= 0; --k)
        if (rings.ellipses[k] && Drawable(state.ellipses[k]))
            drawn.push_back(RingToDraw(state.ellipses[k], k, zoom, ringTol));
    if (rings.fibre && Drawable(state.fibre))
        drawn.push_back(RingToDraw(state.fibre, 6, zoom, ringTol));
    return drawn;
}

Scene MakeScene(const ReconstructionState& state, const RingChoice& rings, int width, double zoom,
                double lineWidth) {
    Scene scene;
    scene.zoom = zoom;
    scene.tol = lineWidth / zoom;
    scene.ringTol = 5 * scene.tol;
    scene.lines = LinesToDraw(state);
    scene.rings = RingsToDraw(state, rings, zoom, scene.ringTol);
    scene.xs.resize(static_cast<std::size_t>(width));
    for (int c = 0; c < width; ++c)
        scene.xs[c] = (c - (width - 1) / 2.0) / zoom;
    return scene;
}

// White, darkened towards the nearest line of sight within the band, then
// each ring within its band fading from its colour.
void DrawRows(Picture& view, const Scene& scene, int firstRow, int endRow) {
    for (int r = firstRow; r < endRow; ++r) {
        const double Y = ((view.height - 1) / 2.0 - r) / scene.zoom;
        std::uint8_t* pixel = view.Pixel(0, r);
        for (int c = 0; c < view.width; ++c, pixel += 3) {
            const double X = scene.xs[c];
            std::uint8_t red = 255, green = 255, blue = 255;
            double nearest = std::numeric_limits<double>::infinity();
            for (const DrawnLine& l : scene.lines)
                nearest = std::min(nearest, std::fabs(l.a * X + l.b * Y + l.c) / l.norm);
            if (nearest <= scene.tol)
                red = green = blue =
                    static_cast<std::uint8_t>(RoundHalfEven(255 / scene.tol * nearest));
            for (const DrawnRing& ring : scene.rings) {
                if (!(X >= ring.xMin && X <= ring.xMax && Y >= ring.yMin && Y <= ring.yMax))
                    continue;
                const double u = (X - ring.x0) * ring.cosT + (Y - ring.y0) * ring.sinT;
                const double v = (X - ring.x0) * ring.sinT - (Y - ring.y0) * ring.cosT;
                const double e = std::fabs(u * u / ring.A2 + v * v / ring.B2 - 1);
                if (!(e <= scene.ringTol)) continue;
                const auto component = [&](int base) {
                    return static_cast<std::uint8_t>(
                        RoundHalfEven(e * (255 - base) / scene.ringTol) + base);
                };
                red = component(ring.colour[0]);
                green = component(ring.colour[1]);
                blue = component(ring.colour[2]);
            }
            pixel[0] = blue;
            pixel[1] = green;
            pixel[2] = red;
        }
    }
}

} // namespace

void DrawReconstruction(Picture& view, const ReconstructionState& state, double zoom,
                        double lineWidth, const RingChoice& rings) {
    if (!(lineWidth > 0) || view.width <= 0 || view.height <= 0) return;
    view.Resize(view.width, view.height);
    const Scene scene = MakeScene(state, rings, view.width, zoom, lineWidth);

    // One band of rows per thread; a small view is not worth the threads.
    const int H = view.height;
    const unsigned threads = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    if (threads == 1 || H < 64) {
        DrawRows(view, scene, 0, H);
        return;
    }
    const int band = (H + static_cast<int>(threads) - 1) / static_cast<int>(threads);
    ParallelFor(threads, threads, [&](std::size_t t) {
        const int first = static_cast<int>(t) * band;
        DrawRows(view, scene, std::min(H, first), std::min(H, first + band));
    });
}

} // namespace merkanix
