#include "calibration/CalibrationUnit.h"

#include "common/Errors.h"
#include "common/NumberText.h"
#include "common/Sorting.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace merkanix {

// --- Calibration images ----------------------------------------------------------

void LoadCalibrationFrame(const std::string& path, CalibrationImage& image) {
    const std::vector<std::uint16_t> samples = ReadFrameSamples(path);
    const std::uint16_t M = *std::max_element(samples.begin(), samples.end());
    image.resize(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        image[i] = M == 0 ? 0.0f
                          : static_cast<float>(RoundHalfEven(static_cast<double>(samples[i]) /
                                                             static_cast<double>(M) * 255.0));
}

bool ZeroFill(const float* source, int w, int h, int N, float* out) {
    if (!(w < N && h < N) || w < 0 || h < 0) return false;
    for (int r = 0; r < N; ++r) {
        float* row = out + static_cast<std::size_t>(r) * N;
        if (r < h) {
            std::copy_n(source + static_cast<std::size_t>(r) * w, w, row);
            std::fill(row + w, row + N, 0.0f);
        } else {
            std::fill(row, row + N, 0.0f);
        }
    }
    return true;
}

bool RescaleImage(const float* source, int w, int h, float s, std::vector<float>& out,
                  int& outWidth, int& outHeight) {
    if (w < 1 || h < 1 || !(s > 0)) return false;
    const double wide = std::trunc(w * static_cast<double>(s));
    const double high = std::trunc(h * static_cast<double>(s));
    // No output column: nothing to sample (and no width to divide by).
    if (wide > kRegistrationSize || high > kRegistrationSize || high < 1 || wide < 1) return false;
    const int W = static_cast<int>(wide), H = static_cast<int>(high);
    const float rowStep = s > 1 ? static_cast<float>(h - 1) / static_cast<float>(H)
                                : static_cast<float>(h) / static_cast<float>(H);
    const float columnStep = s > 1 ? static_cast<float>(w - 1) / static_cast<float>(W)
                                   : static_cast<float>(w) / static_cast<float>(W);
    out.assign(static_cast<std::size_t>(W) * H, 0.0f);
    const auto at = [&](int row, int column) {
        return source[static_cast<std::size_t>(std::min(row, h - 1)) * w + std::min(column, w - 1)];
    };
    for (int r = 0; r < H; ++r) {
        const float y = rowStep * static_cast<float>(r);
        const int i = static_cast<int>(y);
        const float fy = y - static_cast<float>(i);
        for (int c = 0; c < W; ++c) {
            const float x = columnStep * static_cast<float>(c);
            const int j = static_cast<int>(x);
            const float fx = x - static_cast<float>(j);
            out[static_cast<std::size_t>(r) * W + c] =
                (1 - fx) * (1 - fy) * at(i, j) + fx * (1 - fy) * at(i, j + 1) +
                (1 - fx) * fy * at(i + 1, j) + fx * fy * at(i + 1, j + 1);
        }
    }
    outWidth = W;
    outHeight = H;
    return true;
}

// --- Pictures ----------------------------------------------------------------------

TIntMatrix IntegralImage(const Picture& box) {
    if (box.Empty()) return {};
    if (std::int64_t{box.width} * box.height * 255 > std::numeric_limits<std::int32_t>::max())
        return {};
    const int W = box.width, H = box.height;
    TIntMatrix S(static_cast<std::size_t>(W),
                 std::vector<std::int32_t>(static_cast<std::size_t>(H)));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            std::int32_t v = box.Blue(x, y);
            if (x > 0) v += S[x - 1][y];
            if (y > 0) v += S[x][y - 1];
            if (x > 0 && y > 0) v -= S[x - 1][y - 1];
            S[x][y] = v;
        }
    return S;
}

