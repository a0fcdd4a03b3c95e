#include "Bitmap.h"

#include "Palette.h"
#include "PixelFormats.h"
#include "RowChain.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>

namespace rastrel {

void ImageMemory::Free() {
    std::free(header);
    std::free(pixels);
    header = pixels = nullptr;
}

namespace {

// Zeroed pixel memory that std::free releases. A big block usually comes from
// the system untouched, so its whole huge pages can be asked for before the
// first write: a 4000 x 3000 picture otherwise costs some nine thousand page
// faults, more than decoding it from an uncompressed file takes.
BYTE* AllocatePixels(std::size_t bytes) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    auto* block = static_cast<BYTE*>(std::calloc(1, bytes));
    if (block == nullptr || bytes < 2 * kHugePage) return block;
    const auto at = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (at + kHugePage - 1) / kHugePage * kHugePage;
    const std::uintptr_t end = (at + bytes) / kHugePage * kHugePage;
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    return block;
}

} // namespace

HRESULT AllocateImage(LONG width, LONG height, DWORD format, ImageMemory& memory) {
    const FormatInfo* info = FindFormat(format);
    if (info == nullptr || width <= 0 || height <= 0) return E_INVALIDARG;
    if (info->family == Family::Yuv && height % 2 != 0) return E_INVALIDARG;
    const std::uint64_t pixelBytes =
        RowBytes(*info, static_cast<std::uint64_t>(width)) * static_cast<std::uint64_t>(height);
    if (pixelBytes > RASTREL_MAX_PIXEL_BYTES) return E_FAIL;
    memory.header = static_cast<BYTE*>(std::calloc(1, HeaderBlockBytes(*info)));
    memory.pixels = AllocatePixels(static_cast<std::size_t>(pixelBytes));
    if (memory.header == nullptr || memory.pixels == nullptr) {
        memory.Free();
        return E_OUTOFMEMORY;
    }
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(memory.header);
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = static_cast<WORD>(info->bits);
    return S_OK;
}

BitmapObject::BitmapObject(IUnknown* outer) : ComObjectBase(outer) {}

BitmapObject::~BitmapObject() {
    Drop();
}

IBitmapImage* NewBitmapObject() {
    auto* object = new (std::nothrow) BitmapObject(nullptr);
    if (object == nullptr) return nullptr;
    object->ComObjectBase::AddRef();
    return object;
}

HRESULT BitmapObject::QueryOwnInterface(REFIID riid, void** ppv) {
    if (riid == IID_IBitmapImage) return Hand(static_cast<IBitmapImage*>(this), ppv);
    return E_NOINTERFACE;
}

void BitmapObject::Drop() {
    if (owned_) {
        std::free(image_.header);
        std::free(image_.pixels);
    }
    image_ = {nullptr, 0, nullptr};
    owned_ = false;
}

void BitmapObject::Keep(const BitmapImage& image, bool owned) {
    Drop();
    image_ = image;
    owned_ = owned;
}

HRESULT BitmapObject::Create(LONG width, LONG height, DWORD format) {
    ImageMemory memory;
    if (const HRESULT hr = AllocateImage(width, height, format, memory); FAILED(hr)) return hr;
    Keep({reinterpret_cast<BITMAPINFOHEADER*>(memory.header), format, memory.pixels}, true);
    return S_OK;
}

HRESULT BitmapObject::Attach(BITMAPINFOHEADER* header, DWORD format, BYTE* pixels) {
    // The image's sizes come from the caller's header: refuse what would
    // make later reads run off its rows.
    if (header == nullptr || pixels == nullptr || FindFormat(format) == nullptr ||
        header->biWidth <= 0 || header->biHeight <= 0)
        return E_INVALIDARG;
    Keep({header, format, pixels}, false);
    return S_OK;
}

HRESULT BitmapObject::Clone(IBitmapImage** copy) {
    if (copy == nullptr) return E_INVALIDARG;
    if (!HasImage()) return S_OK;
    ComPtr<IBitmapImage> clone;
    HRESULT hr = CoCreateInstance(CLSID_Bitmap, nullptr, CLSCTX_INPROC_SERVER, IID_IBitmapImage,
                                  clone.Out());
    if (FAILED(hr)) return hr;
    hr = clone->Create(image_.header->biWidth, image_.header->biHeight, image_.format);
    BitmapImage target{};
    if (SUCCEEDED(hr)) hr = clone->GetImage(&target);
    if (FAILED(hr)) return hr;
    DWORD headerBytes = 0, pixelBytes = 0;
    GetHeaderSize(&headerBytes);
    GetPixelBytes(&pixelBytes);
    std::memcpy(target.header, image_.header, headerBytes);
    std::memcpy(target.pixels, image_.pixels, pixelBytes);
    *copy = clone.Detach();
    return S_OK;
}

HRESULT BitmapObject::GetImage(BitmapImage* image) {
    if (image == nullptr) return E_INVALIDARG;
    *image = image_;
    return HasImage() ? S_OK : E_FAIL;
}

HRESULT BitmapObject::GetHeaderSize(DWORD* bytes) {
    if (bytes == nullptr) return E_INVALIDARG;
    // The 16-colour format's palette is part of its header block too.
    *bytes = !HasImage() ? 0 : static_cast<DWORD>(HeaderBlockBytes(*FindFormat(image_.format)));
    return S_OK;
}

