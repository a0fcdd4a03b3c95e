// The thumbnail writer on its own; what a saved frame's thumbnail shows is
// checked with the compound form.
#include "support/RastrelTesting.h"

using namespace rastrel::testing;

namespace {

TEST(ThumbnailWriter, StoresAWindowsBitmapStreamThatPillowReads) {
    ScratchFolder scratch;
    auto writer = Make<IThumbnailWriter>(CLSID_ThumbnailWriter, IID_IThumbnailWriter);
    ASSERT_TRUE(writer);
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), 64, 48, 1, 24, BI_RGB, 0, 0, 0, 0, 0}, {}};
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(section, nullptr);
    static_cast<BYTE*>(bits)[0] = 42; // blue of the bottom left pixel
    ComPtr<IStorage> storage;
    ASSERT_EQ(StgCreateDocfile(Wide(scratch / "t.stg").c_str(),
                               STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &storage),
              S_OK);
    EXPECT_EQ(writer->WriteThumbnail(nullptr, storage.get()), E_INVALIDARG);
    EXPECT_EQ(writer->WriteThumbnail(section, nullptr), E_INVALIDARG);
    ASSERT_EQ(writer->WriteThumbnail(section, storage.get()), S_OK);
    DeleteObject(section);
    storage.Reset();
    EXPECT_EQ(ThumbnailInPillow(scratch / "t.stg",
                                "len(d), im.format, im.mode, im.size, im.getpixel((0, 47))"),
              "9270 BMP RGB (64, 48) (0, 0, 42)\n");
}

TEST(ThumbnailWriter, RefusesAggregation) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_ThumbnailWriter, CLSCTX_INPROC_SERVER, nullptr,
                               IID_IClassFactory, factory.Out()),
              S_OK);
    void* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(factory.get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
}

} // namespace
