#include "measurement/FrameFile.h"

#include "common/Errors.h"
#include "support/TestFiles.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace merkanix;
using merkanix::testing::ScratchFolder;
using merkanix::testing::WriteBytes;
using merkanix::testing::WriteFrame;

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

TEST(LoadFrame, ShortFilesReadAsZerosAndDataPastTheFrameIsIgnored) {
    ScratchFolder folder;
    // Ten samples, then an odd dangling byte that is not a whole sample.
    std::vector<std::uint16_t> few(10, 100);
    few[3] = 400;
    WriteFrame(folder / "short.tif", few);
    WriteBytes(folder / "short.tif", merkanix::testing::ReadBytes(folder / "short.tif") + '\xFF');
    const std::vector<std::uint16_t> read = ReadFrameSamples(folder / "short.tif");
    ASSERT_EQ(read.size(), static_cast<std::size_t>(kFrameSamples));
    EXPECT_EQ(read[3], 400);
    EXPECT_EQ(read[10], 0);
    Picture p;
    LoadFrame(folder / "short.tif", p);
    EXPECT_EQ(p.Blue(0, 0), 64); // 100/400*255 = 63.75

    std::vector<std::uint16_t> longer(kFrameSamples, 1000);
    longer.resize(kFrameSamples + 5000, 65535);
    WriteFrame(folder / "long.tif", longer);
    LoadFrame(folder / "long.tif", p);
    EXPECT_EQ(p.Blue(655, 491), 255); // the extra bright data took no part
    WriteBytes(folder / "header-only.tif", std::string(100, 'x'));
    LoadFrame(folder / "header-only.tif", p); // no samples at all: black
    EXPECT_EQ(p.bgr, std::vector<std::uint8_t>(656 * 492 * 3, 0));
}

TEST(LoadFrame, AnUnreadableFileNamesItselfAndKeepsThePicture) {
    ScratchFolder folder;
    WriteFrame(folder / "ok.tif", std::vector<std::uint16_t>(kFrameSamples, 5));
    Picture p;
    LoadFrame(folder / "ok.tif", p);
    const std::vector<std::uint8_t> before = p.bgr;
    const std::string missing = folder / "Camera1_20080415_093012_007.tif";
    const std::string message =
        merkanix::testing::MessageOf<InOutError>([&] { LoadFrame(missing, p); });
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
        EXPECT_THROW(FrameTimeStamp(bad), ConversionError) << bad;
}
