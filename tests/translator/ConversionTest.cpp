#include "support/RastrelTesting.h"

#include <set>
#include <tuple>

using namespace rastrel::testing;

namespace {

const DWORD kAllFormats[] = {0x1,   0x2,   0x4,   0x8,    0x10,   0x20,   0x40,   0x80,   0x100,
                             0x200, 0x400, 0x800, 0x1000, 0x2000, 0x4000, 0x8000, 0x10000};

ComPtr<IBitmapOperations> Operations() {
    return Make<IBitmapOperations>(CLSID_BitmapOperations, IID_IBitmapOperations);
}

// One row through the operations object; alpha bytes on either side as asked.
std::vector<BYTE> ToYuv(const std::vector<BYTE>& bgr, BOOL alphaOut = FALSE, BOOL alphaIn = FALSE) {
    const LONG width = static_cast<LONG>(bgr.size() / (alphaIn ? 4 : 3));
    std::vector<BYTE> yuv(width * (alphaOut ? 3 : 2));
    EXPECT_EQ(Operations()->RowToYuv(yuv.data(), alphaOut, bgr.data(), alphaIn, width), S_OK);
    return yuv;
}
// `width` pixels; bytes after them in `yuv` are not pixels of the row.
std::vector<BYTE> FromYuv(const std::vector<BYTE>& yuv, LONG width = 0, BOOL alphaOut = FALSE,
                          BOOL alphaIn = FALSE) {
    if (width == 0) width = static_cast<LONG>(yuv.size() / (alphaIn ? 3 : 2));
    std::vector<BYTE> bgr(width * (alphaOut ? 4 : 3));
    EXPECT_EQ(Operations()->RowFromYuv(bgr.data(), alphaOut, yuv.data(), alphaIn, width), S_OK);
    return bgr;
}

ComPtr<IBitmapImage> Convert(IBitmapImage* bitmap, DWORD format, HRESULT expected = S_OK,
                             IProgressSink* sink = nullptr) {
    ComPtr<IBitmapImage> converted;
    EXPECT_EQ(bitmap->Convert(format, &converted, sink), expected) << std::hex << format;
    return converted;
}

TEST(RowConversion, KnownColoursToYuvAndBack) {
    // Pairs of equal pixels: white, black, red (blue, green, red order).
    EXPECT_EQ(ToYuv({255, 255, 255, 255, 255, 255}), (std::vector<BYTE>{128, 235, 128, 235}));
    EXPECT_EQ(ToYuv({0, 0, 0, 0, 0, 0}), (std::vector<BYTE>{128, 16, 128, 16}));
    EXPECT_EQ(ToYuv({0, 0, 255, 0, 0, 255}), (std::vector<BYTE>{90, 82, 240, 82}));
    EXPECT_EQ(FromYuv({128, 16, 128, 16}), (std::vector<BYTE>(6, 0)));
    EXPECT_EQ(FromYuv({128, 235, 128, 235}), (std::vector<BYTE>(6, 255)));
}

TEST(RowConversion, APairKeepsItsFirstPixelsColourDifference) {
    // Red, then blue: the pair's Cb and Cr are red's; each pixel keeps its
    // own luminance.
    const auto mixed = ToYuv({0, 0, 255, 255, 0, 0}), red = ToYuv({0, 0, 255, 0, 0, 255});
    EXPECT_EQ(std::pair(mixed[0], mixed[2]), std::pair(red[0], red[2]));
    EXPECT_NE(mixed[3], red[3]);
}

TEST(RowConversion, RowEndsStayInsideTheRow) {
    // The last pair has no pair after it: whatever follows the row in memory
    // does not change it, and its second pixel has the pair's own colour.
    EXPECT_EQ(FromYuv({100, 50, 200, 60, 0, 0, 0, 0}, 2),
              FromYuv({100, 50, 200, 60, 255, 255, 255, 255}, 2));
    const auto out = FromYuv({100, 50, 200, 60}), same = FromYuv({100, 60, 200, 60});
    EXPECT_EQ(std::vector(out.begin() + 3, out.end()), std::vector(same.begin() + 3, same.end()));
    // A lone last pixel has its Cb (90) and the Cr of the pair before it.
    const auto three = FromYuv({100, 50, 200, 60, 90, 70}, 3), one = FromYuv({90, 70, 200, 70});
    EXPECT_EQ(std::vector(three.begin() + 6, three.end()),
              std::vector(one.begin(), one.begin() + 3));
}

TEST(RowConversion, ExtremeSamplesStayInRange) {
    // The fixed-point sums are largest at the ends of the sample ranges.
    const BYTE ends[] = {0, 16, 128, 235, 240, 255};
    for (BYTE y : ends)
        for (BYTE cb : ends)
            for (BYTE cr : ends)
                FromYuv({cb, y, cr, y});
    EXPECT_EQ(FromYuv({128, 0, 128, 0}), std::vector<BYTE>(6, 0));
    EXPECT_EQ(FromYuv({128, 255, 128, 255}), std::vector<BYTE>(6, 255));
}

TEST(RowConversion, AlphaAndQuads) {
    const std::vector<BYTE> bgra = {0, 0, 255, 7, 255, 255, 255, 9};
    const auto yuva = ToYuv(bgra, TRUE, TRUE);
    EXPECT_EQ(yuva, (std::vector<BYTE>{90, 82, 7, 240, 235, 9}));
    EXPECT_EQ(FromYuv(yuva, 0, TRUE, TRUE)[3], 7);
    EXPECT_EQ(ToYuv({0, 0, 255, 7, 255, 255}, TRUE)[2], 255); // opaque without alpha
    EXPECT_EQ(FromYuv({90, 82, 240, 235}, 0, TRUE)[3], 255);
    BYTE quad[8] = {};
    ASSERT_EQ(Operations()->RowToYuvQuad(bgra.data(), quad, 2), S_OK);
    EXPECT_EQ(std::vector<BYTE>(quad, quad + 8),
              (std::vector<BYTE>{82, 90, 240, 0, 235, 128, 128, 0}));
}

// How far a format may move an 8-bit colour sample on its way from and
// back to RGB: 5-bit truncation, studio-range YUV, grey's rounding at 10 bits.
int Tolerance(DWORD format) {
    if (format == 0x8000) return 7;
    if (format == 0x2) return 1;
    const std::set<DWORD> yuv = {0x4, 0x8, 0x10, 0x20, 0x40, 0x80, 0x100, 0x200};
    return yuv.count(format) ? 2 : 0;
}
bool HasAlpha(DWORD format) {
    return format == 0x8 || format == 0x20 || format == 0x80 || format == 0x200 ||
           format == 0x800 || format == 0x2000;
}

TEST(Convert, EveryFormatToEveryOtherKeepsThePicture) {
    Convert(NewBitmap().get(), PF_RGB24, E_FAIL); // no image
    Convert(NewBitmap(4, 2, PF_RGB24).get(), 0x3, E_INVALIDARG);
    // 16 colours, one a row (so the YUV pairs share theirs), and an alpha a
    // column.
    const LONG width = 6, height = 16;
    auto picture = NewBitmap(width, height, PF_RGB32A);
    const BYTE alphas[width] = {255, 0, 17, 128, 200, 99};
    BYTE colours[height][3];
    for (int y = 0; y < height; ++y) {
        const BYTE bgr[3] = {BYTE(y * 17), BYTE(255 - y * 13), BYTE((y * 91) % 256)};
        std::copy(bgr, bgr + 3, colours[y]);
        for (int x = 0; x < width; ++x) {
            BYTE* p = ImageOf(picture.get()).pixels + (y * width + x) * 4;
            std::copy(bgr, bgr + 3, p);
            p[3] = alphas[x];
        }
    }
    for (DWORD from : kAllFormats)
        for (DWORD to : kAllFormats) {
            SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to));
            auto in = from == PF_RGB32A ? picture : Convert(picture.get(), from);
            ASSERT_TRUE(in);
            if (from == to) Convert(in.get(), from, E_FAIL); // no conversion to its own format
            auto there = from == to ? in : Convert(in.get(), to);
            ASSERT_TRUE(there);
            const BitmapImage image = ImageOf(there.get());
            EXPECT_EQ(std::tuple(image.format, image.header->biWidth, image.header->biHeight),
                      std::tuple(to, width, height));
            auto back = to == PF_RGB32A ? there : Convert(there.get(), PF_RGB32A);
            const BYTE* seen = ImageOf(back.get()).pixels;
            const bool grey = from <= 0x2 || to <= 0x2;
            const int slack = Tolerance(from) + Tolerance(to);
            const bool keepsAlpha = HasAlpha(from) && HasAlpha(to);
            int worst = 0, alphaErrors = 0;
            for (int y = 0; y < height; ++y) {
                const BYTE* c = colours[y];
                const int luma = (299 * c[2] + 587 * c[1] + 114 * c[0] + 500) / 1000;
                for (int x = 0; x < width; ++x) {
                    const BYTE* p = seen + (y * width + x) * 4;
                    for (int k = 0; k < 3; ++k)
                        worst = std::max(worst, std::abs(p[k] - (grey ? luma : c[k])));
                    alphaErrors += p[3] != (keepsAlpha ? alphas[x] : 255);
                }
            }
            EXPECT_LE(worst, slack);
            EXPECT_EQ(alphaErrors, 0);
        }
}

