#include "common/Errors.h"
#include "measurement/Edges.h"
#include "measurement/Evaluation.h"
#include "measurement/FrameFile.h"
#include "measurement/Settings.h"
#include "measurement/Triples.h"
#include "simulation/FrameSimulator.h"
#include "support/TestFiles.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>

using namespace merkanix;
using namespace merkanix::testing;

TEST(SamplesToPicture, EverySampleValueGetsItsOwnRoundedGrey) {
    for (int max : {1, 2, 3, 254, 255, 256, 511, 1000, 4095, 50021, 65534, 65535}) {
        std::vector<std::uint16_t> samples(kFrameSamples, 0);
        for (int v = 0; v <= max; ++v)
            samples[static_cast<std::size_t>(v)] = static_cast<std::uint16_t>(v);
        Picture p;
        SamplesToPicture(samples, p);
        for (int v = 0; v <= max; ++v) {
            const double expected = std::nearbyint(static_cast<double>(v) / max * 255.0);
            const std::uint8_t* px = p.Pixel(v % 656, v / 656);
            ASSERT_TRUE(px[0] == expected && px[1] == expected && px[2] == expected)
                << "max " << max << " sample " << v;
        }
    }
    // A box of another size shows the samples in its own rows, black past them.
    Picture wide(1000, 400);
    SamplesToPicture(std::vector<std::uint16_t>(kFrameSamples, 9), wide);
    EXPECT_EQ(wide.Blue(751, 322), 255); // sample 322751, the last
    EXPECT_EQ(wide.Blue(752, 322), 0);
}

TEST(LoadFrame, ShortFilesReadAsZerosDataPastTheFrameIsIgnoredAndFailuresKeepThePicture) {
    ScratchFolder folder;
    // Ten samples, then an odd dangling byte that is not a whole sample.
    std::vector<std::uint16_t> few(10, 100);
    few[3] = 400;
    WriteFrame(folder / "short.tif", few);
    WriteBytes(folder / "short.tif", ReadBytes(folder / "short.tif") + '\xFF');
    const std::vector<std::uint16_t> read = ReadFrameSamples(folder / "short.tif");
    ASSERT_EQ(read.size(), static_cast<std::size_t>(kFrameSamples));
    EXPECT_EQ(read[3], 400);
    EXPECT_EQ(read[10], 0);
    Picture p;
    EXPECT_EQ(LoadFrame(folder / "short.tif", p), 10u); // the samples the file held
    EXPECT_EQ(p.Blue(0, 0), 64);                        // 100/400*255 = 63.75

    std::vector<std::uint16_t> longer(kFrameSamples, 1000);
    longer.resize(kFrameSamples + 5000, 65535);
    WriteFrame(folder / "long.tif", longer);
    EXPECT_EQ(LoadFrame(folder / "long.tif", p), static_cast<std::size_t>(kFrameSamples));
    EXPECT_EQ(p.Blue(655, 491), 255); // the extra bright data took no part
    WriteBytes(folder / "header-only.tif", std::string(100, 'x'));
    EXPECT_EQ(LoadFrame(folder / "header-only.tif", p), 0u); // no samples at all: black
    EXPECT_EQ(p.bgr, std::vector<std::uint8_t>(656 * 492 * 3, 0));
    // An unreadable file names itself and leaves the picture as it was.
    LoadFrame(folder / "long.tif", p);
    const std::vector<std::uint8_t> before = p.bgr;
    const std::string missing = folder / "Camera1_20080415_093012_007.tif";
    const std::string message = MessageOf<InOutError>([&] { LoadFrame(missing, p); });
    EXPECT_NE(message.find(missing), std::string::npos) << message;
    EXPECT_THROW(LoadFrame(folder.path(), p), InOutError); // a folder is no frame
    EXPECT_EQ(p.bgr, before);
}

