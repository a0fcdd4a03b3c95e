// The TIFF translator: the written header block and strips, the tag checks,
// and malformed files, which fail without reading outside them.
#include "platform/ByteSource.h"
#include "support/RastrelFormats.h"

#include <map>
#include <tuple>

using namespace rastrel::testing;

namespace {

// Values from kData on stand for the data's offset and beyond.
constexpr DWORD kData = 0x10000;

// A little-endian TIFF file of one directory: tag -> (type, count, value
// or offset), then the data right after the directory.
std::vector<BYTE> TiffFile(const std::map<WORD, std::tuple<WORD, DWORD, DWORD>>& tags,
                           const std::vector<BYTE>& data) {
    std::vector<BYTE> bytes = {'I', 'I', 42, 0, 8, 0, 0, 0};
    bytes.resize(10 + 12 * tags.size() + 4, 0);
    platform::StoreU16Le(&bytes[8], static_cast<WORD>(tags.size()));
    BYTE* entry = &bytes[10];
    const auto start = static_cast<DWORD>(bytes.size());
    for (const auto& [tag, value] : tags) {
        auto [type, count, field] = value;
        if (field >= kData) field = field - kData + start;
        platform::StoreU16Le(entry, tag);
        platform::StoreU16Le(entry + 2, type);
        platform::StoreU32Le(entry + 4, count);
        if (type == 3 && count == 1)
            platform::StoreU16Le(entry + 8, static_cast<WORD>(field));
        else
            platform::StoreU32Le(entry + 8, field);
        entry += 12;
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

// A 2 x 2 grey file with its data (4 bytes) right after the directory.
std::map<WORD, std::tuple<WORD, DWORD, DWORD>> GreyTags() {
    return {{256, {3, 1, 2}}, {257, {3, 1, 2}},     {258, {3, 1, 8}},
            {262, {3, 1, 1}}, {273, {4, 1, kData}}, {279, {4, 1, 4}}};
}

class Tiff : public ScratchTest {
protected:
    ComPtr<IBitmapImage> LoadBytes(const std::vector<BYTE>& bytes, DWORD format = 0x400,
                                   HRESULT expected = S_OK) {
        WriteFile(scratch / "file.tif", bytes);
        return Load(scratch / "file.tif", format, expected);
    }
    std::vector<BYTE> Saved(IBitmapImage* bitmap) {
        const std::string path = scratch / "out.tif";
        EXPECT_EQ(TranslatorFor("TIF")->Save(path.c_str(), bitmap, nullptr), S_OK);
        return ReadFile(path);
    }
};

// Tag `tag` of a written file: type, count and value.
std::tuple<WORD, DWORD, DWORD> Tag(const std::vector<BYTE>& file, WORD tag) {
    const WORD entries = platform::LoadU16Le(&file[8]);
    for (WORD i = 0; i < entries; ++i) {
        const BYTE* entry = &file[10 + 12 * i];
        if (platform::LoadU16Le(entry) != tag) continue;
        const WORD type = platform::LoadU16Le(entry + 2);
        const DWORD count = platform::LoadU32Le(entry + 4);
        return {type, count,
                type == 3 && count == 1 ? platform::LoadU16Le(entry + 8)
                                        : platform::LoadU32Le(entry + 8)};
    }
    return {0, 0, 0};
}

TEST_F(Tiff, WrittenFilesHaveTheFixedHeaderBlock) {
    // 100 x 100 of 24 bits: 30000 bytes of rows make two strips of 80 and
    // 20 rows, their arrays at 268.
    RgbPicture big{100, 100, std::vector<BYTE>(30000)};
    for (std::size_t i = 0; i < big.rgb.size(); ++i)
        big.rgb[i] = static_cast<BYTE>(i * 7);
    const std::vector<BYTE> rgb = Saved(BitmapOf(big).get());
    ASSERT_EQ(rgb.size(), 268u + 16 + 30000);
    EXPECT_EQ(platform::LoadU16Le(&rgb[8]), 17);
    EXPECT_EQ(std::tuple(Tag(rgb, 273), Tag(rgb, 278), Tag(rgb, 279), Tag(rgb, 258)),
              std::tuple(std::tuple(4, 2, 268), std::tuple(4, 1, 80), std::tuple(4, 2, 276),
                         std::tuple(3, 3, 246)));
    EXPECT_EQ(std::tuple(platform::LoadU32Le(&rgb[268]), platform::LoadU32Le(&rgb[272]),
                         platform::LoadU32Le(&rgb[276]), platform::LoadU32Le(&rgb[280])),
              std::tuple(284, 24284, 24000, 6000));
    EXPECT_EQ(std::string(&rgb[252], &rgb[268]), std::string("Korvane") + std::string(9, '\0'));
    EXPECT_EQ(std::vector<BYTE>(rgb.begin() + 284, rgb.begin() + 287),
              std::vector<BYTE>(big.rgb.begin(), big.rgb.begin() + 3)); // red first

    // 10 x 10 with a palette of 256 colours: 18 entries, the colour map
    // right after the header block, one strip of 100 bytes.
    auto palette = NewBitmap(10, 10, 0x4000);
    for (int i = 0; i < 256; ++i)
        PaletteOf(palette.get())[i] = {static_cast<BYTE>(255 - i), 3, static_cast<BYTE>(i), 0};
    const std::vector<BYTE> mapped = Saved(palette.get());
    ASSERT_EQ(mapped.size(), 268u + 1536 + 100);
    EXPECT_EQ(std::tuple(platform::LoadU16Le(&mapped[8]), Tag(mapped, 320), Tag(mapped, 273),
                         Tag(mapped, 279), Tag(mapped, 262)),
              std::tuple(18, std::tuple(3, 768, 268), std::tuple(4, 1, 1804), std::tuple(4, 1, 100),
                         std::tuple(3, 1, 3)));
    EXPECT_EQ(std::tuple(platform::LoadU16Le(&mapped[268 + 2]),
                         platform::LoadU16Le(&mapped[268 + 512 + 2]),
                         platform::LoadU16Le(&mapped[268 + 1024 + 2])),
              std::tuple(1 * 257, 3 * 257, 254 * 257));
    // Without a colour map the 18th entry's first bytes end the directory.
    EXPECT_EQ(platform::LoadU32Le(&rgb[10 + 17 * 12]), 0u);
    // libtiff reads it; it only remarks on the predictor of an uncompressed
    // file and the zeros that pad the document name.
    for (const char* tool : {"/usr/bin/tiffinfo", "/usr/bin/tiffdump"}) {
        const CommandResult result = RunProgram(tool, Quote(scratch / "out.tif"));
        EXPECT_EQ(std::pair(result.status, result.err.find("rror")),
                  std::pair(0, std::string::npos))
            << tool << result.err;
    }
}

TEST_F(Tiff, WideRowsReadStraightAcrossStrips) {
    // Rows of 6000 bytes, four to a strip: the reader takes them without
    // its buffer, across eight strip ends.
    RgbPicture wide{2000, 30, Random(2000 * 30 * 3, 5)};
    Saved(BitmapOf(wide).get());
    EXPECT_EQ(std::get<1>(Tag(ReadFile(scratch / "out.tif"), 273)), 8u);
    auto back = Load(scratch / "out.tif");
    ASSERT_TRUE(back);
    EXPECT_EQ(PictureOf(back.get()), wide);
}

TEST_F(Tiff, TagChecksOfTheProbeAndTheLoad) {
    auto tags = GreyTags();
    const std::vector<BYTE> grey = TiffFile(tags, {0, 50, 100, 150});
    auto bitmap = LoadBytes(grey, 0x4000);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(PixelsOf(bitmap.get())[0], 100); // the bottom row comes last

    // BitsPerSample of four values is no file of ours: the probe says no.
    auto four = tags;
    four[258] = {3, 4, 0};
    WriteFile(scratch / "four.tif", TiffFile(four, {0, 0, 0, 0}));
    EXPECT_EQ(TranslatorFor("TIF")->Probe((scratch / "four.tif").c_str()), S_FALSE);

    // What loads fails: planar RGB, 12 bits, a predictor without LZW.
    auto planar = tags;
    planar[258] = {3, 3, 0};
    planar[277] = {3, 1, 3};
    planar[262] = {3, 1, 2};
    planar[284] = {3, 1, 2};
    auto twelve = tags;
    twelve[258] = {3, 1, 12};
    auto predictor = tags;
    predictor[317] = {3, 1, 2};
    // A compression given as a RATIONAL: eight bytes where four were looked for.
    auto rational = tags;
    rational[259] = {5, 1, kData};
    for (const auto& bad : {planar, twelve, predictor, rational})
        LoadBytes(TiffFile(bad, std::vector<BYTE>(64, 0)), 0x400, E_FAIL);
}

TEST_F(Tiff, MalformedFilesFailWithoutReadingOutside) {
    auto with = [](std::map<WORD, std::tuple<WORD, DWORD, DWORD>> tags, WORD tag,
                   std::tuple<WORD, DWORD, DWORD> value) {
        tags[tag] = value;
        return tags;
    };
    const auto base = GreyTags();
    const std::vector<BYTE> pixels = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<std::vector<BYTE>> files = {
        // The strip lies past the end, or reaches past it.
        TiffFile(with(base, 273, {4, 1, 5000}), pixels),
        TiffFile(with(base, 279, {4, 1, 5000}), pixels),
        // Two strips share bytes.
        TiffFile(with(with(base, 273, {4, 2, kData}), 279, {4, 2, kData + 8}),
                 {86 + 16, 0, 0, 0, 86 + 17, 0, 0, 0, 4, 0, 0, 0, 4, 0, 0, 0, 1, 2, 3, 4, 5}),
        // A palette file with a colour map for 4 bits.
        TiffFile(with(with(base, 262, {3, 1, 3}), 320, {3, 48, kData}), std::vector<BYTE>(96, 0)),
        // LZW codes beyond the table.
        TiffFile(with(base, 259, {3, 1, 5}), {0x80, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}),
        // Group 4 codes that are none.
        TiffFile(with(with(base, 258, {3, 1, 1}), 259, {3, 1, 4}), {0, 0, 0, 0}),
        // Millions of rows of a few bytes.
        TiffFile(with(with(base, 257, {4, 1, 30000}), 256, {4, 1, 8000}), pixels),
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        LoadBytes(files[i], 0x400, E_FAIL);
    }
}

TEST_F(Tiff, ASaveLeavesNoFileWhenCancelled) {
    const std::string out = scratch / "cancelled.tif";
    for (long at : {1, 24}) {
        CountingSink cancel(at);
        EXPECT_EQ(TranslatorFor("TIF")->Save(out.c_str(), NewBitmap(5, 23, 0x400).get(), &cancel),
                  E_ABORT);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    // 23 rows: a step before each and one after the last.
    CountingSink sink;
    ASSERT_EQ(TranslatorFor("TIF")->Save(out.c_str(), NewBitmap(5, 23, 0x400).get(), &sink), S_OK);
    EXPECT_EQ(std::tuple(sink.records.size(), sink.records.back().step, sink.phases),
              std::tuple(24u, 23, std::vector<LONG>{1}));
}

} // namespace
