#pragma once
// Camera calibration by optimisation: the etalon objective g over the three
// focal lengths and the steepest descent that drives it down. The window and
// merkanix-optimise share all of it; they only read texts in and show the
// texts a run reports.
#include "common/DateTime.h"
#include "common/Geometry.h"
#include "common/Picture.h"
#include "common/WorkerPool.h"
#include "measurement/Edges.h"
#include "measurement/Triples.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace merkanix {

// --- Etalon frames and triples ----------------------------------------------------

// The three cameras' edge rows (CAM1, CAM2, CAM3) of one etalon view.
using CameraEdges = std::array<EdgePair, 3>;

// Edge rows (threshold 10) of the three basic-position etalon pictures.
// Throws Error naming the missing cameras unless all three are loaded: a run
// on an empty picture would work with positions that mean nothing.
// The reference and the triples must be measured in the same edge mode, or
// the positions and the views disagree by half a row.
CameraEdges MeasureReferenceEdges(const std::array<const Picture*, 3>& etalonPictures,
                                  const std::array<bool, 3>& loaded,
                                  EdgeMode edgeMode = EdgeMode::WholeRows);

// One entry of the optimisation window's own triple table: the triple and
// each frame's position in the file list.
struct EtalonTriple {
    FrameTriple frames;
    std::array<std::int32_t, 3> listIndex{};
};
using EtalonTripleTable = std::vector<EtalonTriple>;

// The triple search over the window's file list (names in list order), with
// the measurement's name rules. The table grows as needed. Throws
// ConversionError for a bad tolerance text or frame name.
EtalonTripleTable FindEtalonTriples(const std::string& folder,
                                    const std::vector<std::string>& names,
                                    std::string_view toleranceText, char decimalSeparator);

// The edge rows of every triple's three frames, measured once per run, in
// table order. Throws InOutError naming a frame that cannot be read.
std::vector<CameraEdges> MeasureTripleEdges(const EtalonTripleTable& triples, unsigned jobs,
                                            EdgeMode edgeMode = EdgeMode::WholeRows);

// --- The objective ------------------------------------------------------------------

enum class ObjectiveVariant {
    MeanAbsolute = 1, // sum |R - a_i| + |R - b_i| of the mean ellipse
    MeanSquared = 2,  // sum (R - a_i)^2 + (R - b_i)^2 of the mean ellipse
    EachAbsolute = 3, // the same over the six leave-one-out ellipses
    EachSquared = 4,
};

// The seven search points of one pass: f, then each camera's f -/+ h.
enum SearchPoint { kG0 = 0, kG1Minus, kG1Plus, kG2Minus, kG2Plus, kG3Minus, kG3Plus };
inline constexpr int kSearchPoints = 7;
using SearchSums = std::array<double, kSearchPoints>;
inline constexpr const char* kSearchPointNames[kSearchPoints] = {"g0",  "g1-", "g1+", "g2-",
                                                                 "g2+", "g3-", "g3+"};

using FocalLengths = std::array<double, 3>;
using CameraPoints = std::array<Point2D, 3>;

// Lens centres of the three cameras placed by their reference edges with the
// etalon at the origin. A camera whose inputs are out of range gets NaN, so
// that nothing built on it passes for a result. Throws FloatingPointError
// where the placement divides by zero (equal reference edges).
CameraPoints CameraPositions(double diameter, const FocalLengths& f, const FocalLengths& yc,
                             const CameraEdges& reference);

// What g is computed from; fixed during a run.
struct ObjectiveData {
    double diameter = 1.020;
    FocalLengths yc{245.5, 245.5, 245.5};
    CameraEdges reference{};
    std::vector<CameraEdges> triples;
};

// The seven sums at f with half-width h. Triples are worked on `jobs`
// threads; their contributions are added in list order, so the sums do not
// depend on `jobs`. Throws FloatingPointError where the arithmetic traps.
SearchSums EtalonObjective(const ObjectiveData& data, const FocalLengths& f, double h,
                           ObjectiveVariant variant, unsigned jobs);
