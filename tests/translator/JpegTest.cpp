// The JPEG translator and its codec: files of other programs against
// djpeg's decoding, files refused, damaged files, and the files a save
// writes against djpeg, Pillow, ImageMagick and jpegtran.
#include "support/RastrelFormats.h"

#include <cmath>
#include <tuple>

using namespace rastrel::testing;

namespace {

struct Difference {
    int largest = 0;
    double psnr = 0;
};

Difference Compare(const RgbPicture& a, const RgbPicture& b) {
    Difference d;
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return {256, 0};
    double squares = 0;
    for (std::size_t i = 0; i < a.rgb.size(); ++i) {
        const int e = std::abs(int(a.rgb[i]) - int(b.rgb[i]));
        d.largest = std::max(d.largest, e);
        squares += double(e) * e;
    }
    const double mse = squares / double(a.rgb.size());
    d.psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
    return d;
}

// The bytes of a file's first segment with this marker, from the marker on.
std::vector<BYTE> Segment(const std::vector<BYTE>& file, BYTE marker) {
    for (std::size_t at = 2; at + 4 <= file.size();) {
        const std::size_t length = file[at + 2] << 8 | file[at + 3];
        if (file[at + 1] == marker) return {file.begin() + at, file.begin() + at + 2 + length};
        if (file[at + 1] == 0xDA) break;
        at += 2 + length;
    }
    return {};
}

// The offset of a file's first segment with this marker.
std::size_t Find(const std::vector<BYTE>& file, BYTE marker) {
    for (std::size_t at = 2; at + 4 <= file.size();) {
        if (file[at + 1] == marker) return at;
        at += 2 + (file[at + 2] << 8 | file[at + 3]);
    }
    return 0;
}

// The pixels djpeg decodes, repeating chroma as our reader does.
RgbPicture Djpeg(const std::string& path, const std::string& ppm) {
    const CommandResult result =
        RunShell("/usr/bin/djpeg -dct float -nosmooth -ppm " + Quote(path) + " > " + Quote(ppm));
    EXPECT_EQ(result.status, 0) << result.err;
    return ReadPpm(ppm);
}

class Jpeg : public ScratchTest {
protected:
    std::string Fixture(const std::string& name) { return kFixtures + "/" + name; }
    HRESULT LoadBytes(const std::vector<BYTE>& bytes, ComPtr<IBitmapImage>& bitmap) {
        const std::string path = scratch / "file.jpg";
        WriteFile(path, bytes);
        return TranslatorFor("JPG")->Load(path.c_str(), 0x400, &bitmap, nullptr);
    }
    std::string Save(const RgbPicture& picture, WORD quality, const std::string& name = "out.jpg") {
        auto translator = TranslatorFor("JPG");
        EXPECT_EQ(As<ITranslatorOptions>(translator.get(), IID_ITranslatorOptions)
                      ->SetCompression(quality),
                  S_OK);
        const std::string path = scratch / name;
        EXPECT_EQ(translator->Save(path.c_str(), BitmapOf(picture).get(), nullptr), S_OK);
        return path;
    }
};

// cjpeg's qualities and samplings, restart intervals, optimised tables and
// grey files, Pillow's and ImageMagick's files.
TEST_F(Jpeg, FilesOfOtherProgramsDecodeAsDjpegDoes) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kFixtures)) {
        const std::string name = entry.path().filename();
        if (!name.ends_with(".jpg") || !std::filesystem::exists(entry.path().string() + ".ppm"))
            continue;
        ++files;
        auto bitmap = Load(entry.path());
        ASSERT_TRUE(bitmap) << name;
        const Difference d =
            Compare(PictureOf(bitmap.get()), ReadPpm(entry.path().string() + ".ppm"));
        EXPECT_LE(d.largest, 1) << name;
        EXPECT_GE(d.psnr, 50) << name;
    }
    EXPECT_GE(files, 12);
}

// Grey files load into a grey palette of their own; a conversion makes
// the format asked for.
TEST_F(Jpeg, GreyFilesLoadAsGreyLevels) {
    for (auto [format, phases] : {std::pair<DWORD, LONG>{0x4000, 1}, {0x400, 2}}) {
        CountingSink sink;
        ComPtr<IBitmapImage> bitmap;
        ASSERT_EQ(
            TranslatorFor("JPG")->Load(Fixture("cjpeg-grey.jpg").c_str(), format, &bitmap, &sink),
            S_OK);
        EXPECT_EQ(std::tuple(ImageOf(bitmap.get()).format, sink.phases),
                  std::tuple(format, std::vector<LONG>{phases}));
    }
    EXPECT_EQ(PaletteOf(Load(Fixture("cjpeg-grey.jpg"), 0x4000).get())[200].rgbRed, 200);
}

