// The Windows Bitmap translator: file sizes and headers, run-length data
// with every escape, short palettes, the headers it refuses, grey levels.
#include "platform/ByteSource.h"
#include "support/RastrelFormats.h"

#include <tuple>

using namespace rastrel::testing;

namespace {

// File and information header, a palette whose entry i is grey level 10 i,
// and the pixel data.
std::vector<BYTE> BmpFile(LONG width, LONG height, WORD bits, DWORD compression,
                          DWORD paletteEntries, const std::vector<BYTE>& data,
                          DWORD infoSize = 40) {
    std::vector<BYTE> bytes(14 + 40 + 4 * paletteEntries, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    platform::StoreU32Le(&bytes[10], static_cast<DWORD>(bytes.size()));
    platform::StoreU32Le(&bytes[14], infoSize);
    platform::StoreU32Le(&bytes[18], static_cast<DWORD>(width));
    platform::StoreU32Le(&bytes[22], static_cast<DWORD>(height));
    bytes[26] = 1;
    bytes[28] = static_cast<BYTE>(bits);
    platform::StoreU32Le(&bytes[30], compression);
    for (DWORD i = 0; i < paletteEntries; ++i)
        std::fill_n(&bytes[54 + 4 * i], 3, static_cast<BYTE>(10 * i));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

class Bmp : public ScratchTest {
protected:
    // The grey levels a file loads to, rows top first.
    std::vector<BYTE> Greys(const std::vector<BYTE>& file) {
        WriteFile(scratch / "in.bmp", file);
        auto bitmap = Load(scratch / "in.bmp");
        std::vector<BYTE> levels;
        const RgbPicture picture = bitmap ? PictureOf(bitmap.get()) : RgbPicture{};
        for (std::size_t i = 0; i < picture.rgb.size(); i += 3)
            levels.push_back(picture.rgb[i]);
        return levels;
    }
    std::string Save(IBitmapImage* bitmap, LONG depth) {
        auto translator = TranslatorFor("BMP");
        if (depth != 0) {
            auto options = As<ITranslatorOptions>(translator.get(), IID_ITranslatorOptions);
            EXPECT_EQ(options->SetSaveDepth(depth), S_OK);
        }
        const std::string path = scratch / "out.bmp";
        EXPECT_EQ(translator->Save(path.c_str(), bitmap, nullptr), S_OK);
        return path;
    }
};

TEST_F(Bmp, OneBitFileOf33By2Has78Bytes) {
    RgbPicture picture{33, 2, {}};
    for (int i = 0; i < 66; ++i)
        picture.rgb.insert(picture.rgb.end(), 3, i % 3 == 0 ? 255 : 0);
    const std::vector<BYTE> file = ReadFile(Save(BitmapOf(picture).get(), 1));
    ASSERT_EQ(file.size(), 78u);
    EXPECT_EQ(std::tuple(file[2], file[10], file[28]), std::tuple(78, 62, 1));
    auto again = Load(scratch / "out.bmp");
    ASSERT_TRUE(again);
    EXPECT_EQ(PictureOf(again.get()), picture);
}

// Levels are 10 x index, rows top first. Run-length data, 6 x 3: a run, an
// absolute run with its pad byte, end of line, a delta, end of bitmap; what
// is skipped stays index 0. The same in 4 bits: nibbles, high first. Then a
// 2-colour palette announced by biClrUsed, rows stored top first.
TEST_F(Bmp, HandMadeFilesLoadToTheirGreyLevels) {
    const std::vector<BYTE> runs = {0, 70, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 10, 10, 40, 50, 60, 0};
    std::vector<BYTE> twoColours = BmpFile(2, -2, 8, 0, 2, {1, 0, 0, 0, 0, 1, 0, 0});
    platform::StoreU32Le(&twoColours[46], 2);
    for (const auto& [file, levels] :
         {std::pair{BmpFile(6, 3, 8, 1, 16, {2, 1, 0, 3, 4, 5, 6, 0, 0, 0, 0, 2, 1, 1, 1, 7, 0, 1}),
                    runs},
          std::pair{
              BmpFile(6, 3, 4, 2, 16, {2, 0x11, 0, 3, 0x45, 0x60, 0, 0, 0, 2, 1, 1, 1, 0x77, 0, 1}),
              runs},
          std::pair{twoColours, std::vector<BYTE>{10, 0, 0, 10}}})
        EXPECT_EQ(Greys(file), levels);
}

TEST_F(Bmp, HeadersItDoesNotRead) {
    auto translator = TranslatorFor("BMP");
    const std::string path = scratch / "odd.bmp";
    auto load = [&](const std::vector<BYTE>& file) {
        WriteFile(path, file);
        ComPtr<IBitmapImage> bitmap;
        const HRESULT hr = translator->Load(path.c_str(), 0x400, &bitmap, nullptr);
        EXPECT_FALSE(bitmap);
        return hr;
    };
    // The 12-byte core header is a bitmap file, but not one this reads.
    EXPECT_TRUE(FAILED(load(BmpFile(1, 1, 24, 0, 0, {0, 0, 0, 0}, 12))));
    EXPECT_EQ(translator->Probe(path.c_str()), S_OK);
    // Rows the file does not hold: refused, not invented.
    EXPECT_EQ(load(BmpFile(4, 4, 24, 0, 0, std::vector<BYTE>(4 * 12 - 1))), E_FAIL);
    // Depths, and compressions of other depths.
    for (auto [bits, compression] : {std::pair<WORD, DWORD>{2, 0}, {24, 3}, {8, 2}, {4, 1}})
        EXPECT_EQ(load(BmpFile(1, 1, bits, compression, 0, {0, 0, 0, 0})), E_FAIL)
            << bits << " " << compression;
    // Four bytes of run-length data reach row 257 at most: a taller picture
    // is memory no such file fills (46340 x 46340 took 2 GB), refused at once.
    for (const LONG side : {46340, 258})
        EXPECT_EQ(load(BmpFile(side == 258 ? 1 : side, side, 8, 1, 0, {0, 0, 0, 1})), E_FAIL);
    EXPECT_EQ(Greys(BmpFile(3, 257, 8, 1, 0, {0, 0, 0, 1})), std::vector<BYTE>(3 * 257, 0));
    WriteFile(path, {'B', 'M', 'x'});
    EXPECT_EQ(translator->Probe(path.c_str()), S_FALSE);
}

// BI_BITFIELDS: the masks after a 40-byte header (those of a longer header
// the ImageMagick fixtures cover); channels scale to 0 ... 255 as Pillow
// scales them; masks of no common layout are refused.
TEST_F(Bmp, ChannelMasks) {
    auto withMasks = [](WORD bits, DWORD red, DWORD green, DWORD blue, std::vector<BYTE> data) {
        std::vector<BYTE> file = BmpFile(2, 1, bits, 3, 3, data);
        platform::StoreU32Le(&file[54], red);
        platform::StoreU32Le(&file[58], green);
        platform::StoreU32Le(&file[62], blue);
        return file;
    };
    // White, then red 0b10000 green 0b100000 blue 0b00001 (5-6-5).
    const std::vector<BYTE> pixels565 = {0xFF, 0xFF, 0x01, 0x84};
    WriteFile(scratch / "565.bmp", withMasks(16, 0xF800, 0x7E0, 0x1F, pixels565));
    auto loaded = Load(scratch / "565.bmp");
    ASSERT_TRUE(loaded);
    EXPECT_EQ(PictureOf(loaded.get()).rgb, (std::vector<BYTE>{255, 255, 255, 131, 129, 8}));
    auto translator = TranslatorFor("BMP");
    for (const auto& file : {withMasks(16, 0x1F, 0x7E0, 0xF800, pixels565),
                             withMasks(32, 0xFF, 0xFF00, 0xFF0000, std::vector<BYTE>(8, 1))}) {
        WriteFile(scratch / "odd.bmp", file);
        ComPtr<IBitmapImage> bitmap;
        EXPECT_EQ(translator->Load((scratch / "odd.bmp").c_str(), 0x400, &bitmap, nullptr), E_FAIL);
    }
    // The alpha of ImageMagick's 32-bit file, a ramp across each row, stays.
    auto rgba = Load(kFixtures + "/im-rgba32-v5.bmp", PF_RGB32A);
    ASSERT_TRUE(rgba);
    const BitmapImage image = ImageOf(rgba.get());
    EXPECT_EQ(std::tuple(image.pixels[3], image.pixels[4 * 37 + 3], image.pixels[4 * 36 + 3] > 200),
              std::tuple(0, 0, true));
}

TEST_F(Bmp, GreyBitmapsKeepTheirLevels) {
    auto grey = NewBitmap(5, 3, 0x1);
    for (int i = 0; i < 3 * 8; ++i)
        ImageOf(grey.get()).pixels[i] = static_cast<BYTE>(i * 10);
    const std::vector<BYTE> levels = Greys(ReadFile(Save(grey.get(), 0)));
    ASSERT_EQ(levels.size(), 15u);
    EXPECT_EQ(std::pair(levels[0], levels[14]), std::pair(BYTE{160}, BYTE{40})); // top row first
}

} // namespace
