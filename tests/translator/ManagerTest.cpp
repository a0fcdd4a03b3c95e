// The translator manager and what every translator shares: probing order,
// lookup by extension, the format enumerator, load and save through the
// translator that made a bitmap, fixed option values, files of and for
// other programs, phases and cancelling.
#include "support/RastrelFormats.h"

#include <cstring>
#include <tuple>

using namespace rastrel::testing;

namespace {

using Manager = ScratchTest;
using Translators = ScratchTest;

std::string ProbedExtension(const std::string& path, HRESULT expected) {
    char extension[8] = "unset";
    ITranslator* translator = reinterpret_cast<ITranslator*>(&extension);
    EXPECT_EQ(NewManager()->FindTranslator(path.c_str(), sizeof extension, extension, &translator),
              expected);
    // Untouched when nothing was found.
    EXPECT_EQ(translator == reinterpret_cast<ITranslator*>(&extension), expected != S_OK);
    if (expected == S_OK) ComPtr<ITranslator>{translator}.Reset();
    return extension;
}

TEST_F(Manager, ProbesInTableOrder) {
    EXPECT_EQ(ProbedExtension(kFixtures + "/pil-rgb24.bmp", S_OK), "BMP");
    EXPECT_EQ(ProbedExtension(kFixtures + "/pil-rgb24.tga", S_OK), "TGA");
    // Both probes accept it (third byte 2, information header size 40): the
    // earlier row wins.
    WriteBytes(scratch / "both", "BM\x02" + std::string(11, '\0') + '\x28' + std::string(45, '\0'));
    EXPECT_EQ(ProbedExtension(scratch / "both", S_OK), "BMP");
    WriteBytes(scratch / "text", "hello world text...\n");
    EXPECT_EQ(ProbedExtension(scratch / "text", S_FALSE), "unset");
    EXPECT_EQ(ProbedExtension(scratch / "missing", E_FAIL), "unset");

    Load(scratch / "text", 0x400, S_FALSE);
}

// That "BMP" and "TGA" find their own translators the formats' tests show.
TEST_F(Manager, ExtensionLookupIsExact) {
    auto manager = NewManager();
    // Formats without a translator in this build answer like unknown ones.
    for (const char* extension : {"tga", ".TGA", "Bmp", "png", "jpg", "tif", ".PCX", "TIFF", ""}) {
        ITranslator* translator = reinterpret_cast<ITranslator*>(&extension);
        EXPECT_EQ(manager->TranslatorForExtension(extension, &translator), S_FALSE) << extension;
        EXPECT_EQ(translator, reinterpret_cast<ITranslator*>(&extension)); // untouched
    }
}

TEST_F(Manager, EnumeratorsListTheTableRows) {
    auto manager = NewManager();
    // The load formats are what the command-line tool lists; the save
    // formats are the same rows.
    ComPtr<IFormatEnumerator> formats, clone;
    ASSERT_EQ(manager->EnumerateSaveFormats(&formats), S_OK);
    char extension[8], description[40];
    std::vector<std::string> rows;
    while (formats->Next(sizeof extension, sizeof description, extension, description) == S_OK)
        rows.push_back(std::string(extension) + "=" + description);
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "BMP=Windows Bitmap", "JPG=JPEG", "PCX=ZSoft PCX", "TIF=Aldus TIFF",
                        "PNG=Portable Network Graphic Format", "TGA=Truevision Targa"}));
    EXPECT_EQ(formats->Reset(), S_OK);
    EXPECT_EQ(formats->Skip(7), S_FALSE); // and at the end
    EXPECT_EQ(formats->Next(8, 40, extension, description), S_FALSE);
    EXPECT_EQ(formats->Reset(), S_OK);
    EXPECT_EQ(formats->Skip(0), S_OK);
    EXPECT_EQ(formats->Skip(1), S_OK);
    ASSERT_EQ(formats->Clone(&clone), S_OK);
    EXPECT_EQ(formats->Clone(nullptr), E_INVALIDARG);
    // A cut copy has no terminator.
    std::memset(extension, 'x', sizeof extension);
    ASSERT_EQ(clone->Next(2, 40, extension, description), S_OK);
    EXPECT_EQ(std::pair(std::string(extension, 3), std::string(description)),
              std::pair(std::string("JPx"), std::string("JPEG")));
    EXPECT_EQ(formats->Next(8, 40, extension, description), S_OK);
    EXPECT_EQ(clone->Skip(static_cast<ULONG>(rows.size()) - 2), S_OK);
    EXPECT_EQ(clone->Next(8, 40, extension, description), S_FALSE);
}

