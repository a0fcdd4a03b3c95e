// Speed of the measuring core on one simulated triple (files in the page cache).
#include "measurement/Edges.h"
#include "measurement/Evaluation.h"
#include "measurement/FrameFile.h"
#include "reconstruction/ReconstructionView.h"
#include "simulation/FrameSimulator.h"
#include "simulation/TiffFrameWriter.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <unistd.h>

using namespace merkanix;

namespace {

struct Fixture {
    std::string folder;
    FrameTriple triple;
    SystemTexts texts = DefaultCameraTexts(',');

    Fixture() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "merkanix-bench-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        simulation::RunOptions run;
        run.triples = 1;
        run.seed = 5;
        run.ovalityMax = 0.1;
        const simulation::RunPlan plan = simulation::PlanRun(ParseCameraSetups(texts, ','), run);
        simulation::RenderOptions render;
        render.noiseSigma = 300;
        for (int k = 0; k < 3; ++k) {
            const simulation::PlannedFrame& frame = plan.triples[0].frames[k];
            triple.path[k] = folder + "/" + frame.fileName;
            simulation::WriteFrameFile(triple.path[k],
                                       simulation::RenderBand(frame.band, render, frame.noiseSeed));
        }
    }
    ~Fixture() { std::filesystem::remove_all(folder); }
};

const Fixture& TheFixture() {
    static const Fixture fixture;
    return fixture;
}

void BM_LoadFrame(benchmark::State& state) {
    const Fixture& f = TheFixture();
    Picture view;
    for (auto _ : state) {
        LoadFrame(f.triple.path[0], view);
        benchmark::DoNotOptimize(view.bgr.data());
    }
}
BENCHMARK(BM_LoadFrame)->Unit(benchmark::kMicrosecond);

void BM_MeanEdges(benchmark::State& state) {
    Picture view;
    LoadFrame(TheFixture().triple.path[0], view);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            MeanEdges(view, kEdgeThreshold, static_cast<EdgeMode>(state.range(0))));
}
// 0: whole rows, 1: between rows.
BENCHMARK(BM_MeanEdges)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_EllipseFromTangents(benchmark::State& state) {
    TripleEvaluation out;
    EvaluateTriple(TheFixture().triple, TheFixture().texts, ',', false, out);
    const auto& L = out.state.lines;
    const std::array<Line2D, 5> five = {L[1], L[2], L[3], L[5], L[4]};
    for (auto _ : state)
        benchmark::DoNotOptimize(EllipseFromTangents(five));
}
BENCHMARK(BM_EllipseFromTangents)->Unit(benchmark::kMicrosecond);

void BM_EvaluateTriple(benchmark::State& state) {
    const Fixture& f = TheFixture();
    TripleEvaluation out;
    const bool draw = state.range(0) != 0;
    for (auto _ : state) {
        EvaluateTriple(f.triple, f.texts, ',', draw, out);
        benchmark::DoNotOptimize(out.diameter);
    }
    state.SetLabel(draw ? "drawing edges and centres" : "numbers only");
}
BENCHMARK(BM_EvaluateTriple)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_DrawReconstruction(benchmark::State& state) {
    TripleEvaluation out;
    EvaluateTriple(TheFixture().triple, TheFixture().texts, ',', false, out);
    RingChoice rings; // the fibre ring only, as the window starts
    if (state.range(0) != 0) rings.ellipses.fill(true);
    Picture view(492, 492);
    for (auto _ : state) {
        DrawReconstruction(view, out.state, 100, 2.0, rings);
        benchmark::DoNotOptimize(view.bgr.data());
    }
    state.SetLabel(state.range(0) != 0 ? "all seven rings" : "fibre ring");
}
BENCHMARK(BM_DrawReconstruction)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
