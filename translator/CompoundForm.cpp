// The compound-file form of a bitmap: one 720 x 486 video frame as the
// streams "NTSC601" (two bytes a pixel) and, with alpha, "NTSCALPHA", with a
// thumbnail written by the thumbnail component.
#include "Bitmap.h"
#include "PixelFormats.h"
#include "platform/Kernel.h"
#include "platform/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace rastrel {
namespace {

constexpr LONG kFrameWidth = 720;
constexpr LONG kFrameHeight = 486;
constexpr DWORD kLumaChromaBytes = kFrameWidth * 2 * kFrameHeight; // 699840
constexpr DWORD kAlphaBytes = kFrameWidth * kFrameHeight;
constexpr DWORD kCreateMode = 0x1012;       // create, read-write, exclusive
constexpr DWORD kOpenStorageMode = 0x40010; // priority, read, exclusive
constexpr DWORD kOpenStreamMode = 0x10;     // read, exclusive
constexpr LONG kThumbnailWidth = 64;
constexpr LONG kThumbnailHeight = 48;

// UTF-8 to UTF-16, terminator included; false for text that is not UTF-8.
bool Widen(const char* text, std::u16string& wide) {
    wide.clear();
    for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != 0;) {
        char32_t c;
        int extra;
        if (*p < 0x80) {
            c = *p;
            extra = 0;
        } else if ((*p & 0xE0) == 0xC0) {
            c = *p & 0x1F;
            extra = 1;
        } else if ((*p & 0xF0) == 0xE0) {
            c = *p & 0x0F;
            extra = 2;
        } else if ((*p & 0xF8) == 0xF0) {
            c = *p & 0x07;
            extra = 3;
        } else {
            return false;
        }
        ++p;
        for (int i = 0; i < extra; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) return false;
            c = (c << 6) | (*p & 0x3F);
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            wide.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            wide.push_back(static_cast<char16_t>(c));
        }
    }
    return true;
}

// The 64 x 48 section: each pixel the rounded mean of its block of the image.
HBITMAP MakeThumbnail(const BitmapImage& rgb) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kThumbnailWidth;
    info.bmiHeader.biHeight = kThumbnailHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (section == nullptr) return nullptr;
    const LONG width = rgb.header->biWidth, height = rgb.header->biHeight;
    const LONG blockWidth = width / kThumbnailWidth, blockHeight = height / kThumbnailHeight;
    const std::size_t n =
        static_cast<std::size_t>(blockWidth) * static_cast<std::size_t>(blockHeight);
    if (n == 0) return section; // smaller than the thumbnail: black
    const auto rowBytes =
        static_cast<std::size_t>(RowBytes(*FindFormat(0x400), static_cast<std::uint64_t>(width)));
    const std::size_t thumbnailRowBytes = kThumbnailWidth * 3;
    auto* out = static_cast<BYTE*>(bits);
    for (LONG ty = 0; ty < kThumbnailHeight; ++ty)
        for (LONG tx = 0; tx < kThumbnailWidth; ++tx)
            for (int channel = 0; channel < 3; ++channel) {
                std::size_t sum = 0;
                for (LONG y = ty * blockHeight; y < (ty + 1) * blockHeight; ++y) {
                    const BYTE* row = rgb.pixels + static_cast<std::size_t>(y) * rowBytes;
                    for (LONG x = tx * blockWidth; x < (tx + 1) * blockWidth; ++x)
                        sum += row[3 * x + channel];
                }
                const std::size_t mean = (sum + n / 2) / n;
                out[static_cast<std::size_t>(ty) * thumbnailRowBytes + 3 * tx + channel] =
                    static_cast<BYTE>(mean > 255 ? 255 : mean);
            }
    return section;
}

HRESULT WriteAll(IStream* stream, const BYTE* data, DWORD count) {
    ULONG written = 0;
    const HRESULT hr = stream->Write(data, count, &written);
    if (FAILED(hr)) return hr;
    return written == count ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT ReadAll(IStream* stream, BYTE* data, DWORD count) {
    ULONG read = 0;
    const HRESULT hr = stream->Read(data, count, &read);
    if (FAILED(hr)) return hr;
    // A short read is a truncated frame.
    return hr == S_FALSE || read != count ? E_FAIL : S_OK;
}

// The thumbnail component's picture of the frame in the storage.
HRESULT WriteThumbnailOf(const BitmapImage& rgb, IStorage* storage) {
    HBITMAP section = MakeThumbnail(rgb);
    if (section == nullptr) return E_OUTOFMEMORY;
    ComPtr<IThumbnailWriter> thumbnails;
    HRESULT hr = CoCreateInstance(CLSID_ThumbnailWriter, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IThumbnailWriter, thumbnails.Out());
    if (SUCCEEDED(hr)) hr = thumbnails->WriteThumbnail(section, storage);
    DeleteObject(section);
    return hr;
}

// The frame's streams: two bytes a pixel, and the alpha bytes apart.
HRESULT WriteFrame(IStorage* storage, const BitmapImage& yuv, bool alpha) {
    ComPtr<IStream> pixels, alphaStream;
    HRESULT hr = storage->CreateStream(u"NTSC601", kCreateMode, 0, 0, &pixels);
    if (FAILED(hr)) return hr;
    if (!alpha) return WriteAll(pixels.get(), yuv.pixels, kLumaChromaBytes);
    hr = storage->CreateStream(u"NTSCALPHA", kCreateMode, 0, 0, &alphaStream);
    if (FAILED(hr)) return hr;
    std::vector<BYTE> lumaChroma(kLumaChromaBytes), alphaBytes(kAlphaBytes);
    for (DWORD i = 0; i < kAlphaBytes; ++i) {
        lumaChroma[2 * i] = yuv.pixels[3 * i];
        lumaChroma[2 * i + 1] = yuv.pixels[3 * i + 1];
        alphaBytes[i] = yuv.pixels[3 * i + 2];
    }
    hr = WriteAll(pixels.get(), lumaChroma.data(), kLumaChromaBytes);
    if (SUCCEEDED(hr)) hr = WriteAll(alphaStream.get(), alphaBytes.data(), kAlphaBytes);
    return hr;
}

} // namespace

