#include "measurement/Evaluation.h"

#include "common/Marker.h"
#include "common/NumberText.h"
#include "common/ParallelFor.h"
#include "measurement/FrameFile.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <unordered_map>

namespace merkanix {

namespace {

constexpr const char* kCameraNames[3] = {"CAM1", "CAM2", "CAM3"};

// The geometry texts in the order an evaluation reads them once the centre
// marks are placed: x of every camera, then y, f and yc likewise.
void ParseGeometry(const SystemTexts& texts, char sep, std::array<CameraSetup, 3>& cameras) {
    for (int k = 0; k < 3; ++k)
        cameras[k].x = ParseReal(texts[k].x, sep);
    for (int k = 0; k < 3; ++k)
        cameras[k].y = ParseReal(texts[k].y, sep);
    for (int k = 0; k < 3; ++k)
        cameras[k].f = ParseReal(texts[k].f, sep);
    for (int k = 0; k < 3; ++k)
        cameras[k].yc = ParseReal(texts[k].yc, sep);
}

} // namespace

std::array<CameraSetup, 3> ParseCameraSetups(const SystemTexts& texts, char sep) {
    std::array<CameraSetup, 3> cameras;
    for (int k = 0; k < 3; ++k) {
        cameras[k].name = kCameraNames[k];
        cameras[k].xc = ParseReal(texts[k].xc, sep);
        cameras[k].yc = ParseReal(texts[k].yc, sep);
    }
    ParseGeometry(texts, sep, cameras);
    return cameras;
}

ReconstructionState Reconstruct(const std::array<EdgePair, 3>& edges,
                                const std::array<CameraSetup, 3>& cameras) {
    ReconstructionState state;
    for (int k = 0; k < 3; ++k) {
        const CameraSetup& c = cameras[k];
        state.lines[2 * k] = SightLine(c.name, c.x, c.y, c.f, c.yc, edges[k].top);
        state.lines[2 * k + 1] = SightLine(c.name, c.x, c.y, c.f, c.yc, edges[k].bottom);
    }
    state.ellipses = EllipsesLeavingOneOut(state.lines);
    state.fibre = MeanEllipse(state.ellipses);
    return state;
}

static double DiameterOf(const EllipseParams& fibre) {
    return fibre.Valid() ? EquivalentDiameter(fibre.semiMajor, fibre.semiMinor) : NoValue();
}

void EvaluateTriple(const FrameTriple& triple, const SystemTexts& texts, char sep, bool draw,
                    TripleEvaluation& out, EdgeMode edgeMode) {
    out.viewsLoaded = 0;
    out.edgesFound = 0;
    out.camerasDone = 0;
    out.reconstructed = false;
    out.diameter = NoValue();

    for (int k = 0; k < 3; ++k) {
        LoadFrame(triple.path[k], out.views[k]);
        out.viewsLoaded = k + 1;
    }
    std::array<CameraSetup, 3> cameras;
    for (int k = 0; k < 3; ++k) {
        Picture& view = out.views[k];
        out.edges[k] = MeanEdges(view, kEdgeThreshold, edgeMode);
        if (draw) DrawEdgeRows(view, out.edges[k]);
        out.edgesFound = k + 1;
        cameras[k].name = kCameraNames[k];
        cameras[k].xc = ParseReal(texts[k].xc, sep);
        cameras[k].yc = ParseReal(texts[k].yc, sep);
        if (draw) DrawMarker(view, kBlue, cameras[k].xc, cameras[k].yc);
        out.camerasDone = k + 1;
    }
    ParseGeometry(texts, sep, cameras);
    out.state = Reconstruct(out.edges, cameras);
    out.reconstructed = true;
    out.diameter = DiameterOf(out.state.fibre);
}

std::vector<TripleResult>
EvaluateTriples(const TripleList& triples, const SystemTexts& texts, char sep, unsigned jobs,
                const std::function<void(std::size_t, std::size_t)>& progress,
                std::vector<std::string>* shortFrames, EdgeMode edgeMode) {
    const std::array<CameraSetup, 3> cameras = ParseCameraSetups(texts, sep);
    if (jobs == 0) jobs = std::max(1u, std::thread::hardware_concurrency());

    // Frames in order of first use; a frame shared by several triples is
    // measured once.
    std::vector<const std::string*> frames;
    std::unordered_map<std::string, std::size_t> frameIndex;
    std::vector<std::array<std::size_t, 3>> triplesFrames(triples.size());
    for (std::size_t t = 0; t < triples.size(); ++t)
        for (int k = 0; k < 3; ++k) {
            const auto [it, added] = frameIndex.try_emplace(triples[t].path[k], frames.size());
            if (added) frames.push_back(&it->first);
            triplesFrames[t][k] = it->second;
        }

    std::vector<EdgePair> frameEdges(frames.size());
    std::vector<char> frameShort(frames.size(), 0); // not vector<bool>: threads write neighbours
    std::vector<std::exception_ptr> frameErrors(frames.size());
    // The earliest failing frame is the one the first failing triple reports;
    // later frames need not be measured once it is known.
    std::atomic<std::size_t> firstFailure{frames.size()};
    std::atomic<std::size_t> done{0};
    ParallelFor(frames.size(), jobs, [&](std::size_t i) {
        if (i < firstFailure.load(std::memory_order_relaxed)) {
            try {
                thread_local Picture view;
                frameShort[i] =
                    LoadFrame(*frames[i], view) < static_cast<std::size_t>(kFrameSamples);
                frameEdges[i] = MeanEdges(view, kEdgeThreshold, edgeMode);
            } catch (...) {
                frameErrors[i] = std::current_exception();
                std::size_t seen = firstFailure.load();
                while (i < seen && !firstFailure.compare_exchange_weak(seen, i)) {
                }
            }
        }
        const std::size_t finished = ++done;
        if (progress) progress(finished, frames.size());
    });
    if (firstFailure.load() < frames.size())
        std::rethrow_exception(frameErrors[firstFailure.load()]);
    if (shortFrames)
        for (std::size_t i = 0; i < frames.size(); ++i)
            if (frameShort[i]) shortFrames->push_back(*frames[i]);

    std::vector<TripleResult> results(triples.size());
    std::vector<std::exception_ptr> tripleErrors(triples.size());
    ParallelFor(triples.size(), jobs, [&](std::size_t t) {
        try {
            TripleResult& r = results[t];
            for (int k = 0; k < 3; ++k)
                r.edges[k] = frameEdges[triplesFrames[t][k]];
            r.state = Reconstruct(r.edges, cameras);
            r.diameter = DiameterOf(r.state.fibre);
        } catch (...) {
            tripleErrors[t] = std::current_exception();
        }
    });
    for (const std::exception_ptr& error : tripleErrors)
        if (error) std::rethrow_exception(error);
    return results;
}

EllipseTexts FormatEllipseRow(const EllipseParams& e, char sep) {
    if (!e.Valid()) return {"-", "-", "-", "-"};
    return {"[" + FormatFixed(e.centreX, 4, sep) + " ; " + FormatFixed(e.centreY, 4, sep) + "]",
            FormatFixed(e.semiMajor, 4, sep), FormatFixed(e.semiMinor, 4, sep),
            FormatFixed(e.angle, 2, sep)};
}

std::string FormatDiameter(const EllipseParams& fibre, char sep) {
    return fibre.Valid() ? FormatFixed(DiameterOf(fibre), 4, sep) : "-";
}

std::string FormatSpan(std::int64_t span) {
    return std::to_string(span) + " ms";
}

} // namespace merkanix
