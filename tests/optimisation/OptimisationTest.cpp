// The etalon objective and the descent over it, on etalon views whose edge
// rows come straight from the camera model, and the command-line tool.
#include "common/Errors.h"
#include "common/NumberText.h"
#include "measurement/Evaluation.h"
#include "measurement/Settings.h"
#include "optimisation/EtalonOptimisation.h"
#include "simulation/FrameSimulator.h"
#include "support/RunCommand.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

using namespace merkanix;
using namespace merkanix::testing;

namespace {

constexpr double kDiameter = 1.020;

// The true cameras of the program's start values (f = 23 mm).
std::array<CameraSetup, 3> TrueCameras() {
    return ParseCameraSetups(DefaultCameraTexts('.'), '.');
}

// Exact tangent rows of the etalon centred at (x, y) for the true cameras.
CameraEdges EtalonEdges(double x, double y) {
    const EllipseParams etalon{kDiameter / 2, kDiameter / 2, x, y, 0};
    CameraEdges edges;
    const auto cameras = TrueCameras();
    for (int k = 0; k < 3; ++k) {
        const simulation::BandRows rows = simulation::TangentRows(cameras[k], etalon);
        edges[k] = {rows.top, rows.bottom};
    }
    return edges;
}

ObjectiveData PerfectData(int triples) {
    ObjectiveData data;
    data.diameter = kDiameter;
    data.reference = EtalonEdges(0, 0);
    for (int i = 0; i < triples; ++i)
        data.triples.push_back(EtalonEdges(0.25 * std::cos(i), 0.2 * std::sin(1.7 * i)));
    return data;
}

constexpr FocalLengths kTrueF{23, 23, 23};
constexpr ObjectiveVariant kVariants[] = {
    ObjectiveVariant::MeanAbsolute, ObjectiveVariant::MeanSquared, ObjectiveVariant::EachAbsolute,
    ObjectiveVariant::EachSquared};

bool SameBits(const SearchSums& a, const SearchSums& b) {
    return std::memcmp(a.data(), b.data(), sizeof(a)) == 0;
}

TEST(EtalonObjective, PerfectSystemIsACircleUnderEveryVariantAndWrongFocalLengthsAreNot) {
    const ObjectiveData data = PerfectData(4);
    for (const ObjectiveVariant variant : kVariants) {
        SCOPED_TRACE(static_cast<int>(variant));
        const SearchSums at = EtalonObjective(data, kTrueF, 0.1, variant, 1);
        EXPECT_NEAR(at[kG0], 0.0, 1e-9);
        for (const double g : at)
            EXPECT_TRUE(std::isfinite(g));
        const SearchSums off = EtalonObjective(data, {20, 23, 26}, 0.1, variant, 1);
        EXPECT_GT(off[kG0], 1e3 * at[kG0] + 1e-12);
    }
    // No triples: every sum is 0.
    const SearchSums none =
        EtalonObjective(PerfectData(0), {16, 16, 16}, 0.1, ObjectiveVariant::MeanSquared, 2);
    EXPECT_TRUE(SameBits(none, SearchSums{}));
}

TEST(EtalonObjective, EachShiftedPointMovesOnlyItsOwnCamera) {
    // g_k-/+ takes camera k at f_k -/+ h and the other cameras' nominal lines,
    // so it must equal g0 at that setting to the bit.
    const ObjectiveData data = PerfectData(3);
    const FocalLengths f{17.5, 21.25, 24.0};
    const double h = 0.1;
    for (const ObjectiveVariant variant : kVariants) {
        const SearchSums sums = EtalonObjective(data, f, h, variant, 1);
        for (int point = kG1Minus; point <= kG3Plus; ++point) {
            const int k = (point - 1) / 2;
            FocalLengths shifted = f;
            shifted[k] = point % 2 == 1 ? f[k] - h : f[k] + h;
            const double g0 = EtalonObjective(data, shifted, h, variant, 1)[kG0];
            EXPECT_EQ(std::memcmp(&g0, &sums[point], sizeof g0), 0)
                << "variant " << static_cast<int>(variant) << ", point " << point;
        }
    }
}

TEST(EtalonObjective, ThreadsGiveTheSameBitsAsOne) {
    ObjectiveData data = PerfectData(10);
    for (CameraEdges& e : data.triples)
        e[1].top += 0.37; // a less regular sum
    for (const ObjectiveVariant variant : kVariants) {
        const SearchSums one = EtalonObjective(data, {19, 22, 25}, 0.1, variant, 1);
        for (const unsigned jobs : {2u, 3u, 8u})
            EXPECT_TRUE(SameBits(one, EtalonObjective(data, {19, 22, 25}, 0.1, variant, jobs)));
    }
}

TEST(EtalonObjective, CameraOutOfRangeGivesNaNNotStaleLines) {
    const ObjectiveData data = PerfectData(2);
    // Camera 2 at f = -10: only its f + h = 20 is in range.
    const SearchSums s = EtalonObjective(data, {23, -10, 23}, 30, ObjectiveVariant::EachSquared, 2);
    for (const int point : {kG0, kG1Minus, kG1Plus, kG2Minus, kG3Minus, kG3Plus})
        EXPECT_TRUE(std::isnan(s[point])) << point;
    EXPECT_FALSE(std::isnan(s[kG2Plus]));

    const CameraPoints p =
        CameraPositions(kDiameter, {23, 23, 23}, {245.5, 500, 245.5}, EtalonEdges(0, 0));
    EXPECT_TRUE(std::isfinite(p[0].x) && std::isfinite(p[2].y));
    EXPECT_TRUE(std::isnan(p[1].x) && std::isnan(p[1].y));
}

TEST(EtalonObjective, ReferenceFramesMustAllBeLoaded) {
    const Picture frame(656, 492);
    const Picture empty;
    for (const auto& [loaded, pictures, missing] :
         std::vector<std::tuple<std::array<bool, 3>, std::array<const Picture*, 3>, std::string>>{
             {{true, false, true}, {&frame, &frame, &frame}, "CAM2"},
             {{false, true, false}, {&frame, &frame, &frame}, "CAM1, CAM3"},
             {{true, true, true}, {&frame, &empty, &frame}, "CAM2"}}) {
        try {
            MeasureReferenceEdges(pictures, loaded);
            ADD_FAILURE() << missing;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(missing + "."), std::string::npos) << e.what();
        }
    }
}

