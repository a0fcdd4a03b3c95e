#include "CodecTranslator.h"

#include "Pcx.h"
#include "Translator.h"

#include <cstring>

namespace rastrel {
namespace {

// The largest picture a codec image holds; a monochrome file expands to a
// grey picture of no more pixels than that.
constexpr LONG kMaxColumns = 8096, kMaxMonochromeColumns = 64768, kMaxRows = 32768;
constexpr std::int64_t kMaxPixels = std::int64_t{kMaxColumns} * kMaxRows;

bool Fits(LONG width, LONG height, int bits) {
    if (width <= 0 || height <= 0 || height >= kMaxRows) return false;
    if (bits == 1)
        return width < kMaxMonochromeColumns && std::int64_t{width} * height <= kMaxPixels;
    return width < kMaxColumns;
}

} // namespace

HRESULT ReadCodecBitmap(LONG width, LONG height, int bits, DWORD format, IProgressSink* sink,
                        const CodecReader& read, ComPtr<IBitmapImage>& bitmap) {
    if (!Fits(width, height, bits)) return E_FAIL;
    const DWORD own = bits == 24 ? PF_RGB24 : PF_PALETTE8;
    ProgressRecord progress{0, height, 0, LoadPhases(own, format)};
    HRESULT hr = bitmap->Create(width, height, own);
    if (FAILED(hr)) return hr;
    BitmapImage target{};
    bitmap->GetImage(&target);
    CodecImage image{};
    DescribeCodecImage(image, target.header, target.pixels);
    if (bits == 1) {
        CodecImage monochrome{};
        int code = AllocateCodecImage(monochrome, width, height, 1);
        if (code == kCodecOk) code = read(monochrome, progress);
        if (code == kCodecOk) code = ExpandMonochrome(monochrome, image);
        FreeCodecImage(monochrome);
        hr = code == kCodecNoMemory ? E_OUTOFMEMORY : CodecResultToHresult(code);
    } else {
        hr = CodecResultToHresult(read(image, progress));
    }
    target.header->biClrUsed = target.header->biClrImportant = 0;
    if (SUCCEEDED(hr) && format != own) hr = ConvertLoaded(bitmap, format, sink);
    return hr;
}

HRESULT PrepareSaveRows(IBitmapImage* bitmap, LONG depth, IProgressSink* sink, SaveRows& rows) {
    BitmapImage source{};
    if (bitmap == nullptr || FAILED(bitmap->GetImage(&source))) return E_FAIL;
    DWORD target = PF_RGB24;
    if (depth == 8 || (depth != 24 && source.format == PF_PALETTE8)) target = PF_PALETTE8;
    rows.phases = source.format == target ? 1 : 2;
    AnnouncePhases(sink, rows.phases);
    if (source.format != target) {
        if (const HRESULT hr = bitmap->Convert(target, &rows.converted, sink); FAILED(hr))
            return hr;
        rows.converted->GetImage(&source);
    }
    // The codec reads the rows under a header of its own (an attached
    // bitmap's header may say otherwise), with the palette beside it.
    rows.header.biSize = sizeof rows.header;
    rows.header.biWidth = source.header->biWidth;
    rows.header.biHeight = source.header->biHeight;
    rows.header.biPlanes = 1;
    rows.header.biBitCount = target == PF_RGB24 ? 24 : 8;
    CodecImage& image = rows.image;
    DescribeCodecImage(image, &rows.header, source.pixels);
    if (target == PF_PALETTE8) {
        const DWORD used = source.header->biClrUsed;
        const LONG entries = used == 0 || used > 256 ? 256 : static_cast<LONG>(used);
        std::memcpy(rows.palette, source.header + 1, 4 * static_cast<std::size_t>(entries));
        image.palette = rows.palette;
        image.paletteEntries = entries;
        // Only the identity ramp is a grey picture; any other palette is kept.
        bool ramp = entries == 256;
        for (LONG i = 0; ramp && i < entries; ++i)
            ramp = rows.palette[i].rgbBlue == i && rows.palette[i].rgbGreen == i &&
                   rows.palette[i].rgbRed == i;
        image.flags = ramp ? kGreyRampFlag : 0;
    }
    return S_OK;
}

} // namespace rastrel
