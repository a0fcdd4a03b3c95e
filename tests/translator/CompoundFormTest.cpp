// Bitmaps stored as one video frame in a compound file, checked with an
// independent reader (olefile) and against files another tool made.
#include "support/RastrelTesting.h"

#include <sstream>
#include <tuple>

using namespace rastrel::testing;

namespace {

using CompoundForm = ScratchTest;

// The streams olefile finds, "name size;" each, in its (sorted) order.
std::string StreamsOf(const std::string& path) {
    std::istringstream lines(OlefileDump(path).out);
    std::string streams, name, size, sum;
    while (lines >> name >> size >> sum)
        streams += name + " " + size + ";";
    return streams;
}

ComPtr<IBitmapImage> Frame(DWORD format, unsigned seed) {
    auto bitmap = NewBitmap(720, 486, format);
    FillRandom(bitmap.get(), seed);
    return bitmap;
}

TEST_F(CompoundForm, FramesSaveAndLoadWithAlphaInItsOwnStream) {
    const std::string path = scratch / "frame.stg";
    auto loaded = NewBitmap(2, 2, PF_RGB24);
    for (DWORD format : {PF_YUV16, PF_YUV16A}) {
        auto frame = Frame(format, format);
        ASSERT_EQ(frame->SaveToStorage(path.c_str()), S_OK);
        EXPECT_EQ(StreamsOf(path), std::string("NTSC601 699840;") +
                                       (format == PF_YUV16A ? "NTSCALPHA 349920;" : "") +
                                       "Thumbnail 9270;");
        ASSERT_EQ(loaded->LoadFromStorage(path.c_str()), S_OK);
        EXPECT_EQ(std::pair(ImageOf(loaded.get()).format, PixelsOf(loaded.get())),
                  std::pair(format, PixelsOf(frame.get())));
    }
    // An RGB frame with alpha is stored through the YUV form with alpha.
    auto rgba = Frame(PF_RGB32A, 3);
    ASSERT_EQ(rgba->SaveToStorage(path.c_str()), S_OK);
    ASSERT_EQ(loaded->LoadFromStorage(path.c_str()), S_OK);
    // The first alpha byte: YUV row 0 is picture line 1, DIB row 484.
    EXPECT_EQ(std::tuple(ImageOf(loaded.get()).format, ImageOf(loaded.get()).pixels[2]),
              std::tuple(PF_YUV16A, ImageOf(rgba.get()).pixels[484 * 720 * 4 + 3]));
}

TEST_F(CompoundForm, TheThumbnailIsTheFramesBlockMeans) {
    const std::string path = scratch / "thumb.stg";
    auto rgb = NewBitmap(720, 486, PF_RGB24);
    BYTE* pixels = ImageOf(rgb.get()).pixels;
    // Stored rows 0..9 (the first block row) red, the rest grey.
    std::memset(pixels, 100, 486 * 2160);
    for (int i = 0; i < 10 * 720; ++i)
        std::memcpy(pixels + 3 * i, "\0\0\xff", 3);
    ASSERT_EQ(rgb->SaveToStorage(path.c_str()), S_OK);
    // Pillow's row 47 is the bottom row: the first stored block row.
    EXPECT_EQ(ThumbnailInPillow(path, "*im.size, *im.getpixel((5, 47)), *im.getpixel((5, 0))"),
              "64 48 255 0 0 100 100 100\n");
}

TEST_F(CompoundForm, AFileMadeByAnotherToolLoads) {
    const std::vector<BYTE> frame = Random(699840, 4), alpha = Random(349920, 5);
    MakeWithGsf(scratch / "a.stg", {{"NTSC601", frame}, {"NTSCALPHA", alpha}});
    MakeWithGsf(scratch / "b.stg", {{"NTSC601", frame}});
    auto bitmap = NewBitmap();
    ASSERT_EQ(bitmap->LoadFromStorage((scratch / "b.stg").c_str()), S_OK);
    EXPECT_EQ(std::tuple(ImageOf(bitmap.get()).format, PixelsOf(bitmap.get())),
              std::tuple(PF_YUV16, frame));
    ASSERT_EQ(bitmap->LoadFromStorage((scratch / "a.stg").c_str()), S_OK);
    const BYTE* pixel = ImageOf(bitmap.get()).pixels + 3 * 1000; // Cb or Cr, Y, alpha
    EXPECT_EQ(std::tuple(ImageOf(bitmap.get()).format, std::vector(pixel, pixel + 3)),
              std::tuple(PF_YUV16A, std::vector{frame[2000], frame[2001], alpha[1000]}));
}

TEST_F(CompoundForm, BadFilesFailAndKeepThePreviousImage) {
    const std::string path = scratch / "frame.stg";
    ASSERT_EQ(Frame(PF_YUV16, 5)->SaveToStorage(path.c_str()), S_OK);
    auto bitmap = NewBitmap(4, 2, PF_RGB24);
    // No file, a short "NTSC601" stream, no "NTSC601" at all.
    MakeWithGsf(scratch / "s.stg", {{"NTSC601", std::vector<BYTE>(1000, 7)}});
    MakeWithGsf(scratch / "o.stg", {{"Other", std::vector<BYTE>(10, 7)}});
    EXPECT_EQ(bitmap->LoadFromStorage((scratch / "missing.stg").c_str()), STG_E_FILENOTFOUND);
    EXPECT_EQ(bitmap->LoadFromStorage((scratch / "s.stg").c_str()), E_FAIL);
    EXPECT_EQ(bitmap->LoadFromStorage((scratch / "o.stg").c_str()), STG_E_FILENOTFOUND);
    // Truncated or damaged copies of a good file.
    const auto good = ReadFile(path);
    std::mt19937 random(6);
    for (int round = 0; round < 60; ++round) {
        auto bytes = good;
        if (round % 2 == 0)
            bytes.resize(random() % bytes.size());
        else
            for (int e = 0; e < 4; ++e)
                bytes[random() % 4096] = static_cast<BYTE>(random());
        WriteFile(scratch / "bad.stg", bytes);
        // What loads is replaced by the 4 x 2 image again; what fails keeps it.
        if (SUCCEEDED(bitmap->LoadFromStorage((scratch / "bad.stg").c_str())))
            bitmap->Create(4, 2, PF_RGB24);
        EXPECT_EQ(ImageOf(bitmap.get()).header->biWidth, 4);
    }
    EXPECT_EQ(bitmap->LoadFromStorage(nullptr), E_INVALIDARG);
}

TEST_F(CompoundForm, WhatCannotBeStoredLeavesNoFile) {
    const std::string path = scratch / "no.stg";
    EXPECT_EQ(NewBitmap()->SaveToStorage(path.c_str()), E_FAIL);
    EXPECT_EQ(NewBitmap(640, 480, PF_RGB24)->SaveToStorage(path.c_str()), E_INVALIDARG);
    EXPECT_FALSE(std::filesystem::exists(path));
    // Every format converts, grey and the 10-bit ones too.
    for (const DWORD format : {PF_GREY8, PF_RGB30, PF_YUV40A})
        EXPECT_EQ(NewBitmap(720, 486, format)->SaveToStorage(path.c_str()), S_OK) << format;
    EXPECT_EQ(NewBitmap(720, 486, PF_RGB24)->SaveToStorage((scratch / "none/x.stg").c_str()),
              STG_E_PATHNOTFOUND);
}

TEST_F(CompoundForm, WithoutTheThumbnailWriterTheSaveFails) {
    const std::string path = scratch / "x.stg";
    ASSERT_EQ(CallEntry(THUMBNAIL_LIBRARY, "DllUnregisterServer"), S_OK);
    EXPECT_EQ(Frame(PF_YUV16, 1)->SaveToStorage(path.c_str()), REGDB_E_CLASSNOTREG);
    EXPECT_FALSE(std::filesystem::exists(path));
    ASSERT_EQ(CallEntry(THUMBNAIL_LIBRARY, "DllRegisterServer"), S_OK);
}

} // namespace
