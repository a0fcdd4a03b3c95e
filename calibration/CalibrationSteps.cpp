#include "calibration/CalibrationSteps.h"

#include "common/Marker.h"
#include "common/NumberText.h"
#include "measurement/FrameFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace merkanix {

namespace {

constexpr TColor kCrimson = 0x3C14DC; // red 220, green 20, blue 60

std::uint8_t GreyOf(float value) {
    const double grey = RoundHalfEven(value);
    return static_cast<std::uint8_t>(grey > 0 ? std::min(grey, 255.0) : 0.0); // NaN too
}

// i * delta / steps rounded half away from zero, exactly, in integers.
std::int64_t Proportion(std::int64_t i, std::int64_t delta, std::int64_t steps) {
    const std::int64_t magnitude = (2 * i * std::llabs(delta) + steps) / (2 * steps);
    return delta < 0 ? -magnitude : magnitude;
}

// The pixels of the segment from (x0, y0), which lies in the picture, to
// (x1, y1), both ends included: one pixel per step along the longer axis.
// Once a coordinate leaves the picture it never comes back, so the walk
// stops there and a far-away end costs nothing.
void DrawSegment(Picture& box, int x0, int y0, std::int64_t x1, std::int64_t y1, TColor colour) {
    const std::int64_t dx = x1 - x0, dy = y1 - y0;
    const std::int64_t steps = std::max(std::llabs(dx), std::llabs(dy));
    if (steps == 0) {
        box.SetPixel(x0, y0, colour);
        return;
    }
    for (std::int64_t i = 0; i <= steps; ++i) {
        const std::int64_t x = x0 + Proportion(i, dx, steps);
        const std::int64_t y = y0 + Proportion(i, dy, steps);
        if (x < 0 || y < 0 || x >= box.width || y >= box.height) break;
        box.SetPixel(static_cast<int>(x), static_cast<int>(y), colour);
    }
}

} // namespace

// --- Optical-centre page -------------------------------------------------------

void DrawCalibrationImage(const CalibrationImage& image, Picture& box) {
    box.Resize(kFrameWidth, kFrameHeight);
    const std::size_t pixels = std::min(image.size(), static_cast<std::size_t>(kFrameSamples));
    for (std::size_t p = 0; p < pixels; ++p) {
        std::uint8_t* pixel = box.bgr.data() + 3 * p;
        pixel[0] = pixel[1] = pixel[2] = GreyOf(image[p]);
    }
}

int FartherImage(bool loaded1, bool loaded2, float distance1, float distance2, int opened) {
    if (!(loaded1 && loaded2)) return opened;
    if (distance1 < distance2) return 1;
    if (distance2 < distance1) return 2;
    return 0;
}

CentreSearchTexts FormatCentreSearch(const CentreSearchResult& result, char decimalSeparator) {
    const auto general = [decimalSeparator](double value) {
        return FormatGeneral(value, decimalSeparator);
    };
    CentreSearchTexts texts;
    texts.magnification = general(result.rotationScale.magnification);
    texts.rotation = general(result.rotationScale.angle) + "\u00B0";
    texts.rotationQuality = general(result.rotationScale.quality);
    texts.dx = general(result.dx);
    texts.dy = general(result.dy);
    texts.translationQuality = general(result.translation.quality);
    texts.passes = std::to_string(result.subPixel.iterations);
    texts.xc = general(result.centre.x);
    texts.yc = general(result.centre.y);
    return texts;
}

std::string FormatStageDifference(float distance1, float distance2, char decimalSeparator) {
    // The difference of two float32 values is exact in double precision.
    return FormatFixed(std::fabs(static_cast<double>(distance1) - distance2), 3, decimalSeparator);
}

void DrawOverlay(const CalibrationImage& image1, const CalibrationImage& image2,
                 const CentreSearchResult& result, Picture& box) {
    const float m = result.rotationScale.magnification;
    box.Resize(kFrameWidth, kFrameHeight);
    // Outside the rescaled rectangle the image that was not rescaled shows.
    DrawCalibrationImage(m < 1 ? image2 : image1, box);
    if (m != 1 && !result.rescaled.empty()) {
        const int r0 = result.translation.rowShift, c0 = result.translation.columnShift;
        const int W = result.rescaledWidth, H = result.rescaledHeight;
        for (int row = std::max(r0, 0); row < std::min(r0 + H, kFrameHeight); ++row)
            for (int column = std::max(c0, 0); column < std::min(c0 + W, kFrameWidth); ++column)
                box.SetGrey(
                    column, row,
                    GreyOf(
                        result.rescaled[static_cast<std::size_t>(row - r0) * W + (column - c0)]));
    }

    // A centre too far off to be a pixel address has no lines to draw.
    const double x = RoundHalfEven(result.centre.x), y = RoundHalfEven(result.centre.y);
    constexpr double kFar = 1e9;
    if (!(std::fabs(x) < kFar && std::fabs(y) < kFar)) return;
    const auto cx = static_cast<std::int64_t>(x), cy = static_cast<std::int64_t>(y);
    const int right = kFrameWidth - 1, bottom = kFrameHeight - 1;
    for (const auto& [x0, y0] : {std::pair{0, 0}, {right, 0}, {0, bottom}, {right, bottom}})
        DrawSegment(box, x0, y0, cx, cy, kCrimson);
    if (box.Contains(static_cast<int>(cx), static_cast<int>(cy)))
        box.SetPixel(static_cast<int>(cx), static_cast<int>(cy), kBlue);
}