TEST(Convert, LayoutsOfTheWideFormats) {
    // Blue 255, green 128, red 0, alpha 64 in every pixel: 10-bit 1023, 514,
    // 0, 257; Y 106 Cb 203 Cr 63 (10-bit 425, 814, 253). The bytes of the
    // first pixel pair of the formats whose layout is ours.
    auto pair = NewBitmap(2, 2, PF_RGB32A);
    for (int i = 0; i < 4; ++i)
        std::memcpy(ImageOf(pair.get()).pixels + 4 * i, "\xFF\x80\x00\x40", 4);
    const std::pair<DWORD, std::vector<BYTE>> table[] = {
        {0x1, {104, 104}},
        {0x2000, {0xFF, 3, 2, 2, 0, 0, 1, 1, 0xFF, 3, 2, 2, 0, 0, 1, 1}},
        // Cb | Y << 10 | A << 20, then Cr | Y << 10 | A << 20.
        {0x20, {0x2E, 0xA7, 0x16, 0x10, 0xFD, 0xA4, 0x16, 0x10}},
        {0x80, {106, 203, 63, 64, 106, 203, 63, 64}},
        {0x100, {169, 1, 46, 3, 253, 0, 169, 1, 46, 3, 253, 0}}};
    for (const auto& [format, expected] : table) {
        const auto pixels = PixelsOf(Convert(pair.get(), format).get());
        EXPECT_EQ(std::vector(pixels.begin(), pixels.begin() + long(expected.size())), expected)
            << std::hex << format;
    }
}

