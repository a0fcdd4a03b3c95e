#include "support/RastrelTesting.h"

#include <tuple>

using namespace rastrel::testing;

namespace {

TEST(Bitmap, CreateChecksSizesAndFormats) {
    auto bitmap = NewBitmap();
    EXPECT_EQ(bitmap->Create(720, 485, PF_YUV16), E_INVALIDARG);
    EXPECT_EQ(bitmap->Create(720, 486, PF_YUV16), S_OK);
    EXPECT_EQ(PixelsOf(bitmap.get()).size(), 699840u);
    const BitmapImage image = ImageOf(bitmap.get());
    const BITMAPINFOHEADER expected = {40, 720, 486, 1, 16, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(image.header, &expected, sizeof expected), 0);
    // A refused Create keeps the image there was.
    EXPECT_EQ(bitmap->Create(0, 10, PF_RGB24), E_INVALIDARG);
    EXPECT_EQ(bitmap->Create(-5, 10, PF_RGB24), E_INVALIDARG);
    EXPECT_EQ(bitmap->Create(10, 10, 0x3), E_INVALIDARG);
    // One row past the 1 GiB pixel limit, refused before allocating.
    EXPECT_EQ(bitmap->Create(16384, 21846, PF_RGB24), E_FAIL);
    EXPECT_EQ(ImageOf(bitmap.get()).pixels, image.pixels);
}

TEST(Bitmap, SizesOfEveryFormat) {
    // Format, bits, header, pixel, row and palette bytes of 7 x 4 pixels:
    // DIB rows padded to 4 bytes, YUV rows not.
    const std::tuple<DWORD, WORD, DWORD, DWORD, DWORD, DWORD> table[] = {
        {0x1, 8, 1064, 32, 8, 0},     {0x2, 10, 40, 64, 16, 0},      {0x4, 16, 40, 56, 0, 0},
        {0x8, 24, 40, 84, 0, 0},      {0x10, 20, 40, 84, 0, 0},      {0x20, 30, 40, 112, 0, 0},
        {0x40, 24, 40, 84, 0, 0},     {0x80, 32, 40, 112, 0, 0},     {0x100, 30, 40, 168, 0, 0},
        {0x200, 40, 40, 224, 0, 0},   {0x400, 24, 40, 96, 24, 0},    {0x800, 32, 40, 112, 28, 0},
        {0x1000, 30, 40, 176, 44, 0}, {0x2000, 40, 40, 224, 56, 0},  {0x4000, 8, 1064, 32, 8, 1024},
        {0x8000, 16, 40, 64, 16, 0},  {0x10000, 4, 1064, 16, 4, 64},
    };
    for (const auto& expected : table) {
        const DWORD format = std::get<0>(expected);
        auto bitmap = NewBitmap(7, 4, format);
        DWORD header = 0, pixels = 0, row = 12345, palette = 0;
        bitmap->GetHeaderSize(&header);
        bitmap->GetPixelBytes(&pixels);
        bitmap->GetRowBytes(&row);
        bitmap->GetPaletteBytes(&palette);
        EXPECT_EQ(std::tuple(format, ImageOf(bitmap.get()).header->biBitCount, header, pixels, row,
                             palette),
                  expected);
    }
    // Without an image: no bytes, and no row size written.
    auto empty = NewBitmap();
    DWORD header = 1, pixels = 1, row = 77;
    empty->GetHeaderSize(&header);
    empty->GetPixelBytes(&pixels);
    EXPECT_EQ(empty->GetRowBytes(&row), S_OK);
    EXPECT_EQ(std::tuple(header, pixels, row), std::tuple(0u, 0u, 77u));
}

TEST(Bitmap, AttachUsesTheCallersMemoryAndCloneCopiesIt) {
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD palette[256];
    } block{};
    block.header = {40, 3, 2, 1, 8, 0, 0, 0, 0, 0, 0};
    block.palette[5] = {1, 2, 3, 0};
    BYTE pixels[8] = {5, 5, 5, 0, 1, 2, 3, 0};
    auto bitmap = NewBitmap();
    EXPECT_EQ(bitmap->Attach(nullptr, PF_PALETTE8, pixels), E_INVALIDARG);
    ASSERT_EQ(bitmap->Attach(&block.header, PF_PALETTE8, pixels), S_OK);
    EXPECT_EQ(ImageOf(bitmap.get()).pixels, pixels);
    ComPtr<IBitmapImage> clone;
    ASSERT_EQ(bitmap->Clone(&clone), S_OK);
    const BitmapImage copy = ImageOf(clone.get());
    EXPECT_NE(copy.pixels, pixels);
    EXPECT_EQ(PixelsOf(clone.get()), std::vector(pixels, pixels + 8));
    EXPECT_EQ(std::memcmp(copy.header, &block, sizeof block), 0);
    pixels[0] = 9; // the attached bitmap sees the caller's change, the clone does not
    EXPECT_EQ(std::pair(ImageOf(bitmap.get()).pixels[0], copy.pixels[0]),
              std::pair(BYTE{9}, BYTE{5}));