void DrawSurface(const std::vector<float>& surface, int N, Picture& box) {
    if (N < 1 || surface.size() < static_cast<std::size_t>(N) * N) return;
    box.Resize(N, N);
    const std::size_t count = static_cast<std::size_t>(N) * N;
    float M = surface[0];
    for (std::size_t i = 1; i < count; ++i)
        if (surface[i] >= M) M = surface[i];
    for (std::size_t i = 0; i < count; ++i) {
        double v = M == 0 ? 0.0 : static_cast<double>(surface[i]) / M * 255;
        if (v < 0) v = 0;
        // A surface without a positive value would scale past white.
        box.bgr[3 * i] = box.bgr[3 * i + 1] = box.bgr[3 * i + 2] =
            static_cast<std::uint8_t>(std::min(RoundHalfEven(v), 255.0));
    }
}

// --- Focal-length page -----------------------------------------------------------

void MarkColumns(const Picture& source, int column1, int column2, Picture& target) {
    target = source;
    for (const int column : {column1, column2})
        if (column >= 0 && column < target.width)
            for (int y = 0; y < target.height; ++y)
                target.Pixel(column, y)[2] = 255;
}

void ThresholdPicture(const Picture& source, int t, Picture& target) {
    if (source.Empty()) return;
    target.Resize(source.width, source.height);
    const std::size_t pixels = static_cast<std::size_t>(source.width) * source.height;
    for (std::size_t p = 0; p < pixels; ++p) {
        const std::uint8_t grey = source.bgr[3 * p] <= t ? 0 : 255;
        target.bgr[3 * p] = target.bgr[3 * p + 1] = target.bgr[3 * p + 2] = grey;
    }
}

void FindFocalLengthTexts(const Picture& thresholded, std::string_view xc, std::string_view yc,
                          std::string_view ds, std::string_view dy, char decimalSeparator,
                          FocalLengthTexts& out) {
    const double centreX = ParseReal(xc, decimalSeparator);
    const double centreY = ParseReal(yc, decimalSeparator);
    const double s = MillimetreSize(FindLines(thresholded), centreX, centreY, 3.5);
    out.millimetreValue = s;
    out.millimetre = FormatGeneral(s, decimalSeparator);
    out.millimetreShown = true;
    const double difference = ParseReal(ds, decimalSeparator);
    const double shift = ParseReal(dy, decimalSeparator);
    const double f = FocalLength(centreY, difference, s, shift);
    out.focalLengthValue = f;
    out.focalLength = FormatGeneral(f, decimalSeparator);
    out.focalLengthShown = true;
}

// --- Etalon page --------------------------------------------------------------------

void MeasureEtalon(Picture& box, std::string_view camera, std::string_view f, std::string_view xc,
                   std::string_view yc, std::string_view diameter, char decimalSeparator,
                   EtalonTexts& out, EdgeMode edgeMode) {
    const EdgePair edges = MeanEdges(box, kEdgeThreshold, edgeMode);
    out.edges = edges;
    out.top = FormatGeneral(edges.top, decimalSeparator);
    out.bottom = FormatGeneral(edges.bottom, decimalSeparator);
    out.edgesShown = true;
    DrawEdgeRows(box, edges);

    const double centreX = ParseReal(xc, decimalSeparator);
    const double centreY = ParseReal(yc, decimalSeparator);
    const double focal = ParseReal(f, decimalSeparator);
    DrawMarker(box, kBlue, centreX, centreY);

    const double D = ParseReal(diameter, decimalSeparator);
    Point2D position{0.0, 0.0};
    out.positionFound =
        CameraPosition(camera, position, focal, centreY, edges.top, edges.bottom, D);
    out.position = position;
    out.x = FormatGeneral(position.x, decimalSeparator);
    out.y = FormatGeneral(position.y, decimalSeparator);
    out.positionShown = true;
}

} // namespace merkanix