TEST(Convert, LosslessPairsRoundTripExactly) {
    // 24/32 and 16/24 bits within a family, the palette formats through
    // their expansion (at most 256 or 16 colours), the 16-bit form.
    const std::pair<DWORD, DWORD> trips[] = {{0x400, 0x800},   {0x4, 0x8},      {0x4, 0x40},
                                             {0x8000, 0x400},  {0x8000, 0x800}, {0x4000, 0x400},
                                             {0x10000, 0x400}, {0x4000, 0x800}};
    for (const auto& [format, via] : trips) {
        auto bitmap = NewBitmap(13, 6, format);
        FillRandom(bitmap.get(), via);
        if (format == 0x8000) // 15 bits used
            for (std::size_t i = 1; i < 6 * 28; i += 2)
                ImageOf(bitmap.get()).pixels[i] &= 0x7F;
        if (format == 0x4000 || format == 0x10000) {
            RGBQUAD* palette = PaletteOf(bitmap.get());
            for (int i = 0; i < 256; ++i)
                palette[i] = {BYTE(i), BYTE(255 - i), BYTE(i * 7), 0};
        }
        auto back = Convert(Convert(bitmap.get(), via).get(), format);
        if (format == 0x4000 || format == 0x10000) {
            // The palette may be ordered differently; the colours are the same.
            auto a = Convert(bitmap.get(), 0x400), b = Convert(back.get(), 0x400);
            EXPECT_EQ(PixelsOf(a.get()), PixelsOf(b.get())) << std::hex << format;
        } else {
            std::vector<BYTE> original = PixelsOf(bitmap.get()), result = PixelsOf(back.get());
            if (format == 0x400 || format == 0x8000) {
                // Row padding is not pixel data.
                const std::size_t row = format == 0x400 ? 40 : 28,
                                  used = 13 * (format == 0x400 ? 3 : 2);
                for (std::size_t y = 0; y < 6; ++y)
                    for (std::size_t x = used; x < row; ++x)
                        original[y * row + x] = result[y * row + x] = 0;
            }
            EXPECT_EQ(result, original) << std::hex << format << " via " << via;
        }
    }
}