TEST(EtalonTriples, TableKeepsEachFramesPlaceInTheFileList) {
    const std::vector<std::string> names = {
        "Camera1_20080415_093012_000.tif", "notes.txt", "Camera2_20080415_093012_010.tif",
        "Camera3_20080415_093012_020.tif", "Camera3_20080415_093012_030.tif"};
    const EtalonTripleTable table = FindEtalonTriples("/f", names, "50", ',');
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1].listIndex, (std::array<std::int32_t, 3>{0, 2, 4}));
    EXPECT_EQ(table[1].frames.path[2], "/f/Camera3_20080415_093012_030.tif");
}

// --- The descent ---------------------------------------------------------------------

DescentRun PerfectRun(int triples, FocalLengths f = {16, 16, 16}) {
    const ObjectiveData data = PerfectData(triples);
    DescentRun run;
    run.settings = ReadDescentSettings(DefaultDescentTexts(','), ',');
    run.settings.f = f;
    run.reference = data.reference;
    run.triples = data.triples;
    run.jobs = 2;
    return run;
}

std::array<std::string, 3> Texts(const FocalLengths& f) {
    return {FormatGeneral(f[0], ','), FormatGeneral(f[1], ','), FormatGeneral(f[2], ',')};
}

struct Recorded {
    DescentOutcome outcome;
    std::vector<PassReport> passes;
};

Recorded RunDescent(const DescentRun& run) {
    Recorded r;
    r.outcome = GradientDescent(run, Texts(run.settings.f),
                                [&](const PassReport& p) { r.passes.push_back(p); });
    return r;
}

