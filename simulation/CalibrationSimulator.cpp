#include "simulation/CalibrationSimulator.h"

#include "common/Errors.h"
#include "common/NumberText.h"
#include "measurement/FrameFile.h"
#include "reconstruction/EllipseUnit.h"
#include "simulation/TiffFrameWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>

namespace merkanix::simulation {

double PixelsPerMillimetre(const PaperCamera& camera, double distance) {
    return camera.f / (distance * kPixelPitch);
}

namespace {

// Ink of millimetre paper at paper coordinates (mm): fine lines every
// millimetre, medium every five, bold every ten.
bool Ink(double coordinate) {
    const double k = std::nearbyint(coordinate);
    const double d = std::fabs(coordinate - k);
    const auto index = static_cast<long long>(k);
    const double width = index % 10 == 0 ? 0.20 : index % 5 == 0 ? 0.12 : 0.07;
    return d < width / 2;
}

std::vector<double> GaussianKernel(double sigma) {
    const int radius = static_cast<int>(std::ceil(4 * sigma));
    std::vector<double> kernel(static_cast<std::size_t>(2 * radius + 1));
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[i + radius] = std::exp(-0.5 * i * i / (sigma * sigma));
    for (double& k : kernel)
        k /= sum;
    return kernel;
}

// Separable Gaussian blur, the border sample repeated outwards.
void Blur(std::vector<double>& image, int width, int height, double sigma) {
    if (sigma <= 0) return;
    const std::vector<double> kernel = GaussianKernel(sigma);
    const int radius = static_cast<int>(kernel.size() / 2);
    std::vector<double> pass(image.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double v = 0;
            for (int i = -radius; i <= radius; ++i)
                v += kernel[i + radius] *
                     image[static_cast<std::size_t>(y) * width + std::clamp(x + i, 0, width - 1)];
            pass[static_cast<std::size_t>(y) * width + x] = v;
        }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double v = 0;
            for (int i = -radius; i <= radius; ++i)
                v += kernel[i + radius] *
                     pass[static_cast<std::size_t>(std::clamp(y + i, 0, height - 1)) * width + x];
            image[static_cast<std::size_t>(y) * width + x] = v;
        }
}

} // namespace

std::vector<std::uint16_t> RenderPaper(const PaperCamera& camera, const PaperOptions& o,
                                       double distance, std::uint64_t noiseSeed) {
    if (!(camera.f > 0) || !(distance > 0) || !std::isfinite(distance) ||
        !std::isfinite(camera.xc) || !std::isfinite(camera.yc) || o.supersample < 1 ||
        o.supersample > 64 || !(o.blurSigma >= 0) || o.blurSigma > 50 || !(o.noiseSigma >= 0) ||
        !(o.vignette >= 0 && o.vignette < 1) || !(o.gradient >= 0 && o.gradient < 1) ||
        !std::isfinite(o.paperAngle) || !std::isfinite(o.offsetX) || !std::isfinite(o.offsetY))
        throw std::invalid_argument("paper options out of range");
    const double mmPerPixel = distance * kPixelPitch / camera.f;
    const double angle = o.paperAngle * std::numbers::pi / 180.0;
    const double ca = std::cos(angle), sa = std::sin(angle);
    const int n = o.supersample;
    const double middleX = (kFrameWidth - 1) / 2.0, middleY = (kFrameHeight - 1) / 2.0;
    const double corner2 = middleX * middleX + middleY * middleY;

    std::vector<double> image(kFrameSamples);
    for (int v = 0; v < kFrameHeight; ++v)
        for (int u = 0; u < kFrameWidth; ++u) {
            int inked = 0;
            for (int sy = 0; sy < n; ++sy)
                for (int sx = 0; sx < n; ++sx) {
                    const double px = u - 0.5 + (sx + 0.5) / n, py = v - 0.5 + (sy + 0.5) / n;
                    const double X = (px - camera.xc) * mmPerPixel;
                    const double Y = (py - camera.yc) * mmPerPixel;
                    const double paperX = ca * X + sa * Y + o.offsetX;
                    const double paperY = -sa * X + ca * Y + o.offsetY;
                    inked += Ink(paperX) || Ink(paperY);
                }
            const double ink = static_cast<double>(inked) / (n * n);
            const double r2 = (u - middleX) * (u - middleX) + (v - middleY) * (v - middleY);
            const double light =
                1.0 - o.vignette * r2 / corner2 - o.gradient * u / (kFrameWidth - 1.0);
            image[static_cast<std::size_t>(v) * kFrameWidth + u] =
                light * (o.bright + (o.dark - o.bright) * ink);
        }
    Blur(image, kFrameWidth, kFrameHeight, o.blurSigma);

    return NoisySamples(image, o.noiseSigma, noiseSeed);
}

