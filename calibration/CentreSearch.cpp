#include "calibration/CentreSearch.h"

#include "common/Errors.h"
#include "common/NumberText.h"

#include <cmath>

namespace merkanix {

using namespace registration;

bool FindCentre(const CalibrationImage& image1, const CalibrationImage& image2,
                const std::vector<float>& padded1, const std::vector<float>& padded2,
                const CentreSearchSettings& settings, CentreSearchResult& result,
                const RegistrationProgress& progress) {
    if (!(settings.epsilon > 0) || settings.maximumPasses < 1) return false;
    const int N = settings.N;
    if (image1.size() < static_cast<std::size_t>(kFrameSamples) ||
        image2.size() < static_cast<std::size_t>(kFrameSamples))
        throw std::invalid_argument("calibration images must hold a whole frame");

    TFFTTransformDyn engine;
    engine.SetSize(N);
    engine.AllocateBuffers();
    const std::span<float> surface = engine.RealBuffer(3);
    SurfaceSummary summary;

    engine.RegisterRotationScale(padded1, padded2, surface, summary, settings.lowPass, 0,
                                 result.rotationScale, progress);
    const float m = result.rotationScale.magnification;

    // The nearer image is shrunk to the scale of the farther one and
    // registered against it.
    const bool shrinkFirst = m <= 1;
    result.rescaledImage = shrinkFirst ? 1 : 2;
    const float s = shrinkFirst ? m : 1.0f / m;
    result.rescaled.clear();
    result.rescaledWidth = result.rescaledHeight = 0;
    RescaleImage((shrinkFirst ? image1 : image2).data(), kFrameWidth, kFrameHeight, s,
                 result.rescaled, result.rescaledWidth, result.rescaledHeight);
    // A magnification the rescale refuses leaves nothing to register: the
    // zero-filled copy is then all zeros, as its size is 0 x 0.
    std::vector<float> padded(static_cast<std::size_t>(N) * N, 0.0f);
    if (!result.rescaled.empty())
        ZeroFill(result.rescaled.data(), result.rescaledWidth, result.rescaledHeight, N,
                 padded.data());
    const std::vector<float>& other = shrinkFirst ? padded2 : padded1;

    engine.RegisterTranslation(padded, other, surface, summary, settings.lowPass, {},
                               result.translation, {0, {}, progress.processEvents});
    engine.RegisterTranslationSubPixel(padded, other, surface, summary, settings.lowPass, {},
                                       settings.maximumPasses, settings.window,
                                       static_cast<float>(settings.epsilon), result.subPixel,
                                       {0, {}, progress.processEvents});
    result.dx = result.subPixel.columnShift;
    result.dy = result.subPixel.rowShift;
    OpticalCentre(kFrameHeight, kFrameWidth, m, result.dx, result.dy, result.centre);
    result.surface.assign(surface.begin(), surface.end());
    engine.FreeBuffers();
    return true;
}

bool FindCentre(const CalibrationImage& image1, const CalibrationImage& image2,
                const CentreSearchSettings& settings, CentreSearchResult& result,
                const RegistrationProgress& progress) {
    const int N = settings.N;
    std::vector<float> padded1(static_cast<std::size_t>(N) * N),
        padded2(static_cast<std::size_t>(N) * N);
    if (image1.size() < static_cast<std::size_t>(kFrameSamples) ||
        image2.size() < static_cast<std::size_t>(kFrameSamples))
        throw std::invalid_argument("calibration images must hold a whole frame");
    if (!ZeroFill(image1.data(), kFrameWidth, kFrameHeight, N, padded1.data()) ||
        !ZeroFill(image2.data(), kFrameWidth, kFrameHeight, N, padded2.data()))
        throw std::invalid_argument("the registration size must exceed the frame");
    return FindCentre(image1, image2, padded1, padded2, settings, result, progress);
}

double FocalLength(double yc, double ds, double s, double dy) {
    const double numerator = yc * ds * kPixelPitch * s;
    if (dy == 0 && !std::isnan(numerator))
        throw FloatingPointError(numerator == 0 ? kInvalidOperationText : kDivisionByZeroText);
    return numerator / dy;
}

std::optional<double> StageReading(const std::string& fileName, char decimalSeparator,
                                   std::string* text) {
    if (fileName.size() < 29) return std::nullopt;
    const std::string field = fileName.substr(28, fileName[28] == '-' ? 6 : 5);
    if (text != nullptr) *text = field;
    try {
        return static_cast<float>(ParseReal(field, decimalSeparator));
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

} // namespace merkanix