TEST_F(Jpeg, FilesTheCodecDoesNotTake) {
    auto translator = TranslatorFor("JPG");
    // Progressive and arithmetic-coded files are JPEG files, but not loaded.
    for (const char* name : {"cjpeg-progressive.jpg", "cjpeg-arithmetic.jpg"}) {
        EXPECT_EQ(translator->Probe(Fixture(name).c_str()), S_OK) << name;
        ComPtr<IBitmapImage> bitmap;
        EXPECT_EQ(translator->Load(Fixture(name).c_str(), 0x400, &bitmap, nullptr), E_FAIL);
        EXPECT_FALSE(bitmap);
    }
    // An application segment 0 that is not JFIF: not ours; none at all: ours.
    std::vector<BYTE> file = ReadFile(Fixture("cjpeg-q75-2x2.jpg"));
    const std::size_t app0 = Find(file, 0xE0);
    ASSERT_EQ(app0, 2u);
    file[app0 + 4] = 'X';
    WriteFile(scratch / "other.jpg", file);
    EXPECT_EQ(translator->Probe((scratch / "other.jpg").c_str()), S_FALSE);
    file.erase(file.begin() + 2, file.begin() + 2 + 2 + (file[4] << 8 | file[5]));
    ComPtr<IBitmapImage> bitmap;
    EXPECT_EQ(LoadBytes(file, bitmap), S_OK);
    EXPECT_EQ(translator->Probe(Fixture("pil-rgb8.png").c_str()), S_FALSE);
    EXPECT_EQ(translator->Probe((scratch / "missing.jpg").c_str()), E_FAIL);
}

TEST_F(Jpeg, DamagedFilesFailWithoutABitmap) {
    const std::vector<BYTE> good = ReadFile(Fixture("cjpeg-restart2.jpg"));
    const std::size_t frame = Find(good, 0xC0), huffman = Find(good, 0xC4), scan = Find(good, 0xDA);
    ASSERT_TRUE(frame && huffman && scan);
    auto changed = [&](std::size_t at, BYTE value) {
        std::vector<BYTE> bytes = good;
        bytes[at] = value;
        return bytes;
    };
    auto twoBytes = [&](std::size_t at) {
        std::vector<BYTE> bytes = good;
        bytes[at] = bytes[at + 1] = 0;
        return bytes;
    };
    // Scan data from the second restart interval on.
    std::size_t restart = scan + 2;
    while (!(good[restart] == 0xFF && good[restart + 1] == 0xD1))
        ++restart;
    std::vector<BYTE> scanFirst = good;
    std::rotate(scanFirst.begin() + frame, scanFirst.begin() + scan,
                scanFirst.begin() + scan + 2 + (good[scan + 2] << 8 | good[scan + 3]));
    const std::tuple<const char*, std::vector<BYTE>> cases[] = {
        {"entropy data cut short", {good.begin(), good.begin() + (scan + good.size()) / 2}},
        {"restart marker lost", changed(restart + 1, 0x00)},
        {"height 0", twoBytes(frame + 5)},
        {"width 0", twoBytes(frame + 7)},
        {"luminance factors 4 x 4", changed(frame + 11, 0x44)},
        {"a factor of 0", changed(frame + 11, 0x20)},
        {"quantisation table 5", changed(frame + 12, 5)},
        {"more codes than lengths hold", changed(huffman + 5, 3)},
        {"precision 12", changed(frame + 4, 12)},
        {"two components", changed(frame + 9, 2)},
        {"scan before the frame", scanFirst},
        {"end of image before the scan", changed(frame + 1, 0xD9)}};
    for (const auto& [what, bytes] : cases) {
        ComPtr<IBitmapImage> bitmap;
        EXPECT_EQ(LoadBytes(bytes, bitmap), E_FAIL) << what;
        EXPECT_FALSE(bitmap) << what;
    }
}

// The quantisation tables scale Annex K's as cjpeg's do: about half at
// quality 75, all 1 at 100, above 255 at 10 (16-bit tables, extended
// sequential frame).
TEST_F(Jpeg, QualityScalesTheTablesAsCjpegDoes) {
    const RgbPicture picture = ReadPpm(Fixture("pil-rgb24.bmp.ppm"));
    const std::string ppm = scratch / "picture.ppm";
    WriteFile(ppm, ReadFile(Fixture("pil-rgb24.bmp.ppm")));
    for (int quality : {10, 50, 75, 100}) {
        const std::vector<BYTE> ours = ReadFile(Save(picture, WORD(quality)));
        const std::string theirs = scratch / "cjpeg.jpg";
        ASSERT_EQ(RunShell("/usr/bin/cjpeg -quality " + std::to_string(quality) + " " + Quote(ppm) +
                           " > " + Quote(theirs))
                      .status,
                  0);
        const std::vector<BYTE> reference = ReadFile(theirs);
        EXPECT_EQ(Segment(ours, 0xDB), Segment(reference, 0xDB)) << quality;
        EXPECT_EQ(Find(ours, 0xC1) != 0, quality == 10) << quality;
        EXPECT_EQ(Find(reference, 0xC1) != 0, quality == 10) << quality;
    }
    EXPECT_EQ(Segment(ReadFile(Save(picture, 100)), 0xDB)[5], 1);
}