std::string StageReadingText(double reading) {
    const double hundredths = RoundHalfEven(reading * 100);
    if (!(std::fabs(hundredths) <= 9999))
        throw std::invalid_argument("stage readings must lie within -99.99 ... 99.99 mm");
    char text[16];
    std::snprintf(text, sizeof text, "%s%05.2f", hundredths < 0 ? "-" : "",
                  std::fabs(hundredths) / 100);
    std::string out = text;
    std::replace(out.begin(), out.end(), '.', ',');
    return out;
}

std::string CalibrationFileName(int camera, const DateTimeParts& time, double reading) {
    std::string name = FrameFileName(camera, time); // "CameraK_YYYYMMDD_HHMMSS_mmm.tif"
    name.resize(27);
    return name + "_" + StageReadingText(reading) + ".tif";
}

namespace {

// The reading a file name carries, which is what the truth must describe.
double NameReading(double reading) {
    return RoundHalfEven(reading * 100) / 100;
}

// A few seconds after `start`, on the same day.
DateTimeParts Later(const DateTimeParts& start, int seconds) {
    DateTimeParts t = start;
    const int total = (t.hour * 60 + t.minute) * 60 + t.second + seconds;
    if (total >= 86400) throw std::invalid_argument("the frames would run into the next day");
    t.hour = total / 3600;
    t.minute = total / 60 % 60;
    t.second = total % 60;
    return t;
}

// The etalon, a circle at the origin, as the run's camera sees it.
BandRows EtalonRows(const CalibrationRun& run) {
    EllipseParams etalon;
    etalon.semiMajor = etalon.semiMinor = run.etalonDiameter / 2;
    return TangentRows(run.etalonCamera, etalon);
}

} // namespace

void PlacePaper(CalibrationRun& run) {
    RandomSource random(DeriveSeed(run.seed, 1000003));
    run.paper.offsetX = random.Uniform();
    run.paper.offsetY = random.Uniform();
}

std::vector<CalibrationFrame> RenderCalibrationRun(const CalibrationRun& run) {
    if (run.camera < 1 || run.camera > 3) throw std::invalid_argument("camera must be 1 to 3");
    if (run.etalons < 0) throw std::invalid_argument("negative etalon count");
    if (!(run.etalonDiameter > 0)) throw std::invalid_argument("etalon diameter must be positive");
    const double reading1 = NameReading(run.reading1), reading2 = NameReading(run.reading2);
    for (const double reading : {reading1, reading2})
        if (!(run.paper.zeroDistance - reading > 0))
            throw std::invalid_argument("the target would stand at or behind the lens");

    std::vector<CalibrationFrame> frames;
    int second = 0;
    for (const double reading : {reading1, reading2}) {
        CalibrationFrame frame;
        frame.fileName = CalibrationFileName(run.camera, Later(run.start, second), reading);
        frame.samples = RenderPaper(run.truth, run.paper, run.paper.zeroDistance - reading,
                                    DeriveSeed(run.seed, static_cast<std::uint64_t>(second)));
        frames.push_back(std::move(frame));
        ++second;
    }
    const BandRows band = EtalonRows(run);
    if (band.top < 4 || band.bottom > kFrameHeight - 5)
        throw Error("the etalon leaves the frame of camera " + std::to_string(run.camera));
    for (int e = 0; e < run.etalons; ++e) {
        CalibrationFrame frame;
        frame.fileName = FrameFileName(run.camera, Later(run.start, second));
        frame.samples = RenderBand(band, run.etalonRender,
                                   DeriveSeed(run.seed, static_cast<std::uint64_t>(second)));
        frames.push_back(std::move(frame));
        ++second;
    }
    return frames;
}