TEST_F(Manager, SavesWithTheTranslatorThatLoaded) {
    auto manager = NewManager();
    ComPtr<IBitmapImage> bitmap;
    ComPtr<ITranslator> used;
    ASSERT_EQ(manager->Load((kFixtures + "/pil-rgb24.tga").c_str(), 0x400, &bitmap, nullptr, &used),
              S_OK);
    char extension[4]{};
    used->GetExtension(4, extension);
    EXPECT_STREQ(extension, "TGA");
    const std::string out = scratch / "saved.any";
    ASSERT_EQ(manager->Save(out.c_str(), bitmap.get(), nullptr), S_OK);
    EXPECT_EQ(ProbedExtension(out, S_OK), "TGA");

    // A bitmap the client made has no translator.
    EXPECT_EQ(manager->Save(out.c_str(), NewBitmap(4, 4, 0x400).get(), nullptr), E_INVALIDARG);
}

TEST_F(Manager, ProgressSinkOfTheManagerReachesItsTranslators) {
    CountingSink sink; // outlives the manager and translator that keep it
    auto manager = NewManager();
    EXPECT_EQ(manager->SetProgressSink(nullptr), S_OK);
    EXPECT_EQ(manager->SetProgressSink(&sink), S_OK);
    ComPtr<ITranslator> translator;
    ASSERT_EQ(manager->TranslatorForExtension("BMP", &translator), S_OK);
    ComPtr<IBitmapImage> bitmap;
    ASSERT_EQ(translator->Load((kFixtures + "/pil-rgb24.bmp").c_str(), 0x400, &bitmap, nullptr),
              S_OK);
    EXPECT_EQ(std::pair(sink.records.size(), sink.begins), std::pair(std::size_t{23}, 1));
}

// Targa compresses or not; the bitmap translator takes any compression and
// keeps none.
TEST_F(Manager, TranslatorOptionsHaveEachFormatsValues) {
    // Extension, value 3, value 8, queries 7 and 9, compression levels, the
    // answers to compression 1 and 2 and the compression kept after them.
    const std::tuple<const char*, LONG, LONG, HRESULT, HRESULT, WORD, HRESULT, HRESULT, WORD>
        rows[] = {{"BMP", 61, 13, S_OK, S_FALSE, 0, S_OK, S_OK, 0},
                  {"PCX", 24, 8, S_OK, S_FALSE, 0, S_FALSE, S_FALSE, 0},
                  {"TIF", 24, 8, S_OK, S_FALSE, 0, S_FALSE, S_FALSE, 0},
                  {"TGA", 24, 0, S_FALSE, S_OK, 2, S_OK, S_FALSE, 1}};
    for (const auto& [extension, value3, value8, query7, query9, levels, answer1, answer2, kept] :
         rows) {
        auto translator = TranslatorFor(extension);
        auto options = As<ITranslatorOptions>(translator.get(), IID_ITranslatorOptions);
        LONG got3 = 0, got8 = 0, count = 0;
        WORD gotLevels = 7, compression = 7;
        options->GetValue3(&got3);
        options->GetValue8(&got8);
        options->GetCount(&count);
        options->GetCompressionLevels(&gotLevels);
        options->GetCompression(&compression);
        EXPECT_EQ(std::tuple(translator->CanLoad(), translator->CanSave(), translator->Reserved(),
                             got3, got8, count, options->Query7(), options->Query9(),
                             options->Query10(), gotLevels, compression),
                  std::tuple(S_OK, S_OK, E_NOTIMPL, value3, value8, 1, query7, query9, S_FALSE,
                             levels, WORD{0}))
            << extension;
        EXPECT_EQ(std::tuple(options->SetCount(1), options->SetCount(2), options->SetSaveDepth(0),
                             options->SetSaveDepth(24)),
                  std::tuple(S_OK, E_FAIL, S_FALSE, S_OK));
        const HRESULT one = options->SetCompression(1), two = options->SetCompression(2);
        options->GetCompression(&compression);
        EXPECT_EQ(std::tuple(one, two, compression), std::tuple(answer1, answer2, kept));
    }
}

TEST_F(Translators, FilesOfOtherProgramsLoadToTheirPixels) {
    const std::vector<std::string> names = Fixtures();
    ASSERT_GE(names.size(), 57u);
    for (const std::string& name : names) {
        auto bitmap = Load(kFixtures + "/" + name);
        ASSERT_TRUE(bitmap) << name;
        EXPECT_EQ(PictureOf(bitmap.get()), ReferencePicture(kFixtures + "/" + name)) << name;
    }
}

