// The Targa translator: the codec's byte-level layout, run-length packets,
// pixel depths and colour maps.
#include "platform/ByteSource.h"
#include "support/RastrelFormats.h"

using namespace rastrel::testing;

namespace {

// A Targa header: image type, pixel depth, descriptor, width, height and,
// for colour-mapped files, the map's length and entry size.
std::vector<BYTE> TargaHeader(BYTE type, BYTE depth, BYTE descriptor, int width, int height,
                              int mapLength = 0, BYTE mapBits = 0) {
    std::vector<BYTE> bytes = {0, mapLength > 0, type, 0, 0, 0, 0, mapBits};
    bytes.resize(18, 0);
    platform::StoreU16Le(&bytes[5], static_cast<WORD>(mapLength));
    platform::StoreU16Le(&bytes[12], static_cast<WORD>(width));
    platform::StoreU16Le(&bytes[14], static_cast<WORD>(height));
    bytes[16] = depth;
    bytes[17] = descriptor;
    return bytes;
}

// The bitmap a file of these bytes loads into.
ComPtr<IBitmapImage> LoadBytes(const std::vector<BYTE>& bytes, const ScratchFolder& scratch,
                               DWORD format = 0x400) {
    WriteFile(scratch / "file.tga", bytes);
    return Load(scratch / "file.tga", format);
}

void Append(std::vector<BYTE>& bytes, std::initializer_list<int> more) {
    for (int b : more)
        bytes.push_back(static_cast<BYTE>(b));
}

std::vector<BYTE> SaveTga(const RgbPicture& picture, bool runLength, const ScratchFolder& scratch) {
    auto translator = TranslatorFor("TGA");
    auto options = As<ITranslatorOptions>(translator.get(), IID_ITranslatorOptions);
    EXPECT_EQ(options->SetCompression(runLength ? 1 : 0), S_OK);
    auto bitmap = BitmapOf(picture);
    const std::string path = scratch / "out.tga";
    EXPECT_EQ(translator->Save(path.c_str(), bitmap.get(), nullptr), S_OK);
    return ReadFile(path);
}

TEST(Targa, OnePixelFileHasTheHeaderIdentificationAndFooter) {
    ScratchFolder scratch;
    const RgbPicture pixel{1, 1, {30, 20, 10}};
    const std::vector<BYTE> plain = SaveTga(pixel, false, scratch);
    ASSERT_EQ(plain.size(), 93u);
    std::vector<BYTE> expected = TargaHeader(2, 24, 0, 1, 1);
    expected[0] = 46;
    const std::string id = "Pixora Video Snapshot";
    expected.insert(expected.end(), id.begin(), id.end());
    expected.resize(64, 0);
    Append(expected, {10, 20, 30});
    expected.resize(expected.size() + 8, 0);
    const std::string signature = "TRUEVISION-XFILE.";
    expected.insert(expected.end(), signature.begin(), signature.end());
    expected.push_back(0);
    EXPECT_EQ(plain, expected);

    const std::vector<BYTE> packed = SaveTga(pixel, true, scratch);
    ASSERT_EQ(packed.size(), 94u);
    EXPECT_EQ(packed[2], 10);
    EXPECT_EQ(std::vector<BYTE>(packed.begin() + 64, packed.begin() + 68),
              (std::vector<BYTE>{0x00, 10, 20, 30}));
}

TEST(Targa, RunLengthPacketsStayWithinSegmentsOf128) {
    ScratchFolder scratch;
    RgbPicture row{130, 1, {}};
    for (int x = 0; x < 130; ++x)
        Append(row.rgb, {1, 2, 3});
    std::vector<BYTE> file = SaveTga(row, true, scratch);
    EXPECT_EQ(std::vector<BYTE>(file.begin() + 64, file.end() - 26),
              (std::vector<BYTE>{0xFF, 3, 2, 1, 0x81, 3, 2, 1}));

    // Runs 1, 2, 1 go out as one raw packet of four pixels.
    const RgbPicture mixed{4, 1, {9, 9, 9, 5, 5, 5, 5, 5, 5, 7, 7, 7}};
    file = SaveTga(mixed, true, scratch);
    EXPECT_EQ(std::vector<BYTE>(file.begin() + 64, file.end() - 26),
              (std::vector<BYTE>{0x03, 9, 9, 9, 5, 5, 5, 5, 5, 5, 7, 7, 7}));
}

TEST(Targa, RunLengthDecodesLikeThePlainTwin) {
    ScratchFolder scratch;
    // 3 x 2 pixels: one run of 4 across the row end, then a raw packet of 2.
    std::vector<BYTE> packed = TargaHeader(10, 24, 0, 3, 2);
    Append(packed, {0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9});
    std::vector<BYTE> plain = TargaHeader(2, 24, 0, 3, 2);
    Append(plain, {1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    // 32-bit pixels in packets of one: 5 bytes a pixel, 35000 bytes a row,
    // more than one chunk of the reader.
    const int width = 7000;
    std::vector<BYTE> widePacked = TargaHeader(10, 32, 0, width, 2);
    std::vector<BYTE> widePlain = TargaHeader(2, 32, 0, width, 2);
    for (int i = 0; i < 2 * width; ++i) {
        const int v[4] = {i & 255, (i >> 8) & 255, 7, 0};
        Append(widePacked, {0x00, v[0], v[1], v[2], v[3]});
        Append(widePlain, {v[0], v[1], v[2], v[3]});
    }
    for (const auto& [a, b] : {std::pair{&packed, &plain}, std::pair{&widePacked, &widePlain}}) {
        auto decoded = LoadBytes(*a, scratch), twin = LoadBytes(*b, scratch);
        ASSERT_TRUE(decoded && twin);
        EXPECT_EQ(PixelsOf(decoded.get()), PixelsOf(twin.get()));
    }
    // Bottom row first: the second row is seen on top.
    EXPECT_EQ(PictureOf(LoadBytes(packed, scratch).get()).rgb[6], 9);
}

TEST(Targa, SixteenBitPixelsKeepFiveBitsAChannel) {
    ScratchFolder scratch;
    std::vector<BYTE> file = TargaHeader(2, 16, 0, 2, 1);
    Append(file, {0xFF, 0x7F, 0x00, 0x80});
    auto bitmap = LoadBytes(file, scratch);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(PictureOf(bitmap.get()).rgb, (std::vector<BYTE>{248, 248, 248, 0, 0, 0}));
}

TEST(Targa, ColourMapsAreCutTo256AndGreyRampStandsInForNone) {
    ScratchFolder scratch;
    std::vector<BYTE> file = TargaHeader(1, 8, 0, 2, 1, 300, 24);
    for (int i = 0; i < 300; ++i)
        Append(file, {i & 255, 7, 9});
    Append(file, {255, 3});
    auto bitmap = LoadBytes(file, scratch, 0x4000);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(PaletteOf(bitmap.get())[255].rgbBlue, 255);
    EXPECT_EQ(PaletteOf(bitmap.get())[3].rgbRed, 9);
    EXPECT_EQ(ImageOf(bitmap.get()).pixels[0], 255);

    // Colour-mapped type without a map: grey levels.
    file = TargaHeader(1, 8, 0, 1, 1);
    Append(file, {200});
    bitmap = LoadBytes(file, scratch);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(PictureOf(bitmap.get()).rgb, (std::vector<BYTE>{200, 200, 200}));
}

TEST(Targa, FooterAloneProbesButDoesNotLoad) {
    ScratchFolder scratch;
    std::vector<BYTE> file(44, 0); // a header of zeros, a footer without areas
    const std::string signature = "TRUEVISION-XFILE.";
    file.insert(file.end(), signature.begin(), signature.end());
    file.push_back(0);
    WriteFile(scratch / "footer.tga", file);
    auto translator = TranslatorFor("TGA");
    EXPECT_EQ(translator->Probe((scratch / "footer.tga").c_str()), S_OK);
    ComPtr<IBitmapImage> bitmap;
    EXPECT_EQ(translator->Load((scratch / "footer.tga").c_str(), 0x400, &bitmap, nullptr), E_FAIL);
    EXPECT_FALSE(bitmap);
    EXPECT_EQ(translator->Probe((scratch / "missing.tga").c_str()), E_FAIL);
}

} // namespace