namespace {

std::string PaperJson(const PaperOptions& p) {
    const auto number = [](double v) { return FormatRoundTrip(v); };
    return "{\"angle\": " + number(p.paperAngle) + ", \"offset_x\": " + number(p.offsetX) +
           ", \"offset_y\": " + number(p.offsetY) + ", \"blur\": " + number(p.blurSigma) +
           ", \"noise\": " + number(p.noiseSigma) + ", \"vignette\": " + number(p.vignette) +
           ", \"gradient\": " + number(p.gradient) + "}";
}

// The files after the two paper frames.
std::string EtalonFilesJson(const std::vector<CalibrationFrame>& frames) {
    std::string json = "[";
    for (std::size_t i = 2; i < frames.size(); ++i)
        json += (i > 2 ? ", \"" : "\"") + frames[i].fileName + "\"";
    return json + "]";
}

} // namespace

std::string CalibrationTruthJson(const CalibrationRun& run,
                                 const std::vector<CalibrationFrame>& frames) {
    const auto number = [](double v) { return FormatRoundTrip(v); };
    const double reading1 = NameReading(run.reading1), reading2 = NameReading(run.reading2);
    const double z1 = run.paper.zeroDistance - reading1, z2 = run.paper.zeroDistance - reading2;
    const double farther = std::max(z1, z2);
    std::string json = "{\n";
    json += "  \"camera\": \"CAM" + std::to_string(run.camera) + "\",\n";
    json += "  \"pixel_pitch\": " + number(kPixelPitch) + ",\n";
    json += "  \"f\": " + number(run.truth.f) + ", \"xc\": " + number(run.truth.xc) +
            ", \"yc\": " + number(run.truth.yc) + ",\n";
    json += "  \"zero_distance\": " + number(run.paper.zeroDistance) + ",\n";
    json += "  \"images\": [\n";
    for (int i = 0; i < 2; ++i) {
        const double reading = i == 0 ? reading1 : reading2;
        const double z = i == 0 ? z1 : z2;
        json += "    {\"file\": \"" + frames[static_cast<std::size_t>(i)].fileName +
                "\", \"reading\": " + number(reading) + ", \"distance\": " + number(z) +
                ", \"pixels_per_mm\": " + number(PixelsPerMillimetre(run.truth, z)) + "}" +
                (i == 0 ? ",\n" : "\n");
    }
    json += "  ],\n";
    // The registration's magnification carries image 1 onto image 2's scale.
    json += "  \"magnification\": " + number(z1 / z2) + ",\n";
    json += "  \"ds\": " + number(std::fabs(reading1 - reading2)) +
            ", \"farther_pixels_per_mm\": " + number(PixelsPerMillimetre(run.truth, farther)) +
            ",\n";
    json += "  \"paper\": " + PaperJson(run.paper) + ",\n";
    const BandRows band = EtalonRows(run);
    json += "  \"etalon\": {\"diameter\": " + number(run.etalonDiameter) +
            ", \"x\": " + number(run.etalonCamera.x) + ", \"y\": " + number(run.etalonCamera.y) +
            ", \"tangent_rows\": [" + number(band.top) + ", " + number(band.bottom) +
            "], \"files\": " + EtalonFilesJson(frames) + "}\n}\n";
    return json;
}

MarkerColumns StripeMarkers(const PaperCamera& camera, const PaperOptions& paper, double distance) {
    const double mmPerPixel = distance * kPixelPitch / camera.f;
    const double angle = paper.paperAngle * std::numbers::pi / 180.0;
    const double ca = std::cos(angle), sa = std::sin(angle);
    // On a row the paper coordinate along the ruling grows by ca mm per mm,
    // so the vertical lines paperX = k stand 1 / ca mm apart.
    MarkerColumns markers;
    markers.spacing = 1.0 / (ca * mmPerPixel);
    const int period = 2 * static_cast<int>(std::nearbyint((markers.spacing - 1) / 2)) + 1;
    const double middleRow = (kFrameHeight - 1) / 2.0;
    const double Y = (middleRow - camera.yc) * mmPerPixel;
    // Column of line k on the middle row, from paperX = ca X + sa Y + offsetX.
    const auto column = [&](double k) {
        return camera.xc + (k - paper.offsetX - sa * Y) / ca / mmPerPixel;
    };
    // The pair that straddles the frame's middle column.
    const double wanted = (kFrameWidth - 1) / 2.0 - period / 2.0;
    const double k =
        std::nearbyint(ca * (wanted - camera.xc) * mmPerPixel + paper.offsetX + sa * Y);
    markers.first = static_cast<int>(std::nearbyint(column(k)));
    markers.second = markers.first + period;
    if (!(period >= 1 && markers.first >= 0 && markers.second <= kFrameWidth - 1))
        throw std::invalid_argument("two neighbouring ruled lines do not fit in a row");
    return markers;
}