    // A sixteen-colour palette is copied whole; nothing comes of no image.
    auto sixteen = NewBitmap(5, 3, PF_PALETTE4);
    PaletteOf(sixteen.get())[15] = {10, 20, 30, 0};
    ASSERT_EQ(sixteen->Clone(&clone), S_OK);
    EXPECT_EQ(PaletteOf(clone.get())[15].rgbRed, 30);
    auto raw = reinterpret_cast<IBitmapImage*>(0x1);
    EXPECT_EQ(NewBitmap()->Clone(&raw), S_OK);
    EXPECT_EQ(raw, reinterpret_cast<IBitmapImage*>(0x1));
}

TEST(Bitmap, HoldsItsTranslator) {
    auto first = Make<ITranslator>(CLSID_BmpTranslator, IID_ITranslator);
    auto second = Make<ITranslator>(CLSID_TgaTranslator, IID_ITranslator);
    auto references = [](ITranslator* translator) {
        translator->AddRef();
        return translator->Release();
    };
    auto bitmap = NewBitmap();
    ITranslator* got = reinterpret_cast<ITranslator*>(0x1);
    EXPECT_EQ(bitmap->GetTranslator(&got), S_OK);
    EXPECT_EQ(got, nullptr);
    bitmap->SetTranslator(first.get());
    EXPECT_EQ(references(first.get()), 2u);
    bitmap->SetTranslator(second.get());
    EXPECT_EQ(bitmap->GetTranslator(&got), S_OK);
    EXPECT_EQ(std::tuple(references(first.get()), got, references(second.get())),
              std::tuple(1u, second.get(), 3u));
    got->Release();
    bitmap.Reset();
    EXPECT_EQ(references(second.get()), 1u);
}

TEST(Bitmap, InsertAlphaTakesOneBytePerSourcePixel) {
    auto target = NewBitmap(3, 2, PF_RGB32A);
    auto mask = NewBitmap(3, 2, PF_GREY8);
    const BYTE source[8] = {10, 11, 12, 0, 20, 21, 22, 0};
    std::memcpy(ImageOf(mask.get()).pixels, source, 8); // rows of 4 bytes
    auto operations = Make<IBitmapOperations>(CLSID_BitmapOperations, IID_IBitmapOperations);
    EXPECT_EQ(operations->InsertAlpha(nullptr, mask.get()), E_FAIL);
    EXPECT_EQ(operations->InsertAlpha(mask.get(), target.get()), E_FAIL); // target not 0x800
    ASSERT_EQ(operations->InsertAlpha(target.get(), mask.get()), S_OK);
    const BYTE* pixels = ImageOf(target.get()).pixels;
    EXPECT_EQ(std::tuple(pixels[3], pixels[11], pixels[12 + 7], pixels[0]),
              std::tuple(10, 12, 21, 0));
    // A smaller or wider-pixelled source would be read beyond its rows.
    EXPECT_EQ(target->InsertAlpha(NewBitmap(2, 2, PF_GREY8).get()), E_INVALIDARG);
    EXPECT_EQ(target->InsertAlpha(NewBitmap(3, 2, PF_RGB24).get()), E_INVALIDARG);
}

TEST(ConversionSettingsObject, ValuesAreModuleWide) {
    auto one = Make<IConversionSettings>(CLSID_ConversionSettings, IID_IConversionSettings);
    auto two = Make<IConversionSettings>(CLSID_ConversionSettings, IID_IConversionSettings);
    LONG mode = -1, palette = -1;
    EXPECT_EQ(one->SetMode(1), S_OK); // mode 1 switches the palette on
    two->GetMode(&mode);
    two->GetPaletteMode(&palette);
    EXPECT_EQ(std::pair(mode, palette), std::pair(1, 1));
    EXPECT_EQ(one->SetPaletteMode(0), S_OK);
    EXPECT_EQ(two->GetPaletteMode(&palette), S_OK);
    EXPECT_EQ(palette, 0);
    RGBQUAD entries[257] = {};
    EXPECT_EQ(one->SetPalette(entries, 257), E_INVALIDARG);
    EXPECT_EQ(one->SetPalette(nullptr, 3), E_INVALIDARG);
    EXPECT_EQ(one->ResetPalette(), S_OK);
    one->SetMode(0);
}

} // namespace