TEST(FrameTimeStamp, ReadsTheNameAndShowsMillisecondsWithoutLeadingZeros) {
    SetLongTimeFormat("hh:mm:ss");
    const TDateTime t = FrameTimeStamp("Camera2_20080415_093012_007.tif");
    EXPECT_EQ(t, EncodeDateTime({2008, 4, 15, 9, 30, 12, 7}));
    EXPECT_EQ(TimeText(t), "09:30:12.7");
    EXPECT_EQ(FrameTimeStamp("Camera2x20080415x093012x007.tif"), t); // separators are not read
    for (const char* bad : {"Camera1_20081315_093012_007.tif", "Camera1_20080415_243012_007.tif",
                            "Camera1_2008O415_093012_007.tif", "Camera1_20080415_093012_0x7.tif",
                            "Camera1_2008", "Camera1_20080230_000000_000.tif", ""})
        EXPECT_TRUE(MessageOf<ConversionError>([&] {
                        FrameTimeStamp(bad);
                    }).ends_with(" in the frame name \"" + std::string(bad) + "\""));
    EXPECT_EQ(MessageOf([] { FrameTimeStamp("Camera1_20080230_000000_000.tif"); }),
              "Invalid argument to date encode in the frame name "
              "\"Camera1_20080230_000000_000.tif\"");
}

namespace {
const std::string kDefaultsFile =
    "23\r\n327,5\r\n245,5\r\n-46,0193228167378\r\n26,6757209288414\r\n"
    " \r\n"
    "23\r\n327,5\r\n245,5\r\n43,1025239130338\r\n24,756501341982\r\n"
    " \r\n"
    "23\r\n327,5\r\n245,5\r\n-0,180449213282532\r\n-51,5406248013469\r\n";

std::vector<std::string> Flat(const SystemTexts& texts) {
    std::vector<std::string> all;
    for (const CameraTexts& c : texts)
        all.insert(all.end(), {c.f, c.xc, c.yc, c.x, c.y});
    return all;
}
} // namespace

TEST(SettingsFile, SavesSeventeenLinesAndReadsThemBack) {
    ScratchFolder folder;
    const std::string path = folder / "system"; // no extension is added
    WriteSettingsFile(path, DefaultCameraTexts(','));
    EXPECT_EQ(ReadBytes(path), kDefaultsFile);
    EXPECT_EQ(Flat(ReadSettingsFile(path)), Flat(DefaultCameraTexts(',')));
    EXPECT_EQ(DefaultCameraTexts('.')[2].y, "-51.5406248013469");

    SystemTexts texts = DefaultCameraTexts(',');
    texts[1].x = "not a number"; // the texts are stored unparsed
    texts[2].f = "";
    WriteSettingsFile(path, texts);
    EXPECT_EQ(Flat(ReadSettingsFile(path)), Flat(texts));
    EXPECT_EQ(folder.Entries(), 1u);
    // A failed save says it could not write the file (a folder stands in the way).
    EXPECT_EQ(MessageOf<InOutError>([&] {
                  WriteSettingsFile(folder.path(), texts);
              }).rfind("Cannot write file \"" + folder.path() + "\". ", 0),
              0u);
}

TEST(SettingsFile, ReadsOtherSeparatorsLineEndsAndShortFiles) {
    std::string separator = kDefaultsFile, unix = kDefaultsFile;
    separator.replace(separator.find(" \r\n"), 3, "--- camera 2 ---\r\n");
    for (std::size_t p; (p = unix.find("\r\n")) != std::string::npos;)
        unix.erase(p, 1);
    // File contents, and the text expected as camera (1-based) field (f, xc, yc, x, y).
    const std::tuple<std::string, int, int, std::string> cases[] = {
        {separator, 2, 4, "43,1025239130338"},
        {unix, 3, 5, "-51,5406248013469"},
        // Twelve lines, no final line end: camera 3 empty.
        {kDefaultsFile.substr(0, kDefaultsFile.find("23\r\n327,5\r\n245,5\r\n-0")), 2, 5,
         "24,756501341982"},
        {"", 3, 1, ""},
        {"1\r\n2\r\n3\r\n4\r\n5", 1, 5, "5"},
        {"\r\n\r\n7\r\n", 1, 3, "7"},
        // Taken as they stand, a byte order mark included, so that a load
        // followed by a save changes nothing.
        {"\xEF\xBB\xBF"
         "23\r\n",
         1, 1,
         "\xEF\xBB\xBF"
         "23"}};
    ScratchFolder folder;
    for (const auto& [content, camera, field, text] : cases) {
        WriteBytes(folder / "file", content);
        EXPECT_EQ(Flat(ReadSettingsFile(folder / "file"))[(camera - 1) * 5 + field - 1], text)
            << content;
    }
}

