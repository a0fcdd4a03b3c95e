// Speed of the registration engine and the centre search at N = 1024 on
// simulated millimetre-paper frames, and of the focal-length page's steps
// on the farther frame. Besides the benchmark suite, two
// helper modes serve bench/registration-vs-opencv.py:
//   --pair IMAGE1 IMAGE2 [--pair ...]   times the centre search on frame files
//   --shift RAW1 RAW2 N                 prints the sub-pixel shift between two
//                                       raw float32 N x N images
#include "calibration/CalibrationSteps.h"
#include "calibration/CentreSearch.h"
#include "registration/EngineInternals.h"
#include "registration/HistoUnit.h"
#include "simulation/CalibrationSimulator.h"
#include "simulation/TiffFrameWriter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace merkanix;
using namespace merkanix::registration;

namespace {

struct Pair {
    CalibrationImage image1, image2;
    std::vector<float> padded1, padded2;

    void Pad() {
        const std::size_t count = std::size_t{kRegistrationSize} * kRegistrationSize;
        padded1.resize(count);
        padded2.resize(count);
        ZeroFill(image1.data(), kFrameWidth, kFrameHeight, kRegistrationSize, padded1.data());
        ZeroFill(image2.data(), kFrameWidth, kFrameHeight, kRegistrationSize, padded2.data());
    }
};

Pair LoadPair(const std::string& path1, const std::string& path2) {
    Pair p;
    LoadCalibrationFrame(path1, p.image1);
    LoadCalibrationFrame(path2, p.image2);
    p.Pad();
    return p;
}

// Two simulated pairs, so that per-registration benchmarks can alternate
// between inputs the engine has not transformed before.
const std::vector<Pair>& Pairs() {
    static const std::vector<Pair> pairs = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "merkanix-bench-XXXXXX").string();
        const std::string folder = ::mkdtemp(pattern.data());
        std::vector<Pair> out;
        for (std::uint64_t seed = 1; seed <= 2; ++seed) {
            simulation::CalibrationRun run;
            run.seed = seed;
            run.etalons = 0;
            run.etalonCamera = {"CAM3", 23, 318.4, 252.7, 0, -52};
            const auto frames = simulation::RenderCalibrationRun(run);
            std::string paths[2];
            for (int i = 0; i < 2; ++i) {
                paths[i] = folder + "/" + std::to_string(seed) + frames[i].fileName;
                simulation::WriteFrameFile(paths[i], frames[i].samples);
            }
            out.push_back(LoadPair(paths[0], paths[1]));
        }
        std::filesystem::remove_all(folder);
        return out;
    }();
    return pairs;
}

struct Engine {
    TFFTTransformDyn e;
    SurfaceSummary summary;
    Engine() {
        e.SetSize(kRegistrationSize);
        e.AllocateBuffers();
    }
};

void BM_RegisterTranslation(benchmark::State& state) {
    const auto& pairs = Pairs();
    Engine engine;
    TranslationResult r;
    std::size_t i = 0;
    for (auto _ : state) {
        const Pair& p = pairs[i++ % 2];
        engine.e.RegisterTranslation(p.padded1, p.padded2, engine.e.RealBuffer(3), engine.summary,
                                     32, {}, r);
    }
}
BENCHMARK(BM_RegisterTranslation)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RegisterTranslationSubPixel(benchmark::State& state) {
    const auto& pairs = Pairs();
    Engine engine;
    SubPixelTranslationResult r;
    std::size_t i = 0;
    for (auto _ : state) {
        const Pair& p = pairs[i++ % 2];
        engine.e.RegisterTranslationSubPixel(p.padded1, p.padded2, engine.e.RealBuffer(3),
                                             engine.summary, 32, {}, 50, 9, 1e-6f, r);
    }
}
BENCHMARK(BM_RegisterTranslationSubPixel)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RegisterRotationScale(benchmark::State& state) {
    const auto& pairs = Pairs();
    Engine engine;
    RotationScaleResult r;
    std::size_t i = 0;
    for (auto _ : state) {
        const Pair& p = pairs[i++ % 2];
        engine.e.RegisterRotationScale(p.padded1, p.padded2, engine.e.RealBuffer(3), engine.summary,
                                       32, 0, r);
    }
}
BENCHMARK(BM_RegisterRotationScale)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FindCentre(benchmark::State& state) {
    const Pair& p = Pairs()[0];
    CentreSearchResult r;
    for (auto _ : state)
        FindCentre(p.image1, p.image2, p.padded1, p.padded2, CentreSearchSettings{}, r);
}
BENCHMARK(BM_FindCentre)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ForwardFFT(benchmark::State& state) {
    const Pair& p = Pairs()[0];
    AlignedBuffer<Complex> spectrum(p.padded1.size());
    for (auto _ : state)
        ForwardFFT(p.padded1.data(), spectrum.data(), kRegistrationSize);
}
BENCHMARK(BM_ForwardFFT)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LogPolarResample(benchmark::State& state) {
    const Pair& p = Pairs()[0];
    std::vector<float> out(p.padded1.size());
    for (auto _ : state) {
        if (state.range(0) == 0)
            LogPolarResampleScalar(p.padded1.data(), out.data(), kRegistrationSize);
        else
            LogPolarResample(p.padded1.data(), out.data(), kRegistrationSize);
    }
    state.SetLabel(state.range(0) == 0 ? "scalar" : "vector");
}
BENCHMARK(BM_LogPolarResample)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SurfaceSteps(benchmark::State& state) {
    const Pair& p = Pairs()[0];
    const std::size_t count = p.padded1.size();
    AlignedBuffer<Complex> a(count), b(count), c(count);
    ForwardFFT(p.padded1.data(), a.data(), kRegistrationSize);
    ForwardFFT(p.padded2.data(), b.data(), kRegistrationSize);
    std::vector<float> real(count);
    const int step = static_cast<int>(state.range(0));
    for (auto _ : state) {
        switch (step) {
        case 0:
            NormalizedCrossPower(a.data(), b.data(), c.data(), kRegistrationSize);
            break;
        case 1:
            GaussianLowPass(a.data(), c.data(), kRegistrationSize, 32);
            break;
        case 2:
            benchmark::DoNotOptimize(SurfaceStatistics(p.padded1.data(), kRegistrationSize));
            break;
        default:
            ShiftedLogMagnitude(a.data(), real.data(), kRegistrationSize);
        }
    }
    static const char* const kNames[] = {"cross power", "low pass", "statistics", "log magnitude"};
    state.SetLabel(kNames[step]);
}
BENCHMARK(BM_SurfaceSteps)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The farther image of the first pair as the focal-length page shows it,
// illumination corrected.
const Picture& CorrectedFarther() {
    static const Picture corrected = [] {
        Picture farther, out(kFrameWidth, kFrameHeight);
        DrawCalibrationImage(Pairs()[0].image2, farther);
        IlluminationCorrection(farther, out, 79, 2);
        return out;
    }();
    return corrected;
}

