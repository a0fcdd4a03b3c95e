// The PNG translator: what a load makes of each kind of file, progress,
// cancelling, damaged files, and the files a save writes.
#include "platform/ByteSource.h"
#include "support/RastrelFormats.h"

#include <tuple>

using namespace rastrel::testing;

namespace {

std::uint32_t Crc32(const BYTE* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = crc & 1 ? 0xEDB88320 ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

// A file's bytes with the header chunk's width and height replaced and its
// checksum made good again.
std::vector<BYTE> WithSize(std::vector<BYTE> file, std::uint32_t width, std::uint32_t height) {
    platform::StoreU32Be(&file[16], width);
    platform::StoreU32Be(&file[20], height);
    platform::StoreU32Be(&file[29], Crc32(&file[12], 17));
    return file;
}

class Png : public ScratchTest {
protected:
    std::string Fixture(const char* name) { return kFixtures + "/" + name; }
};

// The decisions beyond plain RGB: palettes of every depth become colours, a
// transparent colour becomes alpha, 16 bits keep their high byte.
TEST_F(Png, FilesLoadInTheirOwnFormat) {
    const std::tuple<const char*, DWORD> cases[] = {
        {"pil-rgb8.png", 0x400},         {"pil-palette8.png", 0x400},
        {"pil-palette2.png", 0x400},     {"pil-grey1.png", 0x400},
        {"im-rgb16.png", 0x400},         {"netpbm-grey16.png", 0x400},
        {"netpbm-rgb8-trns.png", 0x800}, {"pil-rgba8.png", 0x800},
        {"pil-greyalpha8.png", 0x800},   {"im-palette8-trns.png", 0x800},
        {"im-rgba16-adam7.png", 0x800}};
    for (const auto& [name, own] : cases) {
        // The own format needs no conversion: the phases are the passes and
        // the one the translator always counts.
        CountingSink sink;
        ComPtr<IBitmapImage> bitmap;
        ASSERT_EQ(TranslatorFor("PNG")->Load(Fixture(name).c_str(), own, &bitmap, &sink), S_OK)
            << name;
        EXPECT_EQ(ImageOf(bitmap.get()).format, own) << name;
        EXPECT_EQ(sink.records.size(),
                  std::string(name).find("adam7") != std::string::npos ? 7u * 23 : 23u)
            << name;
    }
    // The transparent colour (200, 60, 90) and only it has alpha 0.
    auto bitmap = Load(Fixture("netpbm-rgb8-trns.png"), 0x800);
    ASSERT_TRUE(bitmap);
    const BitmapImage image = ImageOf(bitmap.get());
    int wrong = 0;
    for (LONG i = 0; i < 37 * 23; ++i) {
        const BYTE* p = image.pixels + 4 * i;
        const bool transparent = p[0] == 90 && p[1] == 60 && p[2] == 200;
        wrong += p[3] != (transparent ? 0 : 255);
    }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Png, InterlacedFilesReportTheirPasses) {
    CountingSink sink;
    ComPtr<IBitmapImage> bitmap;
    ASSERT_EQ(
        TranslatorFor("PNG")->Load(Fixture("im-rgb8-adam7.png").c_str(), 0x400, &bitmap, &sink),
        S_OK);
    ASSERT_EQ(sink.records.size(), 7u * 23);
    EXPECT_EQ(std::tuple(sink.phases, sink.records[23].step, sink.records[23].pass,
                         sink.records.back().step, sink.records.back().total, sink.begins,
                         sink.ends),
              std::tuple(std::vector<LONG>{8}, 0, 1, 22, 23, 1, 1));
    // The same picture as the plain file of the same pixels.
    EXPECT_EQ(PictureOf(bitmap.get()), PictureOf(Load(Fixture("pil-rgb8.png")).get()));
}

TEST_F(Png, DamagedFilesFailWithoutABitmap) {
    const std::vector<BYTE> good = ReadFile(Fixture("pil-rgb8.png"));
    auto flipped = [&](std::size_t at) {
        std::vector<BYTE> bytes = good;
        bytes[at] ^= 0x40;
        return bytes;
    };
    const std::tuple<const char*, std::vector<BYTE>> cases[] = {
        {"header checksum", flipped(30)},
        {"image data", flipped(good.size() / 2)},
        {"cut in the image data", {good.begin(), good.begin() + good.size() / 2}},
        {"cut after the header", {good.begin(), good.begin() + 33}},
        {"width 0", WithSize(good, 0, 23)},
        {"width 2^31 - 1", WithSize(good, 0x7FFFFFFF, 23)},
        {"a million by a million", WithSize(good, 1000000, 1000000)},
        {"seven bytes", {good.begin(), good.begin() + 7}}};
    for (const auto& [what, bytes] : cases) {
        const std::string path = scratch / "damaged.png";
        WriteFile(path, bytes);
        ComPtr<IBitmapImage> bitmap;
        EXPECT_EQ(TranslatorFor("PNG")->Load(path.c_str(), 0x400, &bitmap, nullptr), E_FAIL)
            << what;
        EXPECT_FALSE(bitmap) << what;
    }
    EXPECT_EQ(TranslatorFor("PNG")->Probe(Fixture("pil-rgb24.bmp").c_str()), S_FALSE);
    EXPECT_EQ(TranslatorFor("PNG")->Probe((scratch / "damaged.png").c_str()), E_FAIL);
}

TEST_F(Png, CancellingLoads) {
    // In the first pass, in the last, and in the conversion after the rows.
    for (long at : {1L, 7L * 23, 7L * 23 + 1}) {
        CountingSink cancel(at);
        ComPtr<IBitmapImage> bitmap;
        EXPECT_EQ(TranslatorFor("PNG")->Load(Fixture("im-rgb8-adam7.png").c_str(), 0x4000, &bitmap,
                                             &cancel),
                  E_ABORT)
            << at;
        EXPECT_EQ(std::pair(bool(bitmap), cancel.ends), std::pair(false, 1)) << at;
    }
}

// An Adam7-interlaced 8-bit RGB file with no time chunk, which pngcheck,
// Pillow and ImageMagick read as the picture saved, and so do we.
TEST_F(Png, SavedFilesAreInterlacedRgbThatOthersRead) {
    const RgbPicture picture = ReadPpm(Fixture("pil-rgb24.bmp.ppm"));
    const RgbPicture few = ReadPpm(Fixture("netpbm-palette4.bmp.ppm"));
    for (const auto& [source, format] : {std::pair{&picture, DWORD{0x400}}, {&few, 0x4000}}) {
        auto bitmap = BitmapOf(*source);
        if (format != 0x400) {
            ComPtr<IBitmapImage> converted;
            ASSERT_EQ(bitmap->Convert(format, &converted, nullptr), S_OK);
            bitmap = converted;
        }
        const std::string path = scratch / "out.png";
        CountingSink sink;
        ASSERT_EQ(TranslatorFor("PNG")->Save(path.c_str(), bitmap.get(), &sink), S_OK);
        // Seven passes and a conversion: counted for 0x400 too.
        EXPECT_EQ(sink.phases, std::vector<LONG>{8});
        const std::vector<BYTE> file = ReadFile(path);
        ASSERT_GT(file.size(), 33u);
        // Depth 8, colour type 2, interlace 1.
        EXPECT_EQ(std::tuple(file[24], file[25], file[28]), std::tuple(8, 2, 1));
        EXPECT_EQ(ReadBytes(path).find("tIME"), std::string::npos);
        const CommandResult check = RunProgram("/usr/bin/pngcheck", Quote(path));
        EXPECT_EQ(check.status, 0) << check.out << check.err;
        EXPECT_EQ(DecodedElsewhere(path, scratch / "out.ppm"), std::pair(*source, *source));
        EXPECT_EQ(PictureOf(Load(path).get()), *source);
    }
}

} // namespace
