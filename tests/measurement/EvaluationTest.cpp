#include "measurement/Evaluation.h"

#include "common/Errors.h"
#include "simulation/FrameSimulator.h"
#include "support/TestFiles.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace merkanix;
using merkanix::testing::BandSamples;
using merkanix::testing::ScratchFolder;
using merkanix::testing::WriteFrame;

namespace {

// The whole rows nearest to where camera k's sight lines touch a circle of
// radius 0.25 mm about (x, -0.03).
std::array<int, 2> TangentRows(int k, double x) {
    static const auto cameras = ParseCameraSetups(DefaultCameraTexts(','), ',');
    const auto band = simulation::TangentRows(cameras[k], {0.25, 0.25, x, -0.03, 0});
    return {static_cast<int>(std::lround(band.top)), static_cast<int>(std::lround(band.bottom))};
}

// Frames of that fibre at x = 0.05 + shift. The edge search reports the last
// row before each change, so the dark band starts one row after the upper
// tangent row.
FrameTriple WriteTriple(const ScratchFolder& folder, int index, double shift = 0) {
    FrameTriple t;
    for (int k = 0; k < 3; ++k) {
        const auto rows = TangentRows(k, 0.05 + shift);
        t.path[k] = folder / ("Camera" + std::to_string(k + 1) + "_" + std::to_string(index));
        WriteFrame(t.path[k], BandSamples(rows[0] + 1, rows[1] + 1));
    }
    return t;
}

bool SameResult(const ReconstructionState& a, const ReconstructionState& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The message of the error an evaluation with these texts raises.
std::string ErrorOf(const FrameTriple& triple, const SystemTexts& texts, TripleEvaluation& out) {
    return merkanix::testing::MessageOf<Error>(
        [&] { EvaluateTriple(triple, texts, ',', true, out); });
}

} // namespace

TEST(EvaluateTriple, MeasuresAndDrawsOneTripleTheSameWayEveryTime) {
    ScratchFolder folder;
    const FrameTriple triple = WriteTriple(folder, 1);
    TripleEvaluation out;
    EvaluateTriple(triple, DefaultCameraTexts(','), ',', true, out);
    EXPECT_EQ(out.viewsLoaded + out.edgesFound + out.camerasDone, 9);
    ASSERT_TRUE(out.reconstructed);
    EXPECT_EQ(out.edges[0].top, TangentRows(0, 0.05)[0]);
    EXPECT_EQ(out.edges[2].bottom, TangentRows(2, 0.05)[1]);
    ASSERT_TRUE(out.state.fibre.Valid());
    EXPECT_NEAR(out.diameter, 0.5, 0.02);
    EXPECT_NEAR(out.state.fibre.centreX, 0.05, 0.02);
    EXPECT_EQ(out.diameter,
              EquivalentDiameter(out.state.fibre.semiMajor, out.state.fibre.semiMinor));
    // Edge rows in red and orange, the optical centre (327.5, 245.5) as a blue plus.
    const Picture& view = out.views[0];
    EXPECT_EQ(view.Pixel(10, static_cast<int>(out.edges[0].top))[2], 255);
    EXPECT_EQ(view.Pixel(10, static_cast<int>(out.edges[0].bottom))[1], 140);
    EXPECT_EQ(view.Pixel(328, 246)[0], 255);
    EXPECT_EQ(view.Pixel(328, 246)[2], 0);

    // The same numbers without drawing and from the batch, on any number of threads.
    TripleEvaluation plain;
    EvaluateTriple(triple, DefaultCameraTexts('.'), '.', false, plain);
    EXPECT_TRUE(SameResult(out.state, plain.state));
    EXPECT_EQ(plain.views[0].Pixel(328, 246)[0], plain.views[0].Pixel(328, 246)[2]);
    for (unsigned jobs : {1u, 2u, 5u}) {
        const auto batch = EvaluateTriples({triple, triple}, DefaultCameraTexts(','), ',', jobs);
        ASSERT_EQ(batch.size(), 2u);
        EXPECT_TRUE(SameResult(batch[1].state, out.state));
        EXPECT_EQ(batch[0].diameter, out.diameter);
    }
}

TEST(EvaluateTriple, FailuresKeepTheStepsAlreadyDone) {
    ScratchFolder folder;
    FrameTriple missing = WriteTriple(folder, 1);
    std::filesystem::remove(missing.path[1]);
    TripleEvaluation out;
    EXPECT_NE(ErrorOf(missing, DefaultCameraTexts(','), out).find(missing.path[1]),
              std::string::npos);
    EXPECT_EQ(out.viewsLoaded, 1);
    EXPECT_EQ(out.camerasDone, 0);

    const FrameTriple triple = WriteTriple(folder, 2);
    SystemTexts texts = DefaultCameraTexts(',');
    texts[1].x = "4x";
    texts[0].y = "oops";
    EXPECT_EQ(ErrorOf(triple, texts, out), "'4x' is not a valid floating point value"); // x first
    EXPECT_EQ(out.camerasDone, 3);
    EXPECT_FALSE(out.reconstructed);

    texts = DefaultCameraTexts(',');
    texts[2].xc = "?";
    EXPECT_EQ(ErrorOf(triple, texts, out), "'?' is not a valid floating point value");
    EXPECT_EQ(out.camerasDone, 2); // camera 3's centre mark could not be placed
    EXPECT_EQ(out.edgesFound, 3);  // but its edges were found first
}

TEST(EvaluateTriple, ACameraOutOfRangeInvalidatesEveryEllipseItTakesPartIn) {
    ScratchFolder folder;
    SystemTexts texts = DefaultCameraTexts(',');
    texts[0].f = "0";
    TripleEvaluation out;
    EvaluateTriple(WriteTriple(folder, 1), texts, ',', false, out);
    ASSERT_TRUE(out.reconstructed);
    EXPECT_TRUE(std::isnan(out.state.lines[0].a) && std::isnan(out.state.lines[1].a));
    EXPECT_FALSE(std::isnan(out.state.lines[2].a));
    // Every ellipse keeps at least one of camera 1's two lines.
    for (const EllipseParams& e : out.state.ellipses)
        EXPECT_FALSE(e.Valid());
    EXPECT_TRUE(std::isnan(out.diameter));
    EXPECT_EQ(FormatDiameter(out.state.fibre, ','), "-");
    const EllipseTexts row = FormatEllipseRow(out.state.fibre, ',');
    EXPECT_EQ(row.centre + row.a + row.b + row.angle, "----");
}

TEST(EvaluateTriples, ReportsTheFirstFailureInTripleOrder) {
    ScratchFolder folder;
    TripleList triples;
    for (int i = 0; i < 6; ++i)
        triples.push_back(WriteTriple(folder, i, 0.01 * i));
    std::filesystem::remove(triples[4].path[0]);
    std::filesystem::remove(triples[2].path[2]);
    for (unsigned jobs : {1u, 2u}) {
        const std::string message = merkanix::testing::MessageOf<InOutError>(
            [&] { EvaluateTriples(triples, DefaultCameraTexts(','), ',', jobs); });
        EXPECT_NE(message.find(triples[2].path[2]), std::string::npos) << message;
    }
    SystemTexts texts = DefaultCameraTexts(',');
    texts[2].yc = "";
    EXPECT_THROW(EvaluateTriples({}, texts, ',', 1), ConversionError);
    EXPECT_TRUE(EvaluateTriples({}, DefaultCameraTexts(','), ',', 2).empty());
}

TEST(ResultTexts, PanelFormats) {
    const EllipseTexts row = FormatEllipseRow({0.5, 0.25, 0.0123, -0.0045, 12.5}, ',');
    EXPECT_EQ(row.centre + " " + row.a + " " + row.b + " " + row.angle,
              "[0,0123 ; -0,0045] 0,5000 0,2500 12,50");
    EXPECT_EQ(FormatDiameter({0.5, 0.5, 0, 0, 0}, '.'), "1.0000");
    EXPECT_EQ(FormatSpan(20), "20 ms");
}