namespace {
// "CameraK_20080415_HHMMSS_mmm.tif" for a time of day in milliseconds.
std::string FrameName(int camera, long ms) {
    char name[64];
    std::snprintf(name, sizeof name, "Camera%d_20080415_%02ld%02ld%02ld_%03ld.tif", camera,
                  ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    return name;
}
constexpr long kTen = 10L * 3600000;
} // namespace

TEST(FindTriples, TheToleranceDecidesInclusivelyAndTheSpanIsTheLargestDifference) {
    const std::vector<std::string> names = {FrameName(1, kTen), FrameName(2, kTen + 37),
                                            FrameName(3, kTen + 100)};
    EXPECT_TRUE(FindTriples("d", names, "40", '.').empty());
    const TripleList found = FindTriples("d", names, "120", '.');
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].path[2], "d/" + names[2]);
    EXPECT_EQ(found[0].span, MillisecondsBetween(found[0].time[0], found[0].time[2]));
    EXPECT_TRUE(found[0].span == 100 || found[0].span == 99); // truncated day-count difference
    // A difference equal to the tolerance is accepted, in either separator.
    const std::int64_t d = found[0].span;
    EXPECT_EQ(FindTriples("d", names, std::to_string(d), '.').size(), 1u);
    EXPECT_EQ(FindTriples("d", names, std::to_string(d) + ",5", ',').size(), 1u);
    EXPECT_TRUE(FindTriples("d", names, std::to_string(d - 1) + ".5", '.').empty());
}

TEST(FindTriples, EveryCombinationCameraOneOutermost) {
    const std::vector<std::string> names = {FrameName(1, kTen), FrameName(1, kTen + 10),
                                            FrameName(2, kTen + 5), FrameName(3, kTen + 7),
                                            FrameName(3, kTen + 9)};
    const TripleList found = FindTriples("d", names, "50", '.');
    ASSERT_EQ(found.size(), 4u);
    const std::array<std::array<int, 3>, 4> order = {{{0, 2, 3}, {0, 2, 4}, {1, 2, 3}, {1, 2, 4}}};
    for (std::size_t t = 0; t < 4; ++t)
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_EQ(found[t].path[k], "d/" + names[order[t][k]]) << t << " " << k;

    // The list grows beyond the number of files: 27,000 triples from 90 names.
    std::vector<std::string> many;
    for (int camera = 1; camera <= 3; ++camera)
        for (int i = 0; i < 30; ++i)
            many.push_back(FrameName(camera, kTen + i));
    const TripleList all = FindTriples("d", many, "100", '.');
    ASSERT_EQ(all.size(), 27000u);
    EXPECT_EQ(all.back().path[0], "d/" + many[29]);
    EXPECT_EQ(all.back().path[2], "d/" + many[89]);
}

