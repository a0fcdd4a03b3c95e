#include "support/RastrelTesting.h"

using namespace rastrel::testing;

namespace {

TEST(ThumbnailWriter, StoresAWindowsBitmapStream) {
    ScratchFolder scratch;
    auto writer = Make<IThumbnailWriter>(CLSID_ThumbnailWriter, IID_IThumbnailWriter);
    ASSERT_TRUE(writer);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 64, 48, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(section, nullptr);
    static_cast<BYTE*>(bits)[0] = 42;
    ComPtr<IStorage> storage;
    ASSERT_EQ(StgCreateDocfile(u"/dev/null/x", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                               0, &storage),
              STG_E_PATHNOTFOUND);
    const std::u16string path = Wide(scratch / "t.stg");
    ASSERT_EQ(StgCreateDocfile(path.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                               &storage),
              S_OK);
    EXPECT_EQ(writer->WriteThumbnail(nullptr, storage.get()), E_INVALIDARG);
    EXPECT_EQ(writer->WriteThumbnail(section, nullptr), E_INVALIDARG);
    ASSERT_EQ(writer->WriteThumbnail(section, storage.get()), S_OK);
    DeleteObject(section);
    ComPtr<IStream> stream;
    ASSERT_EQ(
        storage->OpenStream(u"Thumbnail", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream),
        S_OK);
    std::vector<BYTE> data(20000);
    ULONG read = 0;
    stream->Read(data.data(), static_cast<ULONG>(data.size()), &read);
    stream.Reset();
    storage.Reset();
    ASSERT_EQ(read, 14u + 40u + 64u * 48u * 3u);
    EXPECT_EQ(data[0], 'B');
    EXPECT_EQ(data[1], 'M');
    BITMAPINFOHEADER header{};
    std::memcpy(&header, data.data() + 14, sizeof header);
    EXPECT_EQ(header.biWidth, 64);
    EXPECT_EQ(header.biHeight, 48);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(data[54], 42);
    // And Pillow agrees it is a picture.
    const auto shown =
        RunPython("import olefile, io, sys\nfrom PIL import Image\n"
                  "d = olefile.OleFileIO(sys.argv[1]).openstream('Thumbnail').read()\n"
                  "print(Image.open(io.BytesIO(d)).size)\n",
                  Quote(scratch / "t.stg"));
    EXPECT_EQ(shown.out, "(64, 48)\n");
}

TEST(ThumbnailWriter, RefusesAggregationAndOtherClasses) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_ThumbnailWriter, CLSCTX_INPROC_SERVER, nullptr,
                               IID_IClassFactory, factory.Out()),
              S_OK);
    void* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(factory.get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
}

} // namespace