// What we write is baseline JFIF that djpeg, Pillow, ImageMagick and our
// reader decode alike, close to the picture for the quality, and that
// jpegtran copies.
TEST_F(Jpeg, SavedFilesDecodeElsewhereAsTheyDoHere) {
    const std::string source = Fixture("cjpeg-q85-1x2.jpg.ppm");
    const RgbPicture photo = ReadPpm(source);
    for (int quality : {95, 75, 30}) {
        SCOPED_TRACE(quality);
        // The error to expect: cjpeg's at the same quality, within a decibel.
        const std::string reference = scratch / "cjpeg.jpg";
        RunShell("/usr/bin/cjpeg -quality " + std::to_string(quality) + " " + Quote(source) +
                 " > " + Quote(reference));
        const double least = Compare(Djpeg(reference, scratch / "cjpeg.ppm"), photo).psnr - 1;
        const std::string path = Save(photo, WORD(quality));
        const std::vector<BYTE> file = ReadFile(path);
        ASSERT_GT(file.size(), 20u);
        EXPECT_EQ(std::vector<BYTE>(file.begin(), file.begin() + 11),
                  (std::vector<BYTE>{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0}));
        EXPECT_EQ(std::vector<BYTE>(file.end() - 2, file.end()), (std::vector<BYTE>{0xFF, 0xD9}));
        auto ours = Load(path);
        ASSERT_TRUE(ours);
        const RgbPicture here = PictureOf(ours.get());
        EXPECT_GE(Compare(here, photo).psnr, least);
        const Difference byDjpeg = Compare(here, Djpeg(path, scratch / "djpeg.ppm"));
        EXPECT_LE(byDjpeg.largest, 1);
        const auto [pillow, magick] = DecodedElsewhere(path, scratch / "elsewhere.ppm");
        // They interpolate chroma where djpeg -nosmooth and we repeat it.
        EXPECT_GE(Compare(pillow, photo).psnr, least - 2);
        EXPECT_GE(Compare(magick, photo).psnr, least - 2);
        const CommandResult copied = RunShell("/usr/bin/jpegtran -copy none " + Quote(path) +
                                              " > " + Quote(scratch / "copy.jpg"));
        EXPECT_EQ(std::pair(copied.status, copied.err), std::pair(0, std::string()));
    }
    // One pixel: one unit of four luminance and two chrominance blocks.
    const RgbPicture pixel{1, 1, {200, 30, 90}};
    const std::string path = Save(pixel, 95, "pixel.jpg");
    EXPECT_LE(Compare(Djpeg(path, scratch / "pixel.ppm"), pixel).largest, 3);
    EXPECT_LE(Compare(PictureOf(Load(path).get()), pixel).largest, 3);
    EXPECT_EQ(Segment(ReadFile(path), 0xC0)[11], 0x22);
}

TEST_F(Jpeg, OptionsProgressAndCancelling) {
    auto translator = TranslatorFor("JPG");
    auto options = As<ITranslatorOptions>(translator.get(), IID_ITranslatorOptions);
    WORD quality = 0, levels = 0;
    options->GetCompression(&quality);
    options->GetCompressionLevels(&levels);
    EXPECT_EQ(std::tuple(quality, levels, options->Query9(), options->Query10()),
              std::tuple(75, 101, S_OK, S_OK));
    EXPECT_EQ(options->SetCompression(101), S_FALSE);
    EXPECT_EQ(options->SetCompression(5), S_OK);
    options->GetCompression(&quality);
    EXPECT_EQ(quality, 6);

    // 23 rows in units of 16: steps at rows 0 and 16 and once at the end.
    CountingSink sink;
    ComPtr<IBitmapImage> bitmap;
    ASSERT_EQ(translator->Load(Fixture("cjpeg-q75-2x2.jpg").c_str(), 0x400, &bitmap, &sink), S_OK);
    ASSERT_EQ(sink.records.size(), 3u);
    EXPECT_EQ(std::tuple(sink.records[1].step, sink.records[2].step, sink.records[0].total),
              std::tuple(16, 23, 23));
    for (long at : {1L, 3L}) {
        CountingSink cancel(at);
        ComPtr<IBitmapImage> cancelled;
        EXPECT_EQ(
            translator->Load(Fixture("cjpeg-q75-2x2.jpg").c_str(), 0x400, &cancelled, &cancel),
            E_ABORT);
        EXPECT_FALSE(cancelled);
    }
    // Cancelled on the first unit row or at the end, a save leaves the file
    // it would replace, and nothing beside it.
    const std::string out = scratch / "cancelled.jpg";
    WriteFile(out, {1, 2, 3});
    const auto before = std::distance(std::filesystem::directory_iterator(scratch.path()), {});
    for (long at : {1L, 3L}) {
        CountingSink cancel(at);
        EXPECT_EQ(translator->Save(out.c_str(), bitmap.get(), &cancel), E_ABORT);
        EXPECT_EQ(ReadFile(out), (std::vector<BYTE>{1, 2, 3}));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), before);
    }
}

} // namespace