void BM_IlluminationCorrection(benchmark::State& state) {
    Picture farther, corrected(kFrameWidth, kFrameHeight);
    DrawCalibrationImage(Pairs()[0].image2, farther);
    for (auto _ : state) {
        IlluminationCorrection(farther, corrected, 79, 2);
        benchmark::DoNotOptimize(corrected.bgr.data());
    }
}
BENCHMARK(BM_IlluminationCorrection)->Unit(benchmark::kMillisecond)->UseRealTime();

// From the corrected picture to the size of a millimetre: stripes removed,
// the iterative threshold, the ruled lines and their spacing.
void BM_MillimetreSteps(benchmark::State& state) {
    const Picture& corrected = CorrectedFarther();
    Picture view(kFrameWidth, kFrameHeight), binary(kFrameWidth, kFrameHeight);
    for (auto _ : state) {
        SuppressStripes(corrected, view, 75);
        registration::IterativeThreshold(view, binary, 1e-6, 128);
        benchmark::DoNotOptimize(MillimetreSize(FindLines(binary), 318.4, 252.7, 3.5));
    }
}
BENCHMARK(BM_MillimetreSteps)->Unit(benchmark::kMillisecond)->UseRealTime();

std::vector<float> ReadRaw(const std::string& path, std::size_t count) {
    std::vector<float> data(count);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(data.data()),
            static_cast<std::streamsize>(count * sizeof(float)));
    if (!in) throw std::runtime_error("cannot read " + path);
    return data;
}

int PrintShift(const std::string& path1, const std::string& path2, int N) {
    const std::size_t count = static_cast<std::size_t>(N) * N;
    const std::vector<float> a = ReadRaw(path1, count), b = ReadRaw(path2, count);
    TFFTTransformDyn engine;
    engine.SetSize(N);
    engine.AllocateBuffers();
    SurfaceSummary summary;
    SubPixelTranslationResult r;
    engine.RegisterTranslationSubPixel(a, b, engine.RealBuffer(3), summary, 32, {}, 50, 9, 1e-6f,
                                       r);
    std::printf("%.9g %.9g\n", r.columnShift, r.rowShift);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest{argv[0]};
    std::vector<Pair> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--shift") == 0 && i + 3 < argc)
            return PrintShift(argv[i + 1], argv[i + 2], std::atoi(argv[i + 3]));
        if (std::strcmp(argv[i], "--pair") == 0 && i + 2 < argc) {
            files.push_back(LoadPair(argv[i + 1], argv[i + 2]));
            i += 2;
            continue;
        }
        rest.push_back(argv[i]);
    }
    for (std::size_t k = 0; k < files.size(); ++k)
        benchmark::RegisterBenchmark(("FindCentreOnFiles/" + std::to_string(k)).c_str(),
                                     [&files, k](benchmark::State& state) {
                                         const Pair& p = files[k];
                                         CentreSearchResult r;
                                         for (auto _ : state)
                                             FindCentre(p.image1, p.image2, p.padded1, p.padded2,
                                                        CentreSearchSettings{}, r);
                                     })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
