#pragma once
// Images with known relations for the registration tests: band-limited
// periodic noise (so that Fourier shifts are exact), cyclic and sub-pixel
// shifts, and Gaussian blobs under an exact rotation and scale.
#include "registration/EngineInternals.h"
#include "simulation/FrameSimulator.h"

#include <cmath>
#include <numbers>
#include <vector>

namespace merkanix::testing {

using registration::Complex;

// `image` with each spectral term multiplied by factor(u, v) of its signed
// row and column frequencies.
template <typename Factor>
std::vector<float> Filtered(const std::vector<float>& image, int N, Factor factor) {
    registration::AlignedBuffer<Complex> s(image.size());
    registration::ForwardFFT(image.data(), s.data(), N);
    for (int r = 0; r < N; ++r)
        for (int c = 0; c < N; ++c)
            s[static_cast<std::size_t>(r) * N + c] *=
                factor(r <= N / 2 ? r : r - N, c <= N / 2 ? c : c - N);
    registration::TransformInPlace(s.data(), N, +1);
    std::vector<float> out(image.size());
    for (std::size_t k = 0; k < out.size(); ++k)
        out[k] = s[k].real() / static_cast<float>(N * N);
    return out;
}

// White noise low-passed with a Gaussian of `cutoff` cycles per image and
// shifted to values around 128.
inline std::vector<float> SmoothNoise(int N, std::uint64_t seed, double cutoff) {
    simulation::RandomSource random(seed);
    std::vector<float> image(static_cast<std::size_t>(N) * N);
    for (float& v : image)
        v = static_cast<float>(random.Normal());
    image = Filtered(image, N, [&](double u, double v) {
        return Complex(static_cast<float>(std::exp(-(u * u + v * v) / (2 * cutoff * cutoff))), 0);
    });
    double sumSquares = 0;
    for (const float v : image)
        sumSquares += static_cast<double>(v) * v;
    const double scale = 40 / std::sqrt(sumSquares / static_cast<double>(image.size()));
    for (float& v : image)
        v = static_cast<float>(128 + v * scale);
    return image;
}

// out(r, c) = in(r - dr, c - dc), cyclically: the content moves by (dr, dc).
inline std::vector<float> CyclicShift(const std::vector<float>& in, int N, int dr, int dc) {
    std::vector<float> out(in.size());
    for (int r = 0; r < N; ++r)
        for (int c = 0; c < N; ++c)
            out[static_cast<std::size_t>(r) * N + c] =
                in[static_cast<std::size_t>(((r - dr) % N + N) % N) * N + ((c - dc) % N + N) % N];
    return out;
}

// The same for fractional shifts, exact for a band-limited periodic image;
// the Nyquist terms of an even size have no direction to move in.
inline std::vector<float> FourierShift(const std::vector<float>& in, int N, double dr, double dc) {
    return Filtered(in, N, [&](double u, double v) {
        if (u == N / 2.0 || v == N / 2.0) return Complex(1, 0);
        const double phase = -2 * std::numbers::pi * (u * dr + v * dc) / N;
        return Complex(static_cast<float>(std::cos(phase)), static_cast<float>(std::sin(phase)));
    });
}

// Gaussian blobs around the middle of an N x N image, seen turned by
// `degrees` and magnified by `scale` about (N/2, N/2); zero far from the middle.
inline std::vector<float> Blobs(int N, std::uint64_t seed, double degrees, double scale) {
    simulation::RandomSource random(seed);
    struct Blob {
        double x, y, height;
    };
    std::vector<Blob> blobs;
    const double reach = N * 0.28;
    while (blobs.size() < 80) {
        const double x = random.Uniform(-reach, reach), y = random.Uniform(-reach, reach);
        if (x * x + y * y < reach * reach) blobs.push_back({x, y, random.Uniform(50, 200)});
    }
    const double a = degrees * std::numbers::pi / 180, ca = std::cos(a), sa = std::sin(a);
    const double width = N / 90.0;
    std::vector<float> image(static_cast<std::size_t>(N) * N, 0.0f);
    for (int r = 0; r < N; ++r)
        for (int c = 0; c < N; ++c) {
            // The point of the unturned pattern that lands on (r, c).
            const double x = (c - N / 2.0) / scale, y = (r - N / 2.0) / scale;
            const double px = ca * x + sa * y, py = -sa * x + ca * y;
            double v = 0;
            for (const Blob& b : blobs) {
                const double d2 = (px - b.x) * (px - b.x) + (py - b.y) * (py - b.y);
                if (d2 < 25 * width * width) v += b.height * std::exp(-d2 / (2 * width * width));
            }
            image[static_cast<std::size_t>(r) * N + c] = static_cast<float>(v);
        }
    return image;
}

} // namespace merkanix::testing
