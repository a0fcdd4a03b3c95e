// The Windows Bitmap translator: file sizes and headers, run-length data
// with every escape, the headers it refuses, palettes and grey levels.
#include "platform/ByteSource.h"
#include "support/RastrelFormats.h"

using namespace rastrel::testing;

namespace {

void PutDword(std::vector<BYTE>& bytes, std::size_t at, DWORD value) {
    platform::StoreU32Le(bytes.data() + at, value);
}

// File and information header; the palette and pixel data follow.
std::vector<BYTE> BmpHeaders(LONG width, LONG height, WORD bits, DWORD compression,
                             DWORD paletteEntries, DWORD infoSize = 40) {
    std::vector<BYTE> bytes(14 + 40 + 4 * paletteEntries, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutDword(bytes, 10, static_cast<DWORD>(bytes.size()));
    PutDword(bytes, 14, infoSize);
    PutDword(bytes, 18, static_cast<DWORD>(width));
    PutDword(bytes, 22, static_cast<DWORD>(height));
    bytes[26] = 1;
    bytes[28] = static_cast<BYTE>(bits);
    PutDword(bytes, 30, compression);
    for (DWORD i = 0; i < paletteEntries; ++i) { // entry i: grey level 10 i
        bytes[54 + 4 * i] = bytes[55 + 4 * i] = bytes[56 + 4 * i] = static_cast<BYTE>(10 * i);
    }
    return bytes;
}

std::vector<BYTE> Greys(const RgbPicture& picture) {
    std::vector<BYTE> levels;
    for (std::size_t i = 0; i < picture.rgb.size(); i += 3)
        levels.push_back(picture.rgb[i]);
    return levels;
}

std::string SaveBmp(IBitmapImage* bitmap, LONG depth, const ScratchFolder& scratch,
                    const std::string& name = "out.bmp") {
    auto translator = TranslatorFor("BMP");
    if (depth != 0) {
        auto options = As<ITranslatorOptions>(translator.get(), IID_ITranslatorOptions);
        EXPECT_EQ(options->SetSaveDepth(depth), S_OK);
    }
    const std::string path = scratch / name;
    EXPECT_EQ(translator->Save(path.c_str(), bitmap, nullptr), S_OK);
    return path;
}

TEST(Bmp, OneBitFileOf33By2Has78Bytes) {
    ScratchFolder scratch;
    RgbPicture picture{33, 2, {}};
    for (int i = 0; i < 66; ++i)
        for (int k = 0; k < 3; ++k)
            picture.rgb.push_back(i % 3 == 0 ? 255 : 0);
    auto bitmap = BitmapOf(picture);
    const std::vector<BYTE> file = ReadFile(SaveBmp(bitmap.get(), 1, scratch));
    ASSERT_EQ(file.size(), 78u);
    EXPECT_EQ(file[10], 62);
    EXPECT_EQ(file[2], 78);
    EXPECT_EQ(file[28], 1);
    auto again = Load(scratch / "out.bmp");
    ASSERT_TRUE(again);
    EXPECT_EQ(PictureOf(again.get()), picture);
}

TEST(Bmp, RunLengthDataWithEveryEscape) {
    ScratchFolder scratch;
    // 8-bit, 6 x 3: a run, an absolute run with its pad byte, end of line,
    // a delta, end of bitmap; what is skipped stays index 0.
    std::vector<BYTE> rle8 = BmpHeaders(6, 3, 8, 1, 16);
    for (int b : {2, 1, 0, 3, 4, 5, 6, 0, 0, 0, 0, 2, 1, 1, 1, 7, 0, 1})
        rle8.push_back(static_cast<BYTE>(b));
    WriteFile(scratch / "rle8.bmp", rle8);
    auto bitmap = Load(scratch / "rle8.bmp");
    ASSERT_TRUE(bitmap);
    // Rows as seen (top first); level = 10 x index.
    EXPECT_EQ(Greys(PictureOf(bitmap.get())), (std::vector<BYTE>{0, 70, 0, 0, 0, 0, //
                                                                 0, 0, 0, 0, 0, 0,  //
                                                                 10, 10, 40, 50, 60, 0}));

    // The same picture in 4 bits: nibbles, high first.
    std::vector<BYTE> rle4 = BmpHeaders(6, 3, 4, 2, 16);
    for (int b : {2, 0x11, 0, 3, 0x45, 0x60, 0, 0, 0, 2, 1, 1, 1, 0x77, 0, 1})
        rle4.push_back(static_cast<BYTE>(b));
    WriteFile(scratch / "rle4.bmp", rle4);
    auto four = Load(scratch / "rle4.bmp");
    ASSERT_TRUE(four);
    EXPECT_EQ(PictureOf(four.get()), PictureOf(bitmap.get()));

    // 4-bit data under compression 1 is refused.
    rle4[30] = 1;
    WriteFile(scratch / "rle4as8.bmp", rle4);
    Load(scratch / "rle4as8.bmp", 0x400, E_FAIL);
}

TEST(Bmp, HeadersItDoesNotRead) {
    ScratchFolder scratch;
    auto translator = TranslatorFor("BMP");
    // The 12-byte core header is a bitmap file, but not one this reads.
    std::vector<BYTE> core = BmpHeaders(1, 1, 24, 0, 0, 12);
    core.resize(core.size() + 4, 0);
    WriteFile(scratch / "core.bmp", core);
    EXPECT_EQ(translator->Probe((scratch / "core.bmp").c_str()), S_OK);
    ComPtr<IBitmapImage> bitmap;
    EXPECT_TRUE(FAILED(translator->Load((scratch / "core.bmp").c_str(), 0x400, &bitmap, nullptr)));
    EXPECT_FALSE(bitmap);

    // Rows the file does not hold: refused, not invented.
    std::vector<BYTE> cut = BmpHeaders(4, 4, 24, 0, 0);
    cut.resize(cut.size() + 4 * 12 - 1, 0);
    WriteFile(scratch / "cut.bmp", cut);
    EXPECT_EQ(translator->Load((scratch / "cut.bmp").c_str(), 0x400, &bitmap, nullptr), E_FAIL);

    for (auto [bits, compression] : {std::pair<WORD, DWORD>{2, 0}, {24, 3}, {8, 2}}) {
        std::vector<BYTE> odd = BmpHeaders(1, 1, bits, compression, 0);
        odd.resize(odd.size() + 4, 0);
        WriteFile(scratch / "odd.bmp", odd);
        EXPECT_EQ(translator->Load((scratch / "odd.bmp").c_str(), 0x400, &bitmap, nullptr), E_FAIL)
            << bits << " " << compression;
    }
    std::vector<BYTE> text{'B', 'M', 'x'};
    WriteFile(scratch / "short.bmp", text);
    EXPECT_EQ(translator->Probe((scratch / "short.bmp").c_str()), S_FALSE);
}

TEST(Bmp, ShortPalettesAndTopFirstRows) {
    ScratchFolder scratch;
    // A 2-colour palette announced by biClrUsed, rows stored top first.
    std::vector<BYTE> file = BmpHeaders(2, -2, 8, 0, 2);
    PutDword(file, 46, 2);
    for (int b : {1, 0, 0, 0, 0, 1, 0, 0})
        file.push_back(static_cast<BYTE>(b));
    WriteFile(scratch / "short-palette.bmp", file);
    auto bitmap = Load(scratch / "short-palette.bmp");
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(Greys(PictureOf(bitmap.get())), (std::vector<BYTE>{10, 0, 0, 10}));
}

TEST(Bmp, GreyBitmapsKeepTheirLevels) {
    ScratchFolder scratch;
    auto grey = NewBitmap(5, 3, 0x1);
    const BitmapImage image = ImageOf(grey.get());
    for (int i = 0; i < 3 * 8; ++i)
        image.pixels[i] = static_cast<BYTE>(i * 10);
    auto again = Load(SaveBmp(grey.get(), 0, scratch));
    ASSERT_TRUE(again);
    const std::vector<BYTE> levels = Greys(PictureOf(again.get()));
    EXPECT_EQ(levels[0], 160); // top row first: stored row 2
    EXPECT_EQ(levels[14], 40);
}

} // namespace