TEST(FindTriples, OnlyCameraNamesCountAndBadOnesStopTheRun) {
    std::vector<std::string> names = {FrameName(1, kTen), FrameName(2, kTen)};
    std::string lower = FrameName(3, kTen), upper = FrameName(3, kTen);
    lower[0] = 'c';
    upper.replace(27, 4, ".TIF");
    // A frame name ends at its ".tif": copies beside a frame would give its triples twice.
    const std::string frame = FrameName(3, kTen);
    names.insert(names.end(), {lower, upper, frame.substr(0, 30), FrameName(4, kTen), "notes.txt",
                               "", frame + ".bak", frame + "f", frame + "~"});
    EXPECT_TRUE(FindTriples("d", names, "50", '.').empty());
    names.push_back(frame);
    ASSERT_EQ(FindTriples("d", names, "50", '.').size(), 1u);

    names.push_back("Camera2_20081315_100000_000.tif");
    EXPECT_THROW(FindTriples("d", names, "50", '.'), ConversionError);
    EXPECT_EQ(
        MessageOf<ConversionError>([] { FindTriples("d", {FrameName(1, kTen)}, "fifty", '.'); }),
        "'fifty' is not a valid floating point value");
}

TEST(ListFolderFiles, RegularFilesSortedByName) {
    ScratchFolder folder;
    for (const char* name : {"b.tif", "a.tif", "C.txt"})
        WriteBytes(folder / name, "x");
    std::filesystem::create_directory(folder / "sub");
    EXPECT_EQ(ListFolderFiles(folder.path()),
              (std::vector<std::string>{"C.txt", "a.tif", "b.tif"}));
    EXPECT_THROW(ListFolderFiles(folder / "missing"), InOutError);
}

namespace {
Picture GreyPicture(const std::function<int(int x, int y)>& grey) {
    Picture p(656, 492);
    for (int y = 0; y < 492; ++y)
        for (int x = 0; x < 656; ++x)
            p.SetGrey(x, y, static_cast<std::uint8_t>(grey(x, y)));
    return p;
}

// Rows [top, top + 100) dark on a bright backlight; `top` may depend on the column.
Picture Band(const std::function<int(int x)>& top) {
    return GreyPicture([&](int x, int y) { return y >= top(x) && y < top(x) + 100 ? 25 : 250; });
}
} // namespace

TEST(MeanEdges, TheLastRowBeforeEachChangeTrimmedStripMeansAndNoneWithoutAChange) {
    const std::tuple<Picture, double, double> cases[] = {
        {GreyPicture([](int, int) { return 200; }), 491, 0},
        // The border of the frame must not pass for an edge.
        {Band([](int) { return 200; }), 199, 299},
        {GreyPicture([](int, int y) { return y >= 120 && y < 180 ? 255 : 10; }), 119, 179},
        // Strips 0..9 carry their band 60 rows higher: the ten outliers of
        // each kind are left out of the means.
        {Band([](int x) { return x / 16 < 10 ? 140 : 200; }), 199, 299}};
    for (const auto& [picture, top, bottom] : cases) {
        const EdgePair e = MeanEdges(picture, 10.0);
        EXPECT_EQ((std::array{e.top, e.bottom}), (std::array{top, bottom}));
    }
    // The end rows keep the level: the kept taps are rescaled to sum 1.
    StripArrays profiles;
    ASSERT_TRUE(StripProfiles(std::get<0>(cases[0]), profiles));
    for (int y : {0, 1, 2, 245, 489, 490, 491})
        EXPECT_NEAR(profiles[0][y], 200.0, 1e-12) << y;
    // A tilt spreads the strip edges; the mean lies between them.
    const double top = MeanEdges(Band([](int x) { return 200 + x / 64; }), 10.0).top;
    EXPECT_TRUE(top > 199.0 && top < 209.0 && top != std::floor(top)) << top;
    // Other picture sizes have no edges.
    EXPECT_TRUE(std::isnan(MeanEdges(Picture(100, 100), 10.0).top));
    EXPECT_TRUE(std::isnan(MeanEdges(Picture(), 10.0).bottom));
}

