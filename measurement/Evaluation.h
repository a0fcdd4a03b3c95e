#pragma once
// The measurement of one triple: frames, edges, lines of sight, ellipses and
// the fibre's equivalent diameter, and the texts the result panel shows.
#include "common/Picture.h"
#include "measurement/Edges.h"
#include "measurement/Settings.h"
#include "measurement/Triples.h"
#include "reconstruction/EllipseUnit.h"

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace merkanix {

// Parses the camera texts in the order an evaluation reads them (xc, yc of
// each camera for its centre mark, then x1..x3, y1..y3, f1..f3, yc1..yc3),
// so that the first bad text is the one reported.
std::array<CameraSetup, 3> ParseCameraSetups(const SystemTexts& texts, char decimalSeparator);

// Six lines of sight from the three edge pairs, the six ellipses and their mean.
ReconstructionState Reconstruct(const std::array<EdgePair, 3>& edges,
                                const std::array<CameraSetup, 3>& cameras);

// Filled step by step, so that after a failure it holds what was done.
struct TripleEvaluation {
    std::array<Picture, 3> views;    // the camera views, edges and centre marks drawn
    int viewsLoaded = 0;             // frames loaded so far
    std::array<EdgePair, 3> edges{}; // valid for the first `edgesFound` cameras
    int edgesFound = 0;              // edges found (and drawn) so far
    int camerasDone = 0;             // edges and centre marks done
    ReconstructionState state;
    bool reconstructed = false;
    double diameter = NoValue(); // of the fibre ellipse; NaN when invalid
};

// Evaluates a triple into `out`. With `draw`, the edge rows and the optical
// centres are drawn into the views. Throws on an unreadable frame or a
// camera text that is not a number; `out` then holds the steps done.
void EvaluateTriple(const FrameTriple& triple, const SystemTexts& texts, char decimalSeparator,
                    bool draw, TripleEvaluation& out, EdgeMode edgeMode = EdgeMode::WholeRows);

struct TripleResult {
    std::array<EdgePair, 3> edges{};
    ReconstructionState state;
    double diameter = NoValue();
};

// Evaluates every triple without drawing, on `jobs` threads (0: all cores).
// Each frame is measured once however many triples share it. The results
// do not depend on `jobs`. The first error in triple order is thrown.
// A frame file shorter than a full frame is measured with the missing
// samples 0; its path goes to `shortFrames` (in order of first use).
std::vector<TripleResult> EvaluateTriples(
    const TripleList& triples, const SystemTexts& texts, char decimalSeparator, unsigned jobs,
    const std::function<void(std::size_t done, std::size_t total)>& progress = {},
    std::vector<std::string>* shortFrames = nullptr, EdgeMode edgeMode = EdgeMode::WholeRows);

// Texts of one result-panel row: "[x ; y]" with "%.4f", a and b "%.4f",
// angle "%.2f"; "-" in every field for an invalid ellipse.
struct EllipseTexts {
    std::string centre, a, b, angle;
};
EllipseTexts FormatEllipseRow(const EllipseParams& ellipse, char decimalSeparator);
// "%.4f" of the diameter, "-" when the fibre ellipse is invalid.
std::string FormatDiameter(const EllipseParams& fibre, char decimalSeparator);
// "N ms".
std::string FormatSpan(std::int64_t span);

} // namespace merkanix