namespace {

// The sums of IntegralImage laid out row by row behind a row and a column of
// zeros, P[(y + 1) * (width + 1) + x + 1] = S[x][y]: the box filter walks
// along rows, where the [column][row] matrix would jump from one column's
// array to the next at every pixel, and the zeros spare it the border tests.
std::vector<std::int32_t> PaddedIntegral(const Picture& box) {
    const int W = box.width, H = box.height, stride = W + 1;
    std::vector<std::int32_t> P(static_cast<std::size_t>(stride) * (H + 1), 0);
    for (int y = 0; y < H; ++y) {
        const std::uint8_t* pixel = box.Pixel(0, y);
        const std::int32_t* above = P.data() + static_cast<std::size_t>(y) * stride + 1;
        std::int32_t* row = P.data() + static_cast<std::size_t>(y + 1) * stride + 1;
        std::int32_t rowSum = 0;
        for (int x = 0; x < W; ++x, pixel += 3) {
            rowSum += pixel[0];
            row[x] = above[x] + rowSum;
        }
    }
    return P;
}

// RoundHalfEven for 0 <= value < 2^52, inline: adding 2^52 leaves no
// fraction bits, so the addition itself rounds (half to even in the default
// mode, as nearbyint does); nearbyint is a library call here and took a good
// part of the filter's time.
double RoundNonNegative(double value) {
    constexpr double kNoFraction = 4503599627370496.0; // 2^52
    const double shifted = value + kNoFraction;
    return shifted - kNoFraction;
}

} // namespace

void BoxFilter(const Picture& source, Picture& target, int k) {
    if (source.Empty() || source.width != target.width || source.height != target.height || k < 1 ||
        k % 2 == 0 || k >= std::min(source.width, source.height))
        return;
    const int W = source.width, H = source.height, stride = W + 1;
    if (std::int64_t{W} * H * 255 > std::numeric_limits<std::int32_t>::max()) return;
    const std::vector<std::int32_t> P = PaddedIntegral(source);
    const int r = (k + 1) / 2;
    // Each column's window, cut at the borders: columns first ... last - 1.
    std::vector<int> first(static_cast<std::size_t>(W)), last(static_cast<std::size_t>(W));
    for (int x = 0; x < W; ++x) {
        first[x] = std::max(x - r + 1, 0);
        last[x] = std::min(x + r - 1, W - 1) + 1;
    }
    target.Resize(W, H);
    for (int y = 0; y < H; ++y) {
        const int y0 = std::max(y - r + 1, 0), y1 = std::min(y + r - 1, H - 1);
        const std::int32_t* top = P.data() + static_cast<std::size_t>(y0) * stride;
        const std::int32_t* bottom = P.data() + static_cast<std::size_t>(y1 + 1) * stride;
        const int rows = y1 - y0 + 1;
        std::uint8_t* out = target.Pixel(0, y);
        for (int x = 0; x < W; ++x, out += 3) {
            const int x0 = first[x], x1 = last[x];
            const std::int32_t sum = bottom[x1] - bottom[x0] - top[x1] + top[x0];
            const double count = static_cast<double>(x1 - x0) * rows;
            out[0] = out[1] = out[2] =
                static_cast<std::uint8_t>(RoundNonNegative(static_cast<double>(sum) / count));
        }
    }
}

int MeanGrey(const Picture& box) {
    if (box.Empty()) return 0;
    std::int64_t sum = 0;
    const std::size_t pixels = static_cast<std::size_t>(box.width) * box.height;
    for (std::size_t p = 0; p < pixels; ++p)
        sum += box.bgr[3 * p];
    return static_cast<int>(RoundHalfEven(static_cast<double>(sum) / static_cast<double>(pixels)));
}

void IlluminationCorrection(const Picture& source, Picture& target, int k, int passes) {
    if (source.Empty() || source.width != target.width || source.height != target.height) return;
    // The source is needed after the target is filtered, even when they are one picture.
    const Picture original = source;
    target = original;
    BoxFilter(original, target, k);
    for (int pass = 1; pass < passes; ++pass)
        BoxFilter(target, target, k);
    const int g = MeanGrey(target);
    const std::size_t pixels = static_cast<std::size_t>(original.width) * original.height;
    for (std::size_t p = 0; p < pixels; ++p) {
        const int v = std::clamp(original.bgr[3 * p] - target.bgr[3 * p] + g, 0, 255);
        target.bgr[3 * p] = target.bgr[3 * p + 1] = target.bgr[3 * p + 2] =
            static_cast<std::uint8_t>(v);
    }
}