HRESULT ReadFrame(IStorage* storage, ImageMemory& memory, DWORD& format) {
    ComPtr<IStream> pixels, alphaStream;
    HRESULT hr = storage->OpenStream(u"NTSC601", nullptr, kOpenStreamMode, 0, &pixels);
    if (FAILED(hr)) return hr;
    bool alpha = false;
    const HRESULT opened =
        storage->OpenStream(u"NTSCALPHA", nullptr, kOpenStreamMode, 0, &alphaStream);
    if (SUCCEEDED(opened))
        alpha = true;
    else if (opened != STG_E_FILENOTFOUND)
        return opened;
    format = alpha ? 0x8 : 0x4;
    hr = AllocateImage(kFrameWidth, kFrameHeight, format, memory);
    if (SUCCEEDED(hr) && !alpha) hr = ReadAll(pixels.get(), memory.pixels, kLumaChromaBytes);
    if (SUCCEEDED(hr) && alpha) {
        std::vector<BYTE> lumaChroma(kLumaChromaBytes), alphaBytes(kAlphaBytes);
        hr = ReadAll(pixels.get(), lumaChroma.data(), kLumaChromaBytes);
        if (SUCCEEDED(hr)) hr = ReadAll(alphaStream.get(), alphaBytes.data(), kAlphaBytes);
        if (SUCCEEDED(hr))
            for (DWORD i = 0; i < kAlphaBytes; ++i) {
                memory.pixels[3 * i] = lumaChroma[2 * i];
                memory.pixels[3 * i + 1] = lumaChroma[2 * i + 1];
                memory.pixels[3 * i + 2] = alphaBytes[i];
            }
    }
    if (FAILED(hr)) memory.Free();
    return hr;
}

HRESULT BitmapObject::SaveToStorage(const char* fileName) {
    if (!HasImage()) return E_FAIL;
    if (fileName == nullptr) return E_INVALIDARG;
    // The form holds one 720 x 486 frame; anything else would be written
    // from outside the image's rows.
    if (image_.header->biWidth != kFrameWidth || image_.header->biHeight != kFrameHeight)
        return E_INVALIDARG;
    std::u16string name;
    if (!Widen(fileName, name)) return E_INVALIDARG;
    const bool alpha = FindFormat(image_.format)->alpha;
    const DWORD target = alpha ? 0x8 : 0x4;

    // Conversions first: a bitmap that cannot be stored leaves no file.
    ComPtr<IBitmapImage> rgbView, yuvView;
    HRESULT hr = S_OK;
    if (image_.format != 0x400) hr = Convert(0x400, &rgbView, nullptr);
    if (SUCCEEDED(hr) && image_.format != target) hr = Convert(target, &yuvView, nullptr);
    if (FAILED(hr)) return hr;
    BitmapImage rgb = image_, yuv = image_;
    if (rgbView) rgbView->GetImage(&rgb);
    if (yuvView) yuvView->GetImage(&yuv);

    // The storage is built in a temporary beside the name; a failure leaves
    // whatever the name held.
    platform::OutputFile output;
    if (!output.Create(fileName))
        return errno == ENOENT ? STG_E_PATHNOTFOUND : StgErrorFromErrno(errno);
    std::u16string working;
    if (!Widen(output.WorkingPath().c_str(), working)) return E_INVALIDARG;
    ComPtr<IStorage> storage;
    hr = StgCreateDocfile(working.c_str(), kCreateMode, 0, &storage);
    if (SUCCEEDED(hr)) hr = WriteThumbnailOf(rgb, storage.get());
    if (SUCCEEDED(hr)) hr = WriteFrame(storage.get(), yuv, alpha);
    // Committing reports a failed write, which a release cannot.
    if (SUCCEEDED(hr)) hr = storage->Commit(STGC_DEFAULT);
    storage.Reset();
    if (SUCCEEDED(hr) && !output.Commit()) hr = StgErrorFromErrno(errno);
    return hr;
}

HRESULT BitmapObject::LoadFromStorage(const char* fileName) {
    if (fileName == nullptr) return E_INVALIDARG;
    std::u16string name;
    if (!Widen(fileName, name)) return E_INVALIDARG;
    ComPtr<IStorage> storage;
    HRESULT hr = StgOpenStorage(name.c_str(), nullptr, kOpenStorageMode, nullptr, 0, &storage);
    // Read into a new image, so that a failed load keeps the previous one.
    ImageMemory memory;
    DWORD format = 0;
    if (SUCCEEDED(hr)) hr = ReadFrame(storage.get(), memory, format);
    storage.Reset();
    if (FAILED(hr)) return hr;
    Keep({reinterpret_cast<BITMAPINFOHEADER*>(memory.header), format, memory.pixels}, true);
    return S_OK;
}

} // namespace rastrel
