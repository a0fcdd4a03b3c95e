// Speed of the etalon objective: one pass (the seven sums) over ten etalon
// triples on one thread and on two.
#include "measurement/Evaluation.h"
#include "optimisation/EtalonOptimisation.h"
#include "simulation/FrameSimulator.h"

#include <benchmark/benchmark.h>
#include <cmath>

using namespace merkanix;

namespace {

// Exact tangent rows of the etalon for the program's start cameras.
CameraEdges EtalonEdges(double x, double y) {
    const auto cameras = ParseCameraSetups(DefaultCameraTexts('.'), '.');
    const EllipseParams etalon{0.51, 0.51, x, y, 0};
    CameraEdges edges;
    for (int k = 0; k < 3; ++k) {
        const simulation::BandRows rows = simulation::TangentRows(cameras[k], etalon);
        edges[k] = {rows.top, rows.bottom};
    }
    return edges;
}

void BM_EtalonPass(benchmark::State& state) {
    ObjectiveData data;
    data.reference = EtalonEdges(0, 0);
    for (int i = 0; i < 10; ++i)
        data.triples.push_back(EtalonEdges(0.25 * std::cos(i), 0.2 * std::sin(1.7 * i)));
    // Threads are kept from pass to pass, as in a run.
    WorkerPool workers(static_cast<unsigned>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            EtalonObjective(data, {16, 16, 16}, 0.1, ObjectiveVariant::MeanSquared, workers));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EtalonPass)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