// The same on threads kept from pass to pass.
SearchSums EtalonObjective(const ObjectiveData& data, const FocalLengths& f, double h,
                           ObjectiveVariant variant, WorkerPool& workers);

// --- The descent ---------------------------------------------------------------------

// The window's fields a run reads, as texts.
struct DescentTexts {
    std::string diameter;                            // "1,020"
    std::string epsilon, step, kappa;                // "0,000001", "0,1", "10000"
    std::string sufficientGradient, timeLimit;       // "0,000000000001", "15"
    std::array<std::string, 3> f{}, yc{};            // "16", "245,5"
    std::string bestObjective = "10000000000000000"; // the "g optimal" text
};
DescentTexts DefaultDescentTexts(char decimalSeparator);

struct DescentSettings {
    double diameter = 0, epsilon = 0, step = 0, kappa = 0, sufficientGradient = 0, timeLimit = 0;
    FocalLengths f{}, yc{};
};

// Parses in the order a run reads: diameter, epsilon, step, kappa, gradient
// threshold, time limit, then f and yc of each camera. Throws
// ConversionError "'TEXT' is not a valid floating point value" at the first
// text that is not a number.
DescentSettings ReadDescentSettings(const DescentTexts& texts, char decimalSeparator);

// Everything a pass shows, as numbers and as the texts of the fields
// (general form, 15 digits, "NAN").
struct PassReport {
    std::int64_t pass = 0; // from 1
    FocalLengths f{};      // where g0 was taken
    CameraPoints positions{};
    SearchSums sums{};
    std::array<double, 3> gradient{};
    double norm = 0;
    bool improved = false;      // g0 became the best: optimal fields and f edits rewritten
    bool gradientShown = false; // false when g0 was NaN and the pass stopped before it
    double best = 0;            // the best g after this pass, as parsed from its text

    std::array<std::string, 6> positionTexts; // x1, y1, x2, y2, x3, y3
    std::string g0Text;
    std::array<std::string, 3> fTexts;
    std::string bestText;                  // "g optimal" after this pass
    std::array<std::string, 3> bestFTexts; // optimal fields and f edits, when improved
    std::array<std::string, 3> gradientTexts;
    std::string normText;
};

enum class DescentStop { SmallObjective, SmallGradient, TimeLimit, PassLimit, Cancelled, Failed };

struct DescentRun {
    DescentSettings settings;
    std::string bestObjective = "10000000000000000"; // the "g optimal" text at the start
    CameraEdges reference{};
    std::vector<CameraEdges> triples;
    // Asked at every pass, on the thread that runs the passes, so a window
    // may change the choice during a run.
    std::function<ObjectiveVariant()> variant = [] { return ObjectiveVariant::MeanSquared; };
    char decimalSeparator = ',';
    unsigned jobs = 1;
    std::int64_t maxPasses = 0;                // 0: no bound
    const std::atomic<bool>* cancel = nullptr; // tested between passes
    std::function<TDateTime()> clock;          // the system clock when empty
};

struct DescentOutcome {
    std::int64_t passes = 0;
    DescentStop stop = DescentStop::SmallObjective;
    std::string error; // the message of a failed run, empty otherwise
    bool improved = false;
    std::string bestText;                  // "g optimal" at the end
    std::array<std::string, 3> bestFTexts; // the f edits at the end (unchanged unless improved)
    FocalLengths bestF{};                  // the same, parsed
    // The positions at bestF, to be shown in x1Edit..y3Edit after the run so
    // that the camera handed over is consistent.
    CameraPoints bestPositions{};
    std::array<std::string, 6> bestPositionTexts;
};

// Runs passes until a stop rule holds, calling onPass after each pass, in
// order and on the calling thread, with what that pass shows. `startFTexts` are the f edits' texts
// at the start (kept when the run does not improve on the best).
DescentOutcome GradientDescent(const DescentRun& run, const std::array<std::string, 3>& startFTexts,
                               const std::function<void(const PassReport&)>& onPass);

} // namespace merkanix
