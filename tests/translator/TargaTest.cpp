// The Targa translator: the codec's byte-level layout, run-length packets,
// pixel depths and colour maps.
#include "platform/ByteSource.h"
#include "support/RastrelFormats.h"

#include <tuple>

using namespace rastrel::testing;

namespace {

const std::string kFooter = std::string(8, '\0') + "TRUEVISION-XFILE." + '\0';

// A Targa file: image type, pixel depth, width, height, the data after the
// header and, for colour-mapped files, the map's length and entry size.
std::vector<BYTE> TargaFile(BYTE type, BYTE depth, int width, int height, std::vector<BYTE> data,
                            int mapLength = 0, BYTE mapBits = 0) {
    std::vector<BYTE> bytes = {0, mapLength > 0, type, 0, 0, 0, 0, mapBits};
    bytes.resize(18, 0);
    platform::StoreU16Le(&bytes[5], static_cast<WORD>(mapLength));
    platform::StoreU16Le(&bytes[12], static_cast<WORD>(width));
    platform::StoreU16Le(&bytes[14], static_cast<WORD>(height));
    bytes[16] = depth;
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

class Targa : public ScratchTest {
protected:
    // The bitmap a file of these bytes loads into.
    ComPtr<IBitmapImage> LoadBytes(const std::vector<BYTE>& bytes, DWORD format = 0x400) {
        WriteFile(scratch / "file.tga", bytes);
        return Load(scratch / "file.tga", format);
    }
    // What a save writes after the header and identification, before the footer.
    std::vector<BYTE> SavedData(const RgbPicture& picture, bool runLength) {
        auto translator = TranslatorFor("TGA");
        auto options = As<ITranslatorOptions>(translator.get(), IID_ITranslatorOptions);
        EXPECT_EQ(options->SetCompression(runLength ? 1 : 0), S_OK);
        const std::string path = scratch / "out.tga";
        EXPECT_EQ(translator->Save(path.c_str(), BitmapOf(picture).get(), nullptr), S_OK);
        const std::vector<BYTE> file = ReadFile(path);
        return {file.begin() + 64, file.end() - 26};
    }
};

TEST_F(Targa, OnePixelFileHasTheHeaderIdentificationAndFooter) {
    const RgbPicture pixel{1, 1, {30, 20, 10}};
    EXPECT_EQ(SavedData(pixel, false), (std::vector<BYTE>{10, 20, 30}));
    // A 46-byte identification padded with zeros, the pixel (blue, green,
    // red), a footer without areas.
    std::vector<BYTE> expected = TargaFile(2, 24, 1, 1, {});
    expected[0] = 46;
    const std::string rest =
        "Pixora Video Snapshot" + std::string(25, '\0') + "\x0a\x14\x1e" + kFooter;
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(ReadFile(scratch / "out.tga"), expected);
    EXPECT_EQ(SavedData(pixel, true), (std::vector<BYTE>{0x00, 10, 20, 30}));
    EXPECT_EQ(ReadFile(scratch / "out.tga")[2], 10); // the run-length type
}

TEST_F(Targa, RunLengthPacketsStayWithinSegmentsOf128) {
    RgbPicture row{130, 1, {}};
    for (int x = 0; x < 130; ++x)
        row.rgb.insert(row.rgb.end(), {1, 2, 3});
    EXPECT_EQ(SavedData(row, true), (std::vector<BYTE>{0xFF, 3, 2, 1, 0x81, 3, 2, 1}));
    // Runs 1, 2, 1 go out as one raw packet of four pixels.
    EXPECT_EQ(SavedData({4, 1, {9, 9, 9, 5, 5, 5, 5, 5, 5, 7, 7, 7}}, true),
              (std::vector<BYTE>{0x03, 9, 9, 9, 5, 5, 5, 5, 5, 5, 7, 7, 7}));
}

// 16-bit pixels keep five bits a channel (the top bit is no colour); a colour-mapped type without a
// map has grey levels; 3 x 2 run-length pixels, one run of 4 across the row
// end and a raw packet of 2, stored bottom row first.
TEST_F(Targa, HandMadeFilesLoadToTheirPixels) {
    for (const auto& [file, rgb] :
         {std::pair{TargaFile(2, 16, 3, 1, {0xFF, 0x7F, 0x43, 0x04, 0x00, 0x80}),
                    std::vector<BYTE>{248, 248, 248, 8, 16, 24, 0, 0, 0}},
          std::pair{TargaFile(1, 8, 1, 1, {200}), std::vector<BYTE>{200, 200, 200}},
          std::pair{TargaFile(10, 24, 3, 2, {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9}),
                    std::vector<BYTE>{3, 2, 1, 6, 5, 4, 9, 8, 7, 3, 2, 1, 3, 2, 1, 3, 2, 1}}}) {
        auto bitmap = LoadBytes(file);
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(PictureOf(bitmap.get()).rgb, rgb);
    }
}

TEST_F(Targa, RunLengthDecodesLikeThePlainTwin) {
    // 32-bit pixels in packets of one: 5 bytes a pixel, 35000 bytes a row,
    // more than one chunk of the reader.
    const int width = 7000;
    std::vector<BYTE> packed = TargaFile(10, 32, width, 2, {}),
                      plain = TargaFile(2, 32, width, 2, {});
    for (int i = 0; i < 2 * width; ++i) {
        const BYTE pixel[4] = {static_cast<BYTE>(i), static_cast<BYTE>(i >> 8), 7, 0};
        packed.push_back(0x00);
        packed.insert(packed.end(), pixel, pixel + 4);
        plain.insert(plain.end(), pixel, pixel + 4);
    }
    auto decoded = LoadBytes(packed), twin = LoadBytes(plain);
    ASSERT_TRUE(decoded && twin);
    EXPECT_EQ(PixelsOf(decoded.get()), PixelsOf(twin.get()));
}

TEST_F(Targa, ColourMapsAreCutTo256Entries) {
    std::vector<BYTE> map;
    for (int i = 0; i < 300; ++i)
        map.insert(map.end(), {static_cast<BYTE>(i), 7, 9});
    map.insert(map.end(), {255, 3});
    auto bitmap = LoadBytes(TargaFile(1, 8, 2, 1, map, 300, 24), 0x4000);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(std::tuple(PaletteOf(bitmap.get())[255].rgbBlue, PaletteOf(bitmap.get())[3].rgbRed,
                         ImageOf(bitmap.get()).pixels[0]),
              std::tuple(255, 9, 255));
}

TEST_F(Targa, FooterAloneProbesButDoesNotLoad) {
    // A header and more of zeros, a footer without areas.
    WriteBytes(scratch / "footer.tga", std::string(36, '\0') + kFooter);
    auto translator = TranslatorFor("TGA");
    EXPECT_EQ(translator->Probe((scratch / "footer.tga").c_str()), S_OK);
    ComPtr<IBitmapImage> bitmap;
    EXPECT_EQ(translator->Load((scratch / "footer.tga").c_str(), 0x400, &bitmap, nullptr), E_FAIL);
    EXPECT_FALSE(bitmap);
    EXPECT_EQ(translator->Probe((scratch / "missing.tga").c_str()), E_FAIL);
}

} // namespace
