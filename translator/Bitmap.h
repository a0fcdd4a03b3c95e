#pragma once
// The bitmap object: one image as a device-independent bitmap in one of the
// seventeen pixel formats.
#include "ServerFrame.h"
#include "platform/ComPtr.h"

namespace rastrel {

// An image's header block and rows as separate allocations.
struct ImageMemory {
    BYTE* header = nullptr;
    BYTE* pixels = nullptr;
    void Free();
};
HRESULT AllocateImage(LONG width, LONG height, DWORD format, ImageMemory& memory);
// The compound-file form's frame from an open storage into new memory
// (format 0x4, or 0x8 with its alpha stream); nothing is kept on failure.
HRESULT ReadFrame(IStorage* storage, ImageMemory& memory, DWORD& format);

// A new, empty bitmap object holding one reference, made without the
// component runtime; null when out of memory.
IBitmapImage* NewBitmapObject();

class BitmapObject final : public ComObjectBase, public Delegating<BitmapObject, IBitmapImage> {
public:
    explicit BitmapObject(IUnknown* outer);
    ~BitmapObject() override;

    HRESULT Create(LONG width, LONG height, DWORD format) override;
    HRESULT Attach(BITMAPINFOHEADER* header, DWORD format, BYTE* pixels) override;
    HRESULT Clone(IBitmapImage** copy) override;
    HRESULT SaveToStorage(const char* fileName) override;
    HRESULT LoadFromStorage(const char* fileName) override;
    HRESULT GetImage(BitmapImage* image) override;
    HRESULT GetHeaderSize(DWORD* bytes) override;
    HRESULT GetPixelBytes(DWORD* bytes) override;
    HRESULT GetTranslator(ITranslator** translator) override;
    HRESULT SetTranslator(ITranslator* translator) override;
    HRESULT Convert(DWORD format, IBitmapImage** converted, IProgressSink* sink) override;
    HRESULT GetPaletteBytes(DWORD* bytes) override;
    HRESULT ApplyPalette(LONG value) override;
    HRESULT GetRowBytes(DWORD* bytes) override;
    HRESULT InsertAlpha(IBitmapImage* source) override;

protected:
    HRESULT QueryOwnInterface(REFIID riid, void** ppv) override;

private:
    bool HasImage() const { return image_.header != nullptr; }
    // Replaces the image, freeing the old one if it was ours.
    void Keep(const BitmapImage& image, bool owned);
    void Drop();

    BitmapImage image_{nullptr, 0, nullptr};
    bool owned_ = false;
    ComPtr<ITranslator> translator_;
};

} // namespace rastrel
