#include "app/FrameFile.h"
#include "app/Errors.h"
#include "support/TestFiles.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>

using namespace merkanix;
using merkanix::testing::ScratchFolder;
using merkanix::testing::WriteFrame;

namespace {
std::vector<std::uint16_t> Filled(std::uint16_t value) {
    return std::vector<std::uint16_t>(kFrameSamples, value);
}
} // namespace

TEST(LoadFrame, ScalesTheBrightestSampleTo255WithTiesToEven) {
    ScratchFolder folder;
    std::vector<std::uint16_t> samples = Filled(0);
    samples[1] = 1;
    samples[2] = 2;
    samples[kFrameSamples - 1] = 1;
    WriteFrame(folder / "f.tif", samples);
    Picture p;
    LoadFrame(folder / "f.tif", p);
    ASSERT_EQ(p.width, 656);
    ASSERT_EQ(p.height, 492);
    EXPECT_EQ(p.Blue(0, 0), 0);
    EXPECT_EQ(p.Blue(1, 0), 128); // 127.5 goes to the even 128
    EXPECT_EQ(p.Blue(2, 0), 255);
    EXPECT_EQ(p.Blue(655, 491), 128);
    EXPECT_EQ(p.Pixel(1, 0)[1], 128);
    EXPECT_EQ(p.Pixel(1, 0)[2], 128);

    WriteFrame(folder / "zero.tif", Filled(0));
    LoadFrame(folder / "zero.tif", p);
    for (std::uint8_t byte : p.bgr)
        ASSERT_EQ(byte, 0);

    samples = Filled(0);
    samples[7] = 1;
    WriteFrame(folder / "one.tif", samples);
    LoadFrame(folder / "one.tif", p);
    EXPECT_EQ(p.Blue(7, 0), 255);
    EXPECT_EQ(p.Blue(8, 0), 0);
}

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
            ASSERT_EQ(px[0], expected) << "max " << max << " sample " << v;
            ASSERT_EQ(px[1], expected);
            ASSERT_EQ(px[2], expected);
        }
    }
    // A box of another size shows the samples in its own rows, black past them.
    std::vector<std::uint16_t> samples(kFrameSamples, 9);
    Picture wide(1000, 400);
    SamplesToPicture(samples, wide);
    EXPECT_EQ(wide.Blue(999, 321), 255);
    EXPECT_EQ(wide.Blue(751, 322), 255); // sample 322751, the last
    EXPECT_EQ(wide.Blue(752, 322), 0);
}

TEST(LoadFrame, ShortFilesReadAsZerosAndDataPastTheFrameIsIgnored) {
    ScratchFolder folder;
    // Ten samples, then an odd dangling byte that is not a whole sample.
    std::vector<std::uint16_t> few(10, 100);
    few[3] = 400;
    WriteFrame(folder / "short.tif", few);
    std::string bytes = merkanix::testing::ReadBytes(folder / "short.tif");
    merkanix::testing::WriteBytes(folder / "short.tif", bytes + '\xFF');
    const std::vector<std::uint16_t> read = ReadFrameSamples(folder / "short.tif");
    ASSERT_EQ(read.size(), static_cast<std::size_t>(kFrameSamples));
    EXPECT_EQ(read[3], 400);
    EXPECT_EQ(read[10], 0);
    EXPECT_EQ(read[kFrameSamples - 1], 0);
    Picture p;
    LoadFrame(folder / "short.tif", p);
    EXPECT_EQ(p.Blue(0, 0), 64); // 100/400*255 = 63.75
    EXPECT_EQ(p.Blue(3, 0), 255);
    EXPECT_EQ(p.Blue(10, 0), 0);

    std::vector<std::uint16_t> longer = Filled(1000);
    longer.resize(kFrameSamples + 5000, 65535);
    WriteFrame(folder / "long.tif", longer);
    LoadFrame(folder / "long.tif", p);
    EXPECT_EQ(p.Blue(655, 491), 255); // the extra bright data took no part

    merkanix::testing::WriteBytes(folder / "header-only.tif", std::string(100, 'x'));
    LoadFrame(folder / "header-only.tif", p);
    EXPECT_EQ(p.Blue(0, 0), 0);
}

TEST(LoadFrame, AnUnreadableFileNamesItselfAndKeepsThePicture) {
    ScratchFolder folder;
    WriteFrame(folder / "ok.tif", Filled(5));
    Picture p;
    LoadFrame(folder / "ok.tif", p);
    const std::vector<std::uint8_t> before = p.bgr;
    const std::string missing = folder / "Camera1_20080415_093012_007.tif";
    try {
        LoadFrame(missing, p);
        FAIL();
    } catch (const InOutError& e) {
        EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
    }
    EXPECT_THROW(LoadFrame(folder.path(), p), InOutError); // a folder is no frame
    EXPECT_EQ(p.bgr, before);
}

TEST(Sorting, InsertionSortsUpToTheLastIndexAndKeepsEqualsInOrder) {
    int32_t values[3] = {3, 1, 2};
    SortIntegers(values, 2);
    EXPECT_EQ((std::vector<int32_t>(values, values + 3)), (std::vector<int32_t>{1, 2, 3}));
    int32_t partial[3] = {3, 1, 2};
    SortIntegers(partial, 1);
    EXPECT_EQ((std::vector<int32_t>(partial, partial + 3)), (std::vector<int32_t>{1, 3, 2}));
    // -0.0 and 0.0 compare equal: a stable sort keeps their order.
    double reals[4] = {0.0, 2.5, -0.0, -1.0};
    SortReals(reals, 3);
    EXPECT_EQ(reals[0], -1.0);
    EXPECT_FALSE(std::signbit(reals[1]));
    EXPECT_TRUE(std::signbit(reals[2]));
    EXPECT_EQ(reals[3], 2.5);
    double one[1] = {4};
    SortReals(one, 0);
    EXPECT_EQ(one[0], 4);
}
