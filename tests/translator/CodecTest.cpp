// The codec image the PCX, TIFF and JPEG codecs allocate, and the codecs'
// own routines a client cannot reach alone: 1-bit PCX files, the
// monochrome expansion, the CCITT code tables, the TIFF rows' byte swap.
#include "Pcx.h"
#include "SwapBytes.h"
#include "Tiff.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>
#include <tuple>
#include <vector>

using namespace rastrel;

namespace {

TEST(CodecImage, AllocationLaysOutHeaderPaletteAndRows) {
    // Width, height, bits, the result, row bytes, palette entries, grey flag.
    const std::tuple<LONG, LONG, int, int, LONG, LONG, DWORD> cases[] = {
        {9, 3, 1, kCodecOk, 4, 2, 0},       {5, 2, 8, kCodecOk, 8, 256, kGreyRampFlag},
        {5, 2, 24, kCodecOk, 16, 0, 0},     {5, 2, 4, kCodecBadDepth, 0, 0, 0},
        {0, 2, 8, kCodecBadImage, 0, 0, 0}, {5, -1, 24, kCodecBadImage, 0, 0, 0},
    };
    for (const auto& [width, height, bits, result, rowBytes, entries, flags] : cases) {
        CodecImage image;
        std::memset(&image, 0xAB, sizeof image);
        ASSERT_EQ(AllocateCodecImage(image, width, height, bits), result) << bits;
        EXPECT_EQ(std::tuple(image.rowBytes, image.paletteEntries, image.flags),
                  std::tuple(rowBytes, entries, flags));
        if (result == kCodecOk) {
            const BITMAPINFOHEADER& header = *image.header;
            EXPECT_EQ(std::tuple(header.biWidth, header.biHeight, header.biBitCount,
                                 header.biSizeImage, header.biClrUsed, image.right, image.bottom),
                      std::tuple(width, height, WORD(bits), DWORD(rowBytes * height),
                                 DWORD(entries), width - 1, height - 1));
            // Palette and rows follow the header in the one block; the last
            // row can be written.
            EXPECT_EQ(reinterpret_cast<BYTE*>(image.header) + 40 + 4 * entries, image.pixels);
            image.pixels[rowBytes * height - 1] = 1;
            if (entries > 0) {
                EXPECT_EQ(image.palette[entries - 1].rgbRed, 255);
            }
        }
        FreeCodecImage(image);
        EXPECT_EQ(std::tuple(image.pixels, image.header, image.palette, image.memory),
                  std::tuple(nullptr, nullptr, nullptr, nullptr));
    }
}

TEST(CodecImage, MonochromeExpandsToBlackAndWhite) {
    CodecImage bits{}, grey{};
    ASSERT_EQ(AllocateCodecImage(bits, 10, 2, 1), kCodecOk);
    ASSERT_EQ(AllocateCodecImage(grey, 10, 2, 8), kCodecOk);
    bits.pixels[0] = 0xA5; // bottom row: 1010 0101 11
    bits.pixels[1] = 0xC0;
    grey.flags = 0;
    ASSERT_EQ(ExpandMonochrome(bits, grey), kCodecOk);
    EXPECT_EQ(std::vector<BYTE>(grey.pixels, grey.pixels + 10),
              (std::vector<BYTE>{255, 0, 255, 0, 0, 255, 0, 255, 255, 255}));
    EXPECT_EQ(std::tuple(grey.flags, grey.palette[255].rgbGreen), std::tuple(kGreyRampFlag, 255));
    // Only 1 bit into 8.
    EXPECT_EQ(ExpandMonochrome(grey, bits), kCodecBadDepth);
    FreeCodecImage(bits);
    FreeCodecImage(grey);
}

TEST(CodecImage, MonochromePcxFilesHaveEvenLinesOfBits) {
    merkanix::testing::ScratchFolder scratch;
    CodecImage image{};
    ASSERT_EQ(AllocateCodecImage(image, 9, 1, 1), kCodecOk);
    image.pixels[0] = 0xFF;
    image.pixels[1] = 0x80;
    const std::string path = scratch / "mono.pcx";
    ASSERT_EQ(WritePcx(path.c_str(), image, nullptr, nullptr), kCodecOk);
    const std::string file = merkanix::testing::ReadBytes(path);
    ASSERT_EQ(file.size(), 128u + 3);
    // Nine pixels take two bytes, already even; 0xFF alone needs a count.
    EXPECT_EQ(std::tuple(file[3], file[65],
                         platform::LoadU16Le(reinterpret_cast<const BYTE*>(&file[66]))),
              std::tuple(1, 1, 2));
    EXPECT_EQ(file.substr(128), "\xC1\xFF\x80");
    // The header palette holds the image's two colours.
    EXPECT_EQ(file.substr(16, 6), std::string("\x00\x00\x00\xFF\xFF\xFF", 6));
    FreeCodecImage(image);
}

TEST(CodecImage, CcittCodeTablesArePrefixFree) {
    EXPECT_TRUE(CcittTablesSound());
}

TEST(CodecImage, BothSwapBuildsExchangeRedAndBlueOfEveryPixel) {
    // Lengths around the vector steps (sixteen pixels) and the word steps
    // (four), into another row and in place; the byte after the row stays.
    using Swap = void (*)(const std::uint8_t*, std::uint8_t*, std::size_t);
    for (const Swap swap : {&SwapOuterBytesPortable, &SwapOuterBytesSsse3, &SwapOuterBytes}) {
        for (std::size_t pixels = 0; pixels <= 40; ++pixels) {
            std::vector<std::uint8_t> in(3 * pixels + 1), expected(in.size());
            for (std::size_t i = 0; i < in.size(); ++i)
                in[i] = static_cast<std::uint8_t>(i * 7 + 1);
            expected = in;
            for (std::size_t x = 0; x < pixels; ++x)
                std::swap(expected[3 * x], expected[3 * x + 2]);
            std::vector<std::uint8_t> out(in.size(), in.back());
            swap(in.data(), out.data(), pixels);
            EXPECT_EQ(out, expected) << pixels;
            swap(in.data(), in.data(), pixels);
            EXPECT_EQ(in, expected) << pixels << " in place";
        }
    }
}

} // namespace