TEST(GradientDescent, StopRulesOfTheFirstPass) {
    struct Case {
        const char* name;
        int triples;
        double epsilon, timeLimit;
        FocalLengths f;
        DescentStop stop;
    };
    for (const Case& c : {
             Case{"no triples", 0, 1e-6, 15, {16, 16, 16}, DescentStop::SmallObjective},
             Case{"g0 <= epsilon", 3, 1.0, 15, {16, 16, 16}, DescentStop::SmallObjective},
             Case{"time limit 0", 3, 1e-12, 0, {16, 16, 16}, DescentStop::TimeLimit},
             Case{"first pass NaN", 3, 1e-12, 15, {-1, 16, 16}, DescentStop::Failed},
         }) {
        SCOPED_TRACE(c.name);
        DescentRun run = PerfectRun(c.triples, c.f);
        run.settings.epsilon = c.epsilon;
        run.settings.timeLimit = c.timeLimit;
        const Recorded r = RunDescent(run);
        ASSERT_EQ(r.passes.size(), 1u);
        EXPECT_EQ(r.outcome.passes, 1);
        EXPECT_EQ(r.outcome.stop, c.stop);
        const PassReport& p = r.passes[0];
        if (c.stop == DescentStop::Failed) {
            EXPECT_EQ(p.g0Text, "NAN");
            EXPECT_FALSE(p.gradientShown);
            EXPECT_EQ(r.outcome.error, "Invalid floating point operation");
            EXPECT_FALSE(r.outcome.improved);
            EXPECT_EQ(r.outcome.bestText, "10000000000000000");
            EXPECT_EQ(r.outcome.bestFTexts, Texts(c.f));
        } else {
            EXPECT_TRUE(p.improved); // anything below 1E16 is
            EXPECT_EQ(r.outcome.bestText, p.g0Text);
            EXPECT_TRUE(r.outcome.error.empty());
        }
        if (c.triples == 0) {
            EXPECT_EQ(p.g0Text, "0");
            EXPECT_EQ(p.normText, "0");
            EXPECT_EQ(r.outcome.bestFTexts, Texts(c.f));
        }
    }
}

TEST(GradientDescent, PassesFollowTheStepAndTheClockBetweenPasses) {
    DescentRun run = PerfectRun(3);
    run.settings.epsilon = 1e-12;
    run.settings.timeLimit = 3;
    double now = 40000.0;
    run.clock = [&] { return now += 1.0 / 86400; }; // one second per reading
    const Recorded r = RunDescent(run);
    ASSERT_EQ(r.passes.size(), 3u); // elapsed 1, 2, then 3 is not below 3
    EXPECT_EQ(r.outcome.stop, DescentStop::TimeLimit);
    for (std::size_t i = 0; i + 1 < r.passes.size(); ++i) {
        const PassReport& p = r.passes[i];
        EXPECT_EQ(p.pass, static_cast<std::int64_t>(i + 1));
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(r.passes[i + 1].f[k], p.f[k] - run.settings.kappa * p.gradient[k]);
        EXPECT_EQ(p.gradientTexts[0], FormatGeneral(p.gradient[0], ','));
    }
    // From 16 the etalon looks too small: the descent lengthens every f and improves.
    EXPECT_TRUE(r.passes[2].improved);
    EXPECT_GT(r.passes[2].f[0], 16.0);
}

TEST(GradientDescent, BestIsComparedAsItsTextAndHandedOverWithItsOwnPositions) {
    DescentRun run = PerfectRun(3);
    run.settings.epsilon = 1e-12;
    run.maxPasses = 4;
    const Recorded first = RunDescent(run);
    ASSERT_EQ(first.passes.size(), 4u);
    EXPECT_EQ(first.outcome.stop, DescentStop::PassLimit);
    const auto& best = first.outcome;
    // The positions handed over belong to the best f as the f edits hold it,
    // not to the last pass.
    FocalLengths bestF;
    for (int k = 0; k < 3; ++k)
        bestF[k] = ParseReal(best.bestFTexts[k], ',');
    const CameraPoints at = CameraPositions(kDiameter, bestF, run.settings.yc, run.reference);
    EXPECT_EQ(best.bestPositionTexts[0], FormatGeneral(at[0].x, ','));
    EXPECT_EQ(best.bestPositionTexts[5], FormatGeneral(at[2].y, ','));

    // A second run starts from the best f; a stale best of 0 is never beaten.
    DescentRun again = run;
    again.settings.f = bestF;
    again.bestObjective = "0";
    std::vector<PassReport> stalePasses;
    const DescentOutcome stale = GradientDescent(
        again, best.bestFTexts, [&](const PassReport& p) { stalePasses.push_back(p); });
    EXPECT_FALSE(stale.improved);
    EXPECT_EQ(stale.bestText, "0");
    EXPECT_EQ(stale.bestFTexts, best.bestFTexts);
    // The last pass showed other positions; those of the f handed over win.
    EXPECT_EQ(stale.bestPositionTexts, first.outcome.bestPositionTexts);
    EXPECT_NE(stalePasses.back().positionTexts, stale.bestPositionTexts);

    again.bestObjective = best.bestText;
    std::vector<PassReport> passes;
    GradientDescent(again, best.bestFTexts, [&](const PassReport& p) { passes.push_back(p); });
    EXPECT_EQ(passes[0].fTexts, best.bestFTexts);
    double stored = ParseReal(best.bestText, ',');
    for (const PassReport& p : passes) {
        EXPECT_EQ(p.improved, stored > p.sums[kG0]) << p.pass;
        stored = ParseReal(p.bestText, ',');
    }
}

