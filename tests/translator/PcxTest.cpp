// The PCX translator: the written bytes, the palette rules, runs that go on
// into the next line, layouts and sizes it refuses.
#include "platform/ByteSource.h"
#include "support/RastrelFormats.h"

#include <tuple>

using namespace rastrel::testing;

namespace {

// A PCX file: version, bits, planes, width, height, bytes per line, the
// 16 header colours, the encoded data and what follows it.
std::vector<BYTE> PcxFile(BYTE version, BYTE bits, BYTE planes, int width, int height,
                          int bytesPerLine, const std::vector<BYTE>& colours,
                          const std::vector<BYTE>& data) {
    std::vector<BYTE> bytes(128, 0);
    bytes[0] = 10;
    bytes[1] = version;
    bytes[2] = 1;
    bytes[3] = bits;
    platform::StoreU16Le(&bytes[8], static_cast<WORD>(width - 1));
    platform::StoreU16Le(&bytes[10], static_cast<WORD>(height - 1));
    std::copy(colours.begin(), colours.end(), bytes.begin() + 16);
    bytes[65] = planes;
    platform::StoreU16Le(&bytes[66], static_cast<WORD>(bytesPerLine));
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

class Pcx : public ScratchTest {
protected:
    ComPtr<IBitmapImage> LoadBytes(const std::vector<BYTE>& bytes, DWORD format = 0x400,
                                   HRESULT expected = S_OK) {
        WriteFile(scratch / "file.pcx", bytes);
        return Load(scratch / "file.pcx", format, expected);
    }
    // The file a save of this bitmap writes.
    std::vector<BYTE> Saved(IBitmapImage* bitmap) {
        const std::string path = scratch / "out.pcx";
        EXPECT_EQ(TranslatorFor("PCX")->Save(path.c_str(), bitmap, nullptr), S_OK);
        return ReadFile(path);
    }
};

// A palette bitmap of one row holding these indices, palette entry i = (i, i, 9).
ComPtr<IBitmapImage> PaletteRow(const std::vector<BYTE>& indices, DWORD colours) {
    auto bitmap = NewBitmap(static_cast<LONG>(indices.size()), 1, 0x4000);
    const BitmapImage image = ImageOf(bitmap.get());
    std::copy(indices.begin(), indices.end(), image.pixels);
    image.header->biClrUsed = colours;
    for (DWORD i = 0; i < 256; ++i)
        PaletteOf(bitmap.get())[i] = {9, static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    return bitmap;
}

TEST_F(Pcx, WrittenLinesAreRunsOf63WithEvenBytesPerLine) {
    // Line bytes, colours in use, and the encoded line; widths 64 and 3
    // (padded to 4), 5 (padded to 6).
    const std::tuple<std::vector<BYTE>, DWORD, std::vector<BYTE>> cases[] = {
        {std::vector<BYTE>(64, 7), 16, {0xFF, 7, 7}},
        {{200, 191, 0}, 16, {0xC1, 200, 191, 0xC2, 0}},
        {{1, 1, 2, 2, 2}, 256, {0xC2, 1, 0xC3, 2, 0}},
    };
    for (const auto& [line, colours, encoded] : cases) {
        const std::vector<BYTE> file = Saved(PaletteRow(line, colours).get());
        ASSERT_GT(file.size(), 128u);
        const std::size_t even = line.size() + line.size() % 2;
        EXPECT_EQ(std::tuple(file[1], file[3], file[65], platform::LoadU16Le(&file[66]),
                             platform::LoadU16Le(&file[8]), platform::LoadU16Le(&file[68])),
                  std::tuple(5, 8, 1, even, line.size() - 1, 1));
        const auto data = file.begin() + 128;
        // The 769-byte trailer, and up to 16 colours in the header too.
        EXPECT_EQ(std::vector<BYTE>(data, file.end() - 769), encoded);
        EXPECT_EQ(std::vector<BYTE>(file.end() - 769, file.end() - 763),
                  (std::vector<BYTE>{12, 0, 0, 9, 1, 1}));
        EXPECT_EQ(std::vector<BYTE>(file.begin() + 16 + 45, file.begin() + 64),
                  (colours > 16 ? std::vector<BYTE>{0, 0, 0} : std::vector<BYTE>{15, 15, 9}));
    }
    // 24 bits: three planes of red, green and blue lines, no trailer.
    const std::vector<BYTE> rgb = Saved(BitmapOf({1, 1, {10, 20, 30}}).get());
    EXPECT_EQ(std::vector<BYTE>(rgb.begin() + 128, rgb.end()),
              (std::vector<BYTE>{10, 0, 20, 0, 30, 0})); // lines padded to even
    EXPECT_EQ(std::tuple(rgb[3], rgb[65], rgb[66]), std::tuple(8, 3, 2));
}

TEST_F(Pcx, PaletteRulesOfTheVersions) {
    std::vector<BYTE> header(48);
    for (int i = 0; i < 48; ++i)
        header[i] = static_cast<BYTE>(100 + i);
    std::vector<BYTE> trailer = {12};
    for (int i = 0; i < 768; ++i)
        trailer.push_back(static_cast<BYTE>(i / 3));
    auto with = [](std::vector<BYTE> data, const std::vector<BYTE>& tail) {
        data.insert(data.end(), tail.begin(), tail.end());
        return data;
    };
    std::vector<BYTE> notMarked = trailer;
    notMarked[0] = 11;
    // The file, and the colour of its pixel of value 5 (blue, green, red).
    const std::pair<std::vector<BYTE>, RGBQUAD> cases[] = {
        // 8 bits, version 5: the marked trailer, else the header colours.
        {PcxFile(5, 8, 1, 1, 1, 2, header, with({5, 0}, trailer)), {5, 5, 5, 0}},
        {PcxFile(5, 8, 1, 1, 1, 2, header, with({5, 0}, notMarked)), {117, 116, 115, 0}},
        // Version 3 has no palette: 16 colours get the default ones, 8 bits grey.
        {PcxFile(3, 4, 1, 1, 1, 2, header, {0x50, 0}), {168, 0, 168, 0}},
        {PcxFile(3, 8, 1, 1, 1, 2, header, with({5, 0}, trailer)), {5, 5, 5, 0}},
        // 16 colours in 4 planes: value 5 is planes 0 and 2; the header palette.
        {PcxFile(2, 1, 4, 1, 1, 2, header, {0x80, 0, 0, 0, 0x80, 0, 0, 0}), {117, 116, 115, 0}},
    };
    for (const auto& [file, colour] : cases) {
        auto bitmap = LoadBytes(file, 0x4000);
        ASSERT_TRUE(bitmap);
        const BYTE index = ImageOf(bitmap.get()).pixels[0];
        const RGBQUAD got = PaletteOf(bitmap.get())[index];
        EXPECT_EQ(std::tuple(index, got.rgbBlue, got.rgbGreen, got.rgbRed),
                  std::tuple(5, colour.rgbBlue, colour.rgbGreen, colour.rgbRed));
    }
    // A monochrome file loads black and white whatever its two colours.
    std::vector<BYTE> two = {200, 0, 0, 0, 0, 200};
    auto mono = LoadBytes(PcxFile(5, 1, 1, 2, 1, 2, two, {0x40, 0}));
    ASSERT_TRUE(mono);
    EXPECT_EQ(PictureOf(mono.get()).rgb, (std::vector<BYTE>{0, 0, 0, 255, 255, 255}));
}

TEST_F(Pcx, RunsGoOnIntoTheNextLine) {
    // Two lines of 4 bytes: a run of 6, then two literals; and the plain twin.
    auto run = LoadBytes(PcxFile(5, 8, 1, 4, 2, 4, {}, {0xC6, 3, 4, 5}), 0x4000);
    auto plain = LoadBytes(PcxFile(5, 8, 1, 4, 2, 4, {}, {3, 3, 3, 3, 3, 3, 4, 5}), 0x4000);
    ASSERT_TRUE(run && plain);
    EXPECT_EQ(PixelsOf(run.get()), PixelsOf(plain.get()));
    EXPECT_EQ(ImageOf(run.get()).pixels[3], 5); // the bottom row's last pixel
}

TEST_F(Pcx, LayoutsAndSizesItCannotReadFailToLoad) {
    const std::vector<BYTE> files[] = {
        PcxFile(5, 8, 2, 1, 1, 2, {}, {1, 2, 3, 4}),       // two planes of 8 bits
        PcxFile(5, 8, 1, 9, 1, 2, {}, {1, 2}),             // lines shorter than the width
        PcxFile(5, 8, 1, 8000, 8000, 8000, {}, {0xFF, 1}), // more rows than the data holds
    };
    for (const auto& file : files) {
        WriteFile(scratch / "bad.pcx", file);
        EXPECT_EQ(TranslatorFor("PCX")->Probe((scratch / "bad.pcx").c_str()), S_OK);
        LoadBytes(file, 0x400, E_FAIL);
    }
}

TEST_F(Pcx, ProgressCancelAndNoFileLeft) {
    const std::string file = kFixtures + "/pil-palette8.pcx";
    auto translator = TranslatorFor("PCX");
    // 23 rows: a step before the first and one after each.
    CountingSink sink;
    ComPtr<IBitmapImage> bitmap;
    ASSERT_EQ(translator->Load(file.c_str(), 0x4000, &bitmap, &sink), S_OK);
    EXPECT_EQ(std::tuple(sink.records.size(), sink.phases, sink.records.back().step),
              std::tuple(24u, std::vector<LONG>{1}, 23));
    CountingSink cancelLoad(1);
    ComPtr<IBitmapImage> none;
    EXPECT_EQ(translator->Load(file.c_str(), 0x4000, &none, &cancelLoad), E_ABORT);
    EXPECT_FALSE(none);
    const std::string out = scratch / "cancelled.pcx";
    for (long at : {1, 23}) {
        CountingSink cancelSave(at);
        EXPECT_EQ(translator->Save(out.c_str(), bitmap.get(), &cancelSave), E_ABORT);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

} // namespace