std::array<CalibrationRun, 3> SystemCalibrationRuns(const CalibrationRun& base,
                                                    const std::array<CameraSetup, 3>& cameras) {
    if (base.etalons < 0) throw std::invalid_argument("negative etalon count");
    std::array<CalibrationRun, 3> runs;
    for (int k = 0; k < 3; ++k) {
        CalibrationRun& run = runs[static_cast<std::size_t>(k)];
        const CameraSetup& camera = cameras[static_cast<std::size_t>(k)];
        run = base;
        run.camera = k + 1;
        run.truth = {camera.f, camera.xc, camera.yc};
        run.etalonCamera = camera;
        run.etalonCamera.name = k == 0 ? "CAM1" : k == 1 ? "CAM2" : "CAM3";
        run.start = Later(base.start, k * (2 + base.etalons));
        run.seed = DeriveSeed(base.seed, static_cast<std::uint64_t>(k + 1));
        PlacePaper(run);
    }
    return runs;
}

std::string SystemCalibrationTruthJson(const std::array<CalibrationRun, 3>& runs,
                                       const std::array<std::vector<CalibrationFrame>, 3>& frames) {
    const auto number = [](double v) { return FormatRoundTrip(v); };
    const CalibrationRun& first = runs[0];
    const double reading1 = NameReading(first.reading1), reading2 = NameReading(first.reading2);
    const double z1 = first.paper.zeroDistance - reading1, z2 = first.paper.zeroDistance - reading2;
    const double farther = std::max(z1, z2);
    std::string json = "{\n";
    json += "  \"pixel_pitch\": " + number(kPixelPitch) + ",\n";
    json += "  \"zero_distance\": " + number(first.paper.zeroDistance) + ",\n";
    json += "  \"readings\": [" + number(reading1) + ", " + number(reading2) +
            "], \"distances\": [" + number(z1) + ", " + number(z2) +
            "], \"ds\": " + number(std::fabs(reading1 - reading2)) + ",\n";
    json += "  \"magnification\": " + number(z1 / z2) + ",\n";
    json += "  \"etalon_diameter\": " + number(first.etalonDiameter) + ",\n";
    json += "  \"cameras\": [\n";
    for (std::size_t k = 0; k < 3; ++k) {
        const CalibrationRun& run = runs[k];
        const std::vector<CalibrationFrame>& files = frames[k];
        if (files.size() < 2) throw std::invalid_argument("a camera without its paper frames");
        const CameraSetup& c = run.etalonCamera;
        const MarkerColumns markers = StripeMarkers(run.truth, run.paper, farther);
        const BandRows band = EtalonRows(run);
        json += "    {\"name\": \"" + std::string(c.name) + "\", \"f\": " + number(c.f) +
                ", \"xc\": " + number(c.xc) + ", \"yc\": " + number(c.yc) +
                ", \"x\": " + number(c.x) + ", \"y\": " + number(c.y) + ",\n";
        json += "     \"images\": [\"" + files[0].fileName + "\", \"" + files[1].fileName +
                "\"], \"etalon_files\": " + EtalonFilesJson(files) + ",\n";
        json +=
            "     \"farther_pixels_per_mm\": " + number(PixelsPerMillimetre(run.truth, farther)) +
            ", \"stripe_spacing\": " + number(markers.spacing) + ", \"columns\": [" +
            std::to_string(markers.first) + ", " + std::to_string(markers.second) +
            "], \"period\": " + std::to_string(markers.second - markers.first) + ",\n";
        json += "     \"tangent_rows\": [" + number(band.top) + ", " + number(band.bottom) + "],\n";
        json += "     \"paper\": " + PaperJson(run.paper) + "}" + (k < 2 ? ",\n" : "\n");
    }
    json += "  ]\n}\n";
    return json;
}

} // namespace merkanix::simulation