TEST(GradientDescent, NaNGradientEndsTheRunAfterShowingIt) {
    // g_k- is NaN while g0 is a number.
    DescentRun run = PerfectRun(3, {22, 23, 23}); // g0 above epsilon
    run.settings.step = 30;                       // every f - h is out of range
    run.settings.epsilon = 1e-12;
    const Recorded r = RunDescent(run);
    ASSERT_EQ(r.passes.size(), 1u);
    EXPECT_TRUE(r.passes[0].gradientShown);
    EXPECT_EQ(r.passes[0].normText, "NAN");
    EXPECT_EQ(r.outcome.error, "Invalid floating point operation");
}

TEST(DescentSettings, TextsAreReadInOrderAndTheFirstBadOneIsNamed) {
    DescentTexts t = DefaultDescentTexts(',');
    const DescentSettings s = ReadDescentSettings(t, ',');
    EXPECT_EQ(s.diameter, 1.02);
    EXPECT_EQ(s.sufficientGradient, 1e-12);
    EXPECT_EQ(s.yc[2], 245.5);
    t.kappa = "x";
    t.f[0] = "y";
    try {
        ReadDescentSettings(t, ',');
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'x' is not a valid floating point value");
    }
}

// --- merkanix-optimise ------------------------------------------------------------------

TEST(OptimiseTool, EvaluatesRunsAndWritesTheSettingsOnASimulatedFolder) {
    ScratchFolder folder;
    const CommandResult sim =
        RunTool("merkanix-simulate", Quote(folder.path()) + " --optimisation --triples 3 --seed 5");
    ASSERT_EQ(sim.status, 0) << sim.err;
    std::string etalon = " --etalon";
    for (int k = 1; k <= 3; ++k)
        etalon +=
            " " + Quote(folder / ("basic/Camera" + std::to_string(k) + "_20080415_093012_000.tif"));
    const std::string triples = Quote(folder / "triples");

    const CommandResult eval =
        RunTool("merkanix-optimise", triples + etalon + " --evaluate --f 23");
    ASSERT_EQ(eval.status, 0) << eval.err;
    const auto lines = Lines(eval.out);
    ASSERT_EQ(lines.size(), 7u);
    for (int p = 0; p < kSearchPoints; ++p)
        EXPECT_EQ(lines[p].rfind(std::string(kSearchPointNames[p]) + " ", 0), 0u);
    EXPECT_LT(std::stod(lines[0].substr(3)), 1e-3); // the true cameras fit
    // Edges between rows reach the reference and the triples: the true
    // cameras fit far better than with whole rows.
    const CommandResult between =
        RunTool("merkanix-optimise", triples + etalon + " --evaluate --f 23 --subpixel-edges");
    ASSERT_EQ(between.status, 0) << between.err;
    EXPECT_LT(std::stod(Lines(between.out)[0].substr(3)) * 3, std::stod(lines[0].substr(3)));

    const std::string settings = folder / "cameras.txt";
    const CommandResult csv =
        RunTool("merkanix-optimise",
                triples + etalon + " --csv --max-passes 3 --jobs 2 --settings " + Quote(settings));
    ASSERT_EQ(csv.status, 0) << csv.err;
    const auto rows = Lines(csv.out);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], "pass,f1,f2,f3,g0,grad1,grad2,grad3,norm,best");
    EXPECT_EQ(rows[1].rfind("1,16,16,16,", 0), 0u);
    const SystemTexts written = ReadSettingsFile(settings);
    EXPECT_GT(std::stod(written[0].f), 16.0);
    EXPECT_EQ(written[2].xc, "327.5");
    EXPECT_FALSE(written[1].x.empty());

    const CommandResult one =
        RunTool("merkanix-optimise", triples + etalon + " --csv --jobs 1 --max-passes 3");
    EXPECT_EQ(one.out, csv.out);

    const CommandResult bad = RunTool("merkanix-optimise", triples + " --etalon a b");
    EXPECT_EQ(bad.status, 2);
}

} // namespace