void SuppressStripes(const Picture& source, Picture& target, int p) {
    if (p < 1 || p % 2 == 0 || p >= source.width || source.width != target.width ||
        source.height != target.height || source.Empty())
        return;
    const int W = source.width, h = (p - 1) / 2;
    std::vector<double> m(static_cast<std::size_t>(W));
    std::vector<std::uint8_t> row(static_cast<std::size_t>(W));
    for (int y = 0; y < source.height; ++y) {
        // Read the row first: source and target may be one picture.
        for (int j = 0; j < W; ++j)
            row[j] = source.Blue(j, y);
        double sum = 0.0;
        for (int j = 0; j <= h; ++j)
            sum += row[j];
        for (int j = 0; j <= h; ++j) {
            if (j > 0) sum += row[h + j];
            m[j] = sum / (h + j + 1);
        }
        for (int j = h + 1; j < W; ++j)
            m[j] = m[j - 1] + (row[j] - m[j - h]) / p;
        for (int j = 0; j < W; ++j)
            target.SetGrey(j, y,
                           static_cast<std::uint8_t>(std::clamp(RoundHalfEven(m[j]), 0.0, 255.0)));
    }
}

// --- Geometry --------------------------------------------------------------------------

bool OpticalCentre(int height, int width, double m, double dx, double dy, Point2D& centre) {
    if (std::isnan(m)) throw FloatingPointError(kInvalidOperationText);
    if (!(m > 0) || height < 1 || width < 1) return false;
    if (m < 1) {
        centre = {dx / (1 - m), dy / (1 - m)};
    } else if (m > 1) {
        centre = {m * dx / (m - 1), m * dy / (m - 1)};
    } else {
        centre = {0.0, 0.0};
    }
    return true;
}

std::vector<FittedLine> FindLines(const Picture& box) {
    std::vector<FittedLine> lines;
    if (box.Empty()) return lines;
    const int W = box.width, H = box.height;
    std::vector<std::int32_t> label(static_cast<std::size_t>(W) * H, 0);
    std::vector<std::int32_t> queue;
    static constexpr int kNeighbours[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0},
                                              {1, 0},   {-1, 1}, {0, 1},  {1, 1}};
    std::int32_t regions = 0;
    for (int y0 = 0; y0 < H; ++y0)
        for (int x0 = 0; x0 < W; ++x0) {
            const std::size_t start = static_cast<std::size_t>(y0) * W + x0;
            if (box.Blue(x0, y0) != 0 || label[start] != 0) continue;
            label[start] = ++regions;
            queue.assign(1, static_cast<std::int32_t>(start));
            std::int64_t n = 0, sx = 0, sy = 0, sxy = 0, sxx = 0;
            bool left = false, right = false;
            for (std::size_t head = 0; head < queue.size(); ++head) {
                const int x = queue[head] % W, y = queue[head] / W;
                ++n;
                sx += x;
                sy += y;
                sxy += std::int64_t{x} * y;
                sxx += std::int64_t{x} * x;
                left = left || x == 0;
                right = right || x == W - 1;
                for (const auto& d : kNeighbours) {
                    const int nx = x + d[0], ny = y + d[1];
                    if (!box.Contains(nx, ny) || box.Blue(nx, ny) != 0) continue;
                    const std::size_t at = static_cast<std::size_t>(ny) * W + nx;
                    if (label[at] != 0) continue;
                    label[at] = regions;
                    queue.push_back(static_cast<std::int32_t>(at));
                }
            }
            if (!left || !right) continue;
            const double count = static_cast<double>(n);
            const double meanX = static_cast<double>(sx) / count;
            const double meanY = static_cast<double>(sy) / count;
            const double cov = static_cast<double>(sxy) / count - meanX * meanY;
            const double var = static_cast<double>(sxx) / count - meanX * meanX;
            if (var == 0) continue;
            FittedLine line;
            line.a = cov / var;
            line.b = -1.0;
            line.c = meanY - line.a * meanX;
            line.angle = std::atan2(line.a, 1.0) * 180.0 / 3.14159265358979323846;
            const double first = line.c, last = (W - 1) * line.a + line.c;
            if (first >= 0 && first <= H - 1 && last >= 0 && last <= H - 1) lines.push_back(line);
        }
    return lines;
}

namespace {

double Median(std::vector<double> values) {
    SortReals(values.data(), static_cast<int>(values.size()) - 1);
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// x / y where the arithmetic would trap on a zero divisor.
double Divide(double x, double y) {
    if (y == 0 && !std::isnan(x))
        throw FloatingPointError(x == 0 ? kInvalidOperationText : kDivisionByZeroText);
    return x / y;
}

// a - b where infinities of one sign would make an invalid operation.
double Difference(double a, double b) {
    if (std::isinf(a) && std::isinf(b) && (a > 0) == (b > 0))
        throw FloatingPointError(kInvalidOperationText);
    return a - b;
}

} // namespace

double MillimetreSize(const std::vector<FittedLine>& lines, double xc, double yc,
                      double threshold) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (lines.size() < 2) return nan;
    std::vector<double> angles;
    for (const FittedLine& line : lines)
        angles.push_back(line.angle);
    const double median = Median(angles);
    std::vector<double> deviations;
    for (const double angle : angles)
        deviations.push_back(std::fabs(angle - median));
    const double mad = Median(deviations);