TEST_F(Translators, FilesWeWriteOpenInPillowAndImageMagick) {
    const RgbPicture rgb = ReadPpm(kFixtures + "/pil-rgb24.bmp.ppm");
    const RgbPicture few = ReadPpm(kFixtures + "/netpbm-palette4.bmp.ppm");
    const RgbPicture two = ReadPpm(kFixtures + "/pil-mono1.bmp.ppm");
    // Extension, picture, the format it is saved from, save depth and
    // compression. Targa plain and run-length, and from a palette bitmap,
    // converted first; bitmap files of 24 bits from 0x400, 32 from 0x800, 8
    // from a palette bitmap, 4 and 1 made by the save depth from a picture
    // of few colours.
    const std::tuple<const char*, const RgbPicture*, DWORD, LONG, WORD> cases[] = {
        {"TGA", &rgb, 0x400, 0, 0},
        {"TGA", &rgb, 0x400, 0, 1},
        {"TGA", &few, 0x4000, 0, 0},
        {"BMP", &rgb, 0x400, 0, 0},
        {"BMP", &rgb, 0x800, 0, 0},
        {"BMP", &few, 0x4000, 0, 0},
        {"BMP", &few, 0x400, 4, 0},
        {"BMP", &two, 0x400, 1, 0},
        // PCX of 24 bits, 8 from a palette bitmap and by the save depth;
        // TIFF of 24 bits, 8 with a colour map, 8 of grey from a 0x1 bitmap.
        {"PCX", &rgb, 0x400, 0, 0},
        {"PCX", &few, 0x4000, 0, 0},
        {"PCX", &few, 0x400, 8, 0},
        {"TIF", &rgb, 0x400, 0, 0},
        {"TIF", &few, 0x4000, 0, 0},
        {"TIF", &two, 0x400, 8, 0}};
    for (const auto& [extension, picture, format, depth, compression] : cases) {
        SCOPED_TRACE(std::string(extension) + " " + std::to_string(format) + " depth " +
                     std::to_string(depth) + " compression " + std::to_string(compression));
        auto translator = TranslatorFor(extension);
        auto options = As<ITranslatorOptions>(translator.get(), IID_ITranslatorOptions);
        if (compression != 0) {
            EXPECT_EQ(options->SetCompression(compression), S_OK);
        }
        EXPECT_EQ(options->SetSaveDepth(depth), depth != 0 ? S_OK : S_FALSE);
        auto bitmap = BitmapOf(*picture);
        if (format != 0x400) {
            ComPtr<IBitmapImage> converted;
            ASSERT_EQ(bitmap->Convert(format, &converted, nullptr), S_OK);
            bitmap = converted;
        }
        const std::string path = scratch / (std::string("out.") + extension);
        ASSERT_EQ(translator->Save(path.c_str(), bitmap.get(), nullptr), S_OK);
        EXPECT_EQ(DecodedElsewhere(path, scratch / "out.ppm"), std::pair(*picture, *picture));
        auto again = Load(path);
        ASSERT_TRUE(again);
        EXPECT_EQ(PictureOf(again.get()), *picture);
    }
}

TEST_F(Translators, PhasesAndCancelling) {
    const auto source = BitmapOf(ReadPpm(kFixtures + "/pil-rgb24.bmp.ppm"));
    // Files of 23 rows in an 8-bit palette form.
    for (const char* extension : {"TGA", "BMP"}) {
        SCOPED_TRACE(extension);
        const std::string file =
            kFixtures + (extension == std::string("TGA") ? "/pil-grey8.tga" : "/pil-palette8.bmp");
        auto translator = TranslatorFor(extension);
        // The file's own format takes one phase, a conversion one more.
        for (auto [format, phases] : {std::pair<DWORD, LONG>{0x4000, 1}, {0x400, 2}}) {
            CountingSink sink;
            ComPtr<IBitmapImage> bitmap;
            ASSERT_EQ(translator->Load(file.c_str(), format, &bitmap, &sink), S_OK);
            ASSERT_EQ(sink.records.size(), static_cast<std::size_t>(23 * phases));
            EXPECT_EQ(std::tuple(sink.phases, sink.records.front().total, sink.begins, sink.ends),
                      std::tuple(std::vector<LONG>{phases}, 23, 1, 1));
            // The conversion's records carry the whole load's phases too.
            const LONG announced = phases;
            EXPECT_EQ(std::count_if(sink.records.begin(), sink.records.end(),
                                    [&](const ProgressRecord& r) { return r.phases != announced; }),
                      0);
        }
        // Cancelled while reading, or in the conversion after the rows were read.
        for (long at : {1, 24}) {
            CountingSink cancel(at);
            ComPtr<IBitmapImage> bitmap;
            EXPECT_EQ(translator->Load(file.c_str(), 0x400, &bitmap, &cancel), E_ABORT) << at;
            EXPECT_EQ(std::pair(bool(bitmap), cancel.ends), std::pair(false, 1));
        }
        // A cancelled save leaves no file.
        const std::string out = scratch / (std::string("cancelled.") + extension);
        CountingSink cancelSave(1);
        EXPECT_EQ(translator->Save(out.c_str(), source.get(), &cancelSave), E_ABORT);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

} // namespace