TEST(Convert, DepthChangesOfTheFormatsTable) {
    auto rgb16 = NewBitmap(1, 1, PF_RGB16);
    ImageOf(rgb16.get()).pixels[0] = 0xFF;
    ImageOf(rgb16.get()).pixels[1] = 0x7F; // 0x7FFF
    EXPECT_EQ(PixelsOf(Convert(rgb16.get(), PF_RGB24).get()),
              (std::vector<BYTE>{248, 248, 248, 0}));
    EXPECT_EQ(PixelsOf(Convert(rgb16.get(), PF_RGB32A).get()),
              (std::vector<BYTE>{248, 248, 248, 255}));
    EXPECT_EQ(PixelsOf(Convert(NewBitmap(2, 2, PF_YUV16).get(), PF_YUV16A).get())[2], 255);
}

TEST(Convert, DitheredReductionTo16Bits) {
    auto settings = Make<IConversionSettings>(CLSID_ConversionSettings, IID_IConversionSettings);
    auto rgb = NewBitmap(64, 2, PF_RGB24);
    std::memset(ImageOf(rgb.get()).pixels, 252, 64 * 3 * 2);
    EXPECT_EQ(PixelsOf(Convert(rgb.get(), PF_RGB16).get())[0], 0xFF); // 31 everywhere, 0x7FFF
    settings->SetPaletteMode(1);
    std::memset(ImageOf(rgb.get()).pixels, 100, 64 * 3 * 2);
    const auto dithered = PixelsOf(Convert(rgb.get(), PF_RGB16).get());
    settings->SetPaletteMode(0);
    // 100 and 100 + 7 fall into two 5-bit steps.
    EXPECT_GT(std::set<BYTE>(dithered.begin(), dithered.end()).size(), 1u);
}

TEST(Convert, FieldSeparatedRowsOfAFrame) {
    // Each picture line k of a 486-line image gets its own grey value.
    auto rgb = NewBitmap(4, 486, PF_RGB24);
    BYTE* pixels = ImageOf(rgb.get()).pixels;
    auto grey = [](int line) { return static_cast<BYTE>(16 + (line * 37) % 200); };
    for (int line = 0; line < 486; ++line)
        std::memset(pixels + (485 - line) * 12, grey(line), 12); // stored bottom first
    auto yuv = Convert(rgb.get(), PF_YUV16);
    const BYTE* rows = ImageOf(yuv.get()).pixels;
    auto lumaOf = [&](int yuvRow) { return rows[yuvRow * 8 + 1]; };
    auto lumaOfLine = [&](int line) { return ToYuv(std::vector<BYTE>(6, grey(line)))[1]; };
    // The odd lines first, then the even ones.
    for (int i = 0; i <= 242; ++i)
        EXPECT_EQ(std::pair(lumaOf(i), lumaOf(243 + i)),
                  std::pair(lumaOfLine(2 * i + 1), lumaOfLine(2 * i)))
            << i;
    // And back into the same places.
    auto back = Convert(yuv.get(), PF_RGB24);
    const BYTE* again = ImageOf(back.get()).pixels;
    for (int line = 0; line < 486; ++line)
        EXPECT_NEAR(again[(485 - line) * 12], grey(line), 1) << line;
}

TEST(Convert, BetweenFamiliesAnOddHeightIsRefused) {
    auto rgb = NewBitmap(4, 5, PF_RGB24);
    Convert(rgb.get(), PF_YUV16, E_INVALIDARG);
    Convert(rgb.get(), PF_RGB32A);
    // Attached with an odd height, a YUV image cannot go to the DIB family.
    BITMAPINFOHEADER header = {40, 2, 3, 1, 16, 0, 0, 0, 0, 0, 0};
    BYTE yuvPixels[12] = {};
    auto yuv = NewBitmap();
    ASSERT_EQ(yuv->Attach(&header, PF_YUV16, yuvPixels), S_OK);
    Convert(yuv.get(), PF_RGB24, E_INVALIDARG);
}

TEST(Convert, StepOncePerRowAndCancel) {
    auto rgb = NewBitmap(8, 6, PF_RGB24);
    CountingSink sink;
    auto yuv = Convert(rgb.get(), PF_YUV16, S_OK, &sink);
    ASSERT_EQ(sink.records.size(), 6u);
    for (LONG i = 0; i < 6; ++i)
        EXPECT_EQ(std::tuple(sink.records[i].step, sink.records[i].total, sink.records[i].pass),
                  std::tuple(i, 6, 0));
    CountingSink cancel(3), first(1);
    Convert(rgb.get(), PF_YUV16, E_ABORT, &cancel);
    EXPECT_EQ(cancel.records.size(), 3u);
    Convert(rgb.get(), PF_RGB32A, E_ABORT, &first);
}