TEST(MeanEdges, SubPixelEdgesLieOnTheBoundaryBetweenRows) {
    // Rows 200..299 dark; row 199 dark over its lower `cover`, row 300 over
    // its upper `cover`: the boundaries are at 199.5 - cover and 299.5 + cover.
    for (double cover : {0.0, 0.25, 0.5, 0.75}) {
        const int partial = static_cast<int>(std::lround(250 - cover * 225));
        const Picture p = GreyPicture([&](int, int y) {
            return y >= 200 && y < 300 ? 25 : y == 199 || y == 300 ? partial : 250;
        });
        const EdgePair e = MeanEdges(p, 10.0, EdgeMode::SubPixel);
        const double tolerance = cover == 0.0 ? 0.01 : 0.05;
        EXPECT_NEAR(e.top, 199.5 - cover, tolerance) << cover;
        EXPECT_NEAR(e.bottom, 299.5 + cover, tolerance) << cover;
        // The whole-row edges stay where they were.
        if (cover == 0.0) {
            EXPECT_EQ(MeanEdges(p, 10.0).top, 199.0);
        }
    }
    const EdgePair none =
        MeanEdges(GreyPicture([](int, int) { return 200; }), 10.0, EdgeMode::SubPixel);
    EXPECT_EQ((std::array{none.top, none.bottom}), (std::array{491.0, 0.0}));
}

TEST(StripEdges, ThresholdClimbAndTheRowsNeverExamined) {
    // One derivative profile in every strip; its top and bottom edge.
    const auto edges = [](std::vector<std::pair<int, double>> values) {
        StripArrays d{};
        for (auto& strip : d)
            for (const auto& [row, value] : values)
                strip[row] = value;
        StripEdgeRows rows;
        StripEdges(d, 10.0, rows);
        return std::pair{rows[0], rows[kStripCount]};
    };
    // Exactly at the threshold: no edge.
    EXPECT_EQ(edges({{100, 10.0}, {300, 10.0}}), std::pair(491, 0));
    // The climb starts after the first row above: the peak there gives i + 1.
    EXPECT_EQ(edges({{100, 100.0}, {101, 50.0}}).first, 101);
    EXPECT_EQ(edges({{100, 20.0}, {101, 40.0}, {102, 60.0}, {103, 100.0}, {104, 5.0}}).first, 103);
    // A plateau: the top climb runs to its last row, the bottom climb to its first.
    EXPECT_EQ(edges({{300, 50.0}, {301, 80.0}, {302, 80.0}, {303, 80.0}, {304, 20.0}}),
              std::pair(303, 301));
    // Row 0 is never examined from the top, row 491 never from the bottom.
    EXPECT_EQ(edges({{0, 90.0}, {491, 90.0}}), std::pair(491, 0));
    EXPECT_EQ(edges({{491, 90.0}}).first, 491);
    EXPECT_EQ(edges({{0, 90.0}}).second, 0);
}

TEST(ShowMeanEdges41, DrawsTheRoundedRowsInRedAndOrangeAcrossThePicture) {
    Picture p = Band([](int) { return 200; });
    const auto bgr = [&](int x, int y) {
        return std::array<int, 3>{p.Pixel(x, y)[0], p.Pixel(x, y)[1], p.Pixel(x, y)[2]};
    };
    ASSERT_EQ(ShowMeanEdges41(p).top, 199.0);
    for (int x : {0, 655})
        EXPECT_EQ((std::array{bgr(x, 199), bgr(x, 299), bgr(x, 200)}),
                  (std::array<std::array<int, 3>, 3>{{{0, 0, 255}, {0, 140, 255}, {25, 25, 25}}}));
    DrawEdgeRows(p, {10.5, 11.5}); // ties to even: rows 10 and 12
    EXPECT_EQ((std::array{bgr(0, 10)[2], bgr(0, 12)[1], bgr(0, 11)[2]}),
              (std::array{255, 140, 250}));
    Picture small(100, 100);
    EXPECT_TRUE(std::isnan(ShowMeanEdges41(small).bottom));
}

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
    return MessageOf<Error>([&] { EvaluateTriple(triple, texts, ',', true, out); });
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
        const std::string message = MessageOf<InOutError>(
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