    // The outer lines that pass the outlier test, by position in the found order.
    std::size_t kept = 0, firstKept = 0, lastKept = 0;
    for (std::size_t i = lines.size(); i-- > 0;)
        if (!(std::fabs(Divide((lines[i].angle - median) * 0.6475, mad)) > threshold)) {
            if (kept++ == 0) lastKept = i;
            firstKept = i;
        }
    if (kept < 2) return nan;

    const FittedLine& first = lines[firstKept];
    const FittedLine& last = lines[lastKept];
    double d = std::numeric_limits<double>::infinity();
    const double length1 = std::hypot(first.a, first.b), length2 = std::hypot(last.a, last.b);
    if (length1 != 0 && length2 != 0) {
        const double nx = (first.a / length1 + last.a / length2) / 2;
        const double ny = (first.b / length1 + last.b / length2) / 2;
        const double ma = -ny, mb = nx, mc = -(-ny * xc + nx * yc);
        const Point2D p = LineIntersection(ma, mb, mc, first.a, first.b, first.c);
        const Point2D q = LineIntersection(ma, mb, mc, last.a, last.b, last.c);
        const double ex = Difference(p.x, q.x), ey = Difference(p.y, q.y);
        d = std::sqrt(ex * ex + ey * ey);
    }
    // The paper's lines are 1 mm apart, and a dropped line between the two
    // outer ones still leaves its gap in the distance: count the gaps by
    // position in the found order, not by the lines that are left.
    return d / static_cast<double>(lastKept - firstKept);
}

Point2D LineIntersection(double a1, double b1, double c1, double a2, double b2, double c2) {
    const double delta = b1 * a2 - a1 * b2;
    if (delta == 0) {
        const double inf = std::numeric_limits<double>::infinity();
        return {inf, inf};
    }
    return {(c1 * b2 - b1 * c2) / delta, (a1 * c2 - c1 * a2) / delta};
}

bool CameraPosition(std::string_view camera, Point2D& position, double f, double yc, double u,
                    double l, double D) {
    const bool known = camera == "CAM1" || camera == "CAM2" || camera == "CAM3";
    const auto inRows = [](double v) { return v >= 0 && v <= 492; };
    if (!known || !(f > 0) || !(D > 0) || !inRows(yc) || !inRows(u) || !inRows(l)) return false;

    const double k = kPixelPitch;
    const double R = D / 2;
    const double d1 = std::fabs(yc - u) * k;
    const double d2 = std::fabs(yc - l) * k;
    const double d12 = std::fabs(u - l) * k;
    const double L1 = std::sqrt(d1 * d1 + f * f);
    const double L2 = std::sqrt(d2 * d2 + f * f);
    const double t = L1 * d12 / (L1 + L2);
    const double cosAlpha = (L1 * L1 + L2 * L2 - d12 * d12) / (2 * L1 * L2);
    const double halfVersine = (1 - cosAlpha) / 2;
    if (halfVersine < 0) throw FloatingPointError(kInvalidOperationText);
    const double sinHalfAlpha = std::sqrt(halfVersine);
    // Both edges on one row: the etalon would be infinitely far away.
    if (sinHalfAlpha == 0) throw FloatingPointError(kDivisionByZeroText);
    const double rho = R / sinHalfAlpha;
    const double e = std::fabs(k * yc - (k * u + t));
    const double g = std::sqrt(e * e + f * f);

    double X = 0;
    double Y = -rho * f / g;
    if (d1 < d2) {
        X = rho * e / g;
    } else if (d1 > d2) {
        X = -rho * e / g;
    } else {
        X = 0;
        Y = -rho;
    }

    const double c = std::sqrt(3.0) / 2;
    if (camera == "CAM3") {
        position = {X, Y};
    } else if (camera == "CAM1") {
        position = {c * Y - X / 2, -c * X - Y / 2};
    } else {
        position = {-X / 2 - c * Y, c * X - Y / 2};
    }
    return true;
}

} // namespace merkanix