HRESULT BitmapObject::GetPixelBytes(DWORD* bytes) {
    if (bytes == nullptr) return E_INVALIDARG;
    *bytes = !HasImage()
                 ? 0
                 : static_cast<DWORD>(RowBytes(*FindFormat(image_.format),
                                               static_cast<std::uint64_t>(image_.header->biWidth)) *
                                      static_cast<std::uint64_t>(image_.header->biHeight));
    return S_OK;
}

HRESULT BitmapObject::GetTranslator(ITranslator** translator) {
    if (translator == nullptr) return E_INVALIDARG;
    *translator = ComPtr<ITranslator>(translator_).Detach();
    return S_OK;
}

HRESULT BitmapObject::SetTranslator(ITranslator* translator) {
    if (translator) translator->AddRef();
    translator_.Attach(translator);
    return S_OK;
}

HRESULT BitmapObject::Convert(DWORD format, IBitmapImage** converted, IProgressSink* sink) {
    if (converted == nullptr) return E_INVALIDARG;
    *converted = nullptr;
    if (!HasImage() || format == image_.format) return E_FAIL;
    if (FindFormat(format) == nullptr) return E_INVALIDARG;
    if (PlanConversion(image_.format, format).empty()) return E_FAIL;
    auto* result = new (std::nothrow) BitmapObject(nullptr);
    if (result == nullptr) return E_OUTOFMEMORY;
    result->ComObjectBase::AddRef();
    HRESULT hr = result->Create(image_.header->biWidth, image_.header->biHeight, format);
    if (SUCCEEDED(hr)) {
        result->image_.header->biXPelsPerMeter = image_.header->biXPelsPerMeter;
        result->image_.header->biYPelsPerMeter = image_.header->biYPelsPerMeter;
        hr = RunConversion(image_, result->image_, sink);
    }
    if (FAILED(hr)) {
        result->ComObjectBase::Release();
        return hr;
    }
    *converted = result;
    return S_OK;
}

HRESULT BitmapObject::GetPaletteBytes(DWORD* bytes) {
    if (bytes == nullptr) return E_INVALIDARG;
    *bytes = 0;
    if (HasImage())
        *bytes = static_cast<DWORD>(FindFormat(image_.format)->paletteEntries * sizeof(RGBQUAD));
    return S_OK;
}

// The palette engine: the image's colours are mapped onto the reduction
// palette of the conversion settings (the built-in one unless a palette was
// set), which becomes the image's palette. The value is reserved.
HRESULT BitmapObject::ApplyPalette(LONG) {
    if (!HasImage() || image_.format != 0x4000) return S_FALSE;
    const ConversionState& settings = Settings();
    std::vector<RGBQUAD> target(BuiltInPalette().begin(), BuiltInPalette().end());
    if (settings.paletteSet)
        target.assign(settings.palette.begin(), settings.palette.begin() + settings.count);
    if (target.empty()) return E_FAIL;
    RGBQUAD* palette = PaletteOf(image_.header);
    NearestColour nearest(target.data(), static_cast<int>(target.size()));
    BYTE remap[256];
    for (int i = 0; i < 256; ++i)
        remap[i] = nearest.Find(palette[i].rgbBlue, palette[i].rgbGreen, palette[i].rgbRed);
    DWORD pixelBytes = 0;
    GetPixelBytes(&pixelBytes);
    for (DWORD i = 0; i < pixelBytes; ++i)
        image_.pixels[i] = remap[image_.pixels[i]];
    std::memset(palette, 0, 1024);
    std::memcpy(palette, target.data(), target.size() * sizeof(RGBQUAD));
    image_.header->biClrUsed = target.size() < 256 ? static_cast<DWORD>(target.size()) : 0;
    return S_OK;
}

HRESULT BitmapObject::GetRowBytes(DWORD* bytes) {
    if (bytes == nullptr) return E_INVALIDARG;
    if (!HasImage()) return S_OK;
    const FormatInfo& format = *FindFormat(image_.format);
    // The rows' real stride, also for the formats whose significant bits are
    // fewer than their bytes hold.
    *bytes = IsDib(format) ? static_cast<DWORD>(RowBytes(
                                 format, static_cast<std::uint64_t>(image_.header->biWidth)))
                           : 0;
    return S_OK;
}

HRESULT BitmapObject::InsertAlpha(IBitmapImage* source) {
    if (source == nullptr || !HasImage() || image_.format != 0x800) return E_FAIL;
    BitmapImage alpha{};
    if (FAILED(source->GetImage(&alpha)) || alpha.header == nullptr) return E_FAIL;
    // One byte per source pixel, and at least as many rows and columns as
    // this image: nothing is read outside the source's rows.
    const FormatInfo* sourceFormat = FindFormat(alpha.format);
    if (sourceFormat == nullptr || sourceFormat->halfBytesPerPixel != 2 ||
        alpha.header->biWidth < image_.header->biWidth ||
        alpha.header->biHeight < image_.header->biHeight)
        return E_INVALIDARG;
    const LONG width = image_.header->biWidth, height = image_.header->biHeight;
    const auto rowBytes = static_cast<std::size_t>(width) * 4;
    const auto sourceRowBytes = static_cast<std::size_t>(
        RowBytes(*sourceFormat, static_cast<std::uint64_t>(alpha.header->biWidth)));
    for (LONG y = 0; y < height; ++y) {
        BYTE* row = image_.pixels + static_cast<std::size_t>(y) * rowBytes;
        const BYTE* values = alpha.pixels + static_cast<std::size_t>(y) * sourceRowBytes;
        for (LONG x = 0; x < width; ++x)
            row[4 * x + 3] = values[x];
    }
    return S_OK;
}

} // namespace rastrel