TEST(Convert, PaletteReductionCollectsColoursFirstInMode0) {
    auto rgb = NewBitmap(5, 4, PF_RGB24);
    BYTE* pixels = ImageOf(rgb.get()).pixels;
    const BYTE colours[3][3] = {{10, 20, 30}, {200, 100, 0}, {1, 2, 3}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            std::memcpy(pixels + y * 16 + x * 3, colours[(x + y) % 3], 3);
    CountingSink sink;
    auto indexed = Convert(rgb.get(), PF_PALETTE8, S_OK, &sink);
    ASSERT_EQ(sink.records.size(), 8u); // two passes of four rows
    EXPECT_EQ(std::tuple(sink.records[4].pass, sink.records[4].step, sink.records[0].phases),
              std::tuple(1, 0, 2));
    EXPECT_EQ(ImageOf(indexed.get()).header->biClrUsed, 3u);
    auto back = Convert(indexed.get(), PF_RGB24);
    EXPECT_EQ(PixelsOf(back.get()), PixelsOf(rgb.get()));
    // Many colours: a palette of 256 that stays close to the image.
    auto photo = NewBitmap(64, 64, PF_RGB24);
    FillRandom(photo.get(), 3);
    const auto a = PixelsOf(photo.get()),
               b = PixelsOf(Convert(Convert(photo.get(), PF_PALETTE8).get(), PF_RGB24).get());
    double error = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        error += std::abs(int(a[i]) - int(b[i]));
    EXPECT_LT(error / double(a.size()), 40.0);
}

TEST(Convert, Mode1ReducesToTheReductionPalette) {
    auto settings = Make<IConversionSettings>(CLSID_ConversionSettings, IID_IConversionSettings);
    settings->SetMode(1);
    auto rgb = NewBitmap(2, 2, PF_RGB24);
    const BYTE values[6] = {0, 0, 250, 250, 250, 250}; // nearly red, nearly white
    std::memcpy(ImageOf(rgb.get()).pixels, values, 6);
    CountingSink sink;
    auto indexed = Convert(rgb.get(), PF_PALETTE8, S_OK, &sink);
    // In one pass, to the built-in palette's red and white; twenty system
    // colours at both ends of it, and no repeats.
    const BYTE* pixels = ImageOf(indexed.get()).pixels;
    const RGBQUAD* palette = PaletteOf(indexed.get());
    EXPECT_EQ(std::tuple(sink.records.size(), pixels[0], pixels[1], palette[249].rgbRed,
                         palette[255].rgbBlue),
              std::tuple(2u, 249, 255, 255, 255));
    std::set<std::uint32_t> distinct;
    for (int i = 0; i < 256; ++i)
        distinct.insert(palette[i].rgbBlue | palette[i].rgbGreen << 8 | palette[i].rgbRed << 16);
    EXPECT_EQ(std::tuple(distinct.size(), palette[8].rgbGreen, palette[246].rgbGreen),
              std::tuple(256u, 220, 251));
    // A palette of the client's is used as it is, with 256 entries too.
    RGBQUAD own[256];
    for (int i = 0; i < 256; ++i)
        own[i] = {BYTE(255 - i), BYTE(255 - i), BYTE(255 - i), 0};
    settings->SetPalette(own, 256);
    EXPECT_EQ(PixelsOf(Convert(rgb.get(), PF_PALETTE8).get())[1], 5); // 250 grey is entry 5
    // Sixteen colours: stored bytes (0, 0, 255) are red.
    EXPECT_EQ(PixelsOf(Convert(rgb.get(), PF_PALETTE4).get())[0] >> 4, 9);
    settings->ResetPalette();
    settings->SetMode(0);
    settings->SetPaletteMode(0);
}

TEST(Bitmap, ApplyPaletteMapsOntoTheReductionPalette) {
    auto indexed = NewBitmap(2, 1, PF_PALETTE8);
    BitmapImage image = ImageOf(indexed.get());
    RGBQUAD* palette = PaletteOf(indexed.get());
    palette[0] = {250, 250, 250, 0};
    palette[1] = {0, 0, 2, 0};
    image.pixels[0] = 0;
    image.pixels[1] = 1;
    EXPECT_EQ(NewBitmap(2, 2, PF_RGB24)->ApplyPalette(0), S_FALSE);
    ASSERT_EQ(indexed->ApplyPalette(0), S_OK);
    EXPECT_EQ(std::tuple(image.pixels[0], image.pixels[1], palette[255].rgbRed),
              std::tuple(255, 0, 255));
}

} // namespace
