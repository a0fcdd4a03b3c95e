#pragma once
// Bitmap objects made through the component runtime, as a client makes them.
#include "RastrelTestSupport.h"
#include "rastrel.h"

#include <cstring>
#include <memory>

namespace rastrel::testing {

struct Releaser {
    void operator()(IUnknown* object) const {
        if (object) object->Release();
    }
};
template <class T> using Ref = std::unique_ptr<T, Releaser>;

template <class T> Ref<T> Make(const CLSID& clsid, const IID& iid) {
    T* object = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    return Ref<T>(object);
}

inline Ref<IBitmapImage> NewBitmap() {
    return Make<IBitmapImage>(CLSID_Bitmap, IID_IBitmapImage);
}

inline Ref<IBitmapImage> NewBitmap(LONG width, LONG height, DWORD format) {
    auto bitmap = NewBitmap();
    EXPECT_EQ(bitmap->Create(width, height, format), S_OK);
    return bitmap;
}

inline BitmapImage ImageOf(IBitmapImage* bitmap) {
    BitmapImage image{};
    EXPECT_EQ(bitmap->GetImage(&image), S_OK);
    return image;
}

inline std::vector<BYTE> PixelsOf(IBitmapImage* bitmap) {
    DWORD bytes = 0;
    bitmap->GetPixelBytes(&bytes);
    const BitmapImage image = ImageOf(bitmap);
    return {image.pixels, image.pixels + bytes};
}

// A sink that counts its calls and cancels at a chosen step.
class CountingSink final : public IProgressSink {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT Begin() override {
        ++begins;
        return S_OK;
    }
    HRESULT End() override {
        ++ends;
        return S_OK;
    }
    HRESULT SetPhaseCount(LONG count) override {
        phases.push_back(count);
        return S_OK;
    }
    HRESULT Step(ProgressRecord* progress) override {
        records.push_back(*progress);
        return static_cast<long>(records.size()) == cancelAt ? S_FALSE : S_OK;
    }
    std::vector<ProgressRecord> records;
    long cancelAt = -1;
    std::vector<LONG> phases;
    int begins = 0, ends = 0;
};

} // namespace rastrel::testing
