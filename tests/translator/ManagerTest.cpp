// The translator manager: probing order, lookup by extension, the format
// enumerator, load and save through the translator that made a bitmap, and
// each translator's fixed option values.
#include "FileFormatSupport.h"

#include <cstring>

using namespace rastrel::testing;

namespace {

std::string ProbedExtension(const std::string& path, HRESULT expected) {
    auto manager = NewManager();
    char extension[8] = "unset";
    ITranslator* translator = reinterpret_cast<ITranslator*>(&extension);
    EXPECT_EQ(manager->FindTranslator(path.c_str(), sizeof extension, extension, &translator),
              expected);
    if (expected == S_OK)
        translator->Release();
    else
        EXPECT_EQ(translator, reinterpret_cast<ITranslator*>(&extension)); // untouched
    return extension;
}

TEST(Manager, ProbesInTableOrder) {
    Scratch scratch;
    EXPECT_EQ(ProbedExtension(kFixtures + "/pil-rgb24.bmp", S_OK), "BMP");
    EXPECT_EQ(ProbedExtension(kFixtures + "/pil-rgb24.tga", S_OK), "TGA");
    // Both probes accept it (third byte 2, information header size 40): the
    // earlier row wins.
    std::vector<BYTE> both(60, 0);
    both[0] = 'B';
    both[1] = 'M';
    both[2] = 2;
    both[14] = 40;
    WriteFile(scratch / "both", both);
    EXPECT_EQ(ProbedExtension(scratch / "both", S_OK), "BMP");
    WriteFile(scratch / "text",
              std::vector<BYTE>{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l',
                                'd', ' ', 't', 'e', 'x', 't', '.', '.', '.', '\n'});
    EXPECT_EQ(ProbedExtension(scratch / "text", S_FALSE), "unset");
    EXPECT_EQ(ProbedExtension(scratch / "missing", E_FAIL), "unset");

    auto manager = NewManager();
    IBitmapImage* bitmap = nullptr;
    EXPECT_EQ(manager->Load((scratch / "text").c_str(), 0x400, &bitmap, nullptr, nullptr), S_FALSE);
    EXPECT_EQ(bitmap, nullptr);
}

TEST(Manager, ExtensionLookupIsExact) {
    auto manager = NewManager();
    for (const char* extension : {"BMP", "TGA"}) {
        ITranslator* translator = nullptr;
        ASSERT_EQ(manager->TranslatorForExtension(extension, &translator), S_OK);
        char text[4]{};
        EXPECT_EQ(translator->GetExtension(sizeof text, text), S_OK);
        EXPECT_STREQ(text, extension);
        translator->Release();
    }
    // Formats without a translator in this build answer like unknown ones.
    for (const char* extension : {"tga", ".TGA", "Bmp", "PNG", "JPG", "TIF", "PCX", ""}) {
        ITranslator* translator = reinterpret_cast<ITranslator*>(&manager);
        EXPECT_EQ(manager->TranslatorForExtension(extension, &translator), S_FALSE) << extension;
        EXPECT_EQ(translator, reinterpret_cast<ITranslator*>(&manager));
    }
}

TEST(Manager, EnumeratorsListTheTableRows) {
    auto manager = NewManager();
    for (bool save : {false, true}) {
        IFormatEnumerator* raw = nullptr;
        ASSERT_EQ(save ? manager->EnumerateSaveFormats(&raw) : manager->EnumerateLoadFormats(&raw),
                  S_OK);
        Ref<IFormatEnumerator> formats(raw);
        char extension[8], description[40];
        std::vector<std::string> rows;
        while (formats->Next(sizeof extension, sizeof description, extension, description) == S_OK)
            rows.push_back(std::string(extension) + "=" + description);
        EXPECT_EQ(rows, (std::vector<std::string>{"BMP=Windows Bitmap", "TGA=Truevision Targa"}));
    }

    IFormatEnumerator* raw = nullptr;
    ASSERT_EQ(manager->EnumerateLoadFormats(&raw), S_OK);
    Ref<IFormatEnumerator> formats(raw);
    EXPECT_EQ(formats->Skip(7), S_FALSE);
    char extension[8], description[40];
    EXPECT_EQ(formats->Next(8, 40, extension, description), S_FALSE);
    EXPECT_EQ(formats->Reset(), S_OK);
    EXPECT_EQ(formats->Skip(0), S_OK);
    EXPECT_EQ(formats->Skip(1), S_OK);
    IFormatEnumerator* copy = nullptr;
    ASSERT_EQ(formats->Clone(&copy), S_OK);
    Ref<IFormatEnumerator> clone(copy);
    EXPECT_EQ(formats->Clone(nullptr), E_INVALIDARG);
    // A cut copy has no terminator.
    std::memset(extension, 'x', sizeof extension);
    ASSERT_EQ(clone->Next(2, 40, extension, description), S_OK);
    EXPECT_EQ(std::string(extension, 3), "TGx");
    EXPECT_STREQ(description, "Truevision Targa");
    EXPECT_EQ(formats->Next(8, 40, extension, description), S_OK);
    EXPECT_EQ(clone->Next(8, 40, extension, description), S_FALSE);
}

TEST(Manager, SavesWithTheTranslatorThatLoaded) {
    Scratch scratch;
    auto manager = NewManager();
    IBitmapImage* raw = nullptr;
    ITranslator* translator = nullptr;
    ASSERT_EQ(
        manager->Load((kFixtures + "/pil-rgb24.tga").c_str(), 0x400, &raw, nullptr, &translator),
        S_OK);
    Ref<IBitmapImage> bitmap(raw);
    Ref<ITranslator> used(translator);
    char extension[4]{};
    used->GetExtension(4, extension);
    EXPECT_STREQ(extension, "TGA");
    const std::string out = scratch / "saved.any";
    ASSERT_EQ(manager->Save(out.c_str(), bitmap.get(), nullptr), S_OK);
    EXPECT_EQ(ProbedExtension(out, S_OK), "TGA");

    // A bitmap the client made has no translator.
    auto own = NewBitmap(4, 4, 0x400);
    EXPECT_EQ(manager->Save(out.c_str(), own.get(), nullptr), E_INVALIDARG);
}

TEST(Manager, ProgressSinkOfTheManagerReachesItsTranslators) {
    CountingSink sink; // outlives the manager and translator that keep it
    auto manager = NewManager();
    EXPECT_EQ(manager->SetProgressSink(nullptr), S_OK);
    EXPECT_EQ(manager->SetProgressSink(&sink), S_OK);
    ITranslator* raw = nullptr;
    ASSERT_EQ(manager->TranslatorForExtension("BMP", &raw), S_OK);
    Ref<ITranslator> translator(raw);
    IBitmapImage* bitmap = nullptr;
    ASSERT_EQ(translator->Load((kFixtures + "/pil-rgb24.bmp").c_str(), 0x400, &bitmap, nullptr),
              S_OK);
    bitmap->Release();
    EXPECT_EQ(sink.records.size(), 23u);
    EXPECT_EQ(sink.begins, 1);
}

TEST(Manager, TranslatorOptionsHaveEachFormatsValues) {
    struct Expected {
        const char* extension;
        LONG value3, value8;
        HRESULT query7, query9, query10;
        WORD levels;
    };
    for (const Expected& e : {Expected{"BMP", 61, 13, S_OK, S_FALSE, S_FALSE, 0},
                              Expected{"TGA", 24, 0, S_FALSE, S_OK, S_FALSE, 2}}) {
        auto translator = TranslatorFor(e.extension);
        EXPECT_EQ(translator->CanLoad(), S_OK);
        EXPECT_EQ(translator->CanSave(), S_OK);
        EXPECT_EQ(translator->Reserved(), E_NOTIMPL);
        auto options = As<ITranslatorOptions>(translator.get(), IID_ITranslatorOptions);
        LONG value = 0;
        WORD word = 7;
        EXPECT_EQ(options->GetValue3(&value), S_OK);
        EXPECT_EQ(value, e.value3);
        EXPECT_EQ(options->GetValue8(&value), S_OK);
        EXPECT_EQ(value, e.value8);
        EXPECT_EQ(options->GetCount(&value), S_OK);
        EXPECT_EQ(value, 1);
        EXPECT_EQ(options->SetCount(1), S_OK);
        EXPECT_EQ(options->SetCount(2), E_FAIL);
        EXPECT_EQ(options->SetSaveDepth(0), S_FALSE);
        EXPECT_EQ(options->SetSaveDepth(24), S_OK);
        EXPECT_EQ(options->Query7(), e.query7);
        EXPECT_EQ(options->Query9(), e.query9);
        EXPECT_EQ(options->Query10(), e.query10);
        EXPECT_EQ(options->GetCompressionLevels(&word), S_OK);
        EXPECT_EQ(word, e.levels);
        EXPECT_EQ(options->GetCompression(&word), S_OK);
        EXPECT_EQ(word, 0);
    }
    auto tga = As<ITranslatorOptions>(TranslatorFor("TGA").get(), IID_ITranslatorOptions);
    WORD word = 0;
    EXPECT_EQ(tga->SetCompression(1), S_OK);
    EXPECT_EQ(tga->SetCompression(2), S_FALSE);
    tga->GetCompression(&word);
    EXPECT_EQ(word, 1);
    auto bmp = As<ITranslatorOptions>(TranslatorFor("BMP").get(), IID_ITranslatorOptions);
    EXPECT_EQ(bmp->SetCompression(50), S_OK);
    bmp->GetCompression(&word);
    EXPECT_EQ(word, 0);
}

} // namespace
