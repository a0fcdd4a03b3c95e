#include "Codec.h"

#include "platform/Kernel.h"

#include <cstring>
#include <utility>

namespace rastrel {
namespace {

IProgressSink* g_sink = nullptr;
LONG g_operationPhases = 0;
ProgressRecord* g_progress = nullptr;

LONG StoredRowBytes(LONG width, int bits) {
    return static_cast<LONG>((static_cast<std::int64_t>(width) * bits + 31) / 32 * 4);
}

} // namespace

void PutGreyRamp(CodecImage& image) {
    BITMAPINFOHEADER* header = image.header;
    if (header == nullptr || header->biBitCount >= 24 || image.palette == nullptr) return;
    LONG entries = static_cast<LONG>(header->biClrUsed);
    if (entries == 0) entries = 1 << header->biBitCount;
    int step = 255;
    image.flags &= ~kGreyRampFlag;
    if (entries >= 3) {
        step = 256 / entries;
        image.flags |= kGreyRampFlag;
    }
    for (LONG i = 0; i < entries; ++i) {
        const auto level = static_cast<BYTE>(i * step);
        image.palette[i] = {level, level, level, 0};
    }
    image.paletteEntries = entries;
}

int AllocateCodecImage(CodecImage& image, LONG width, LONG height, int bits) {
    std::memset(&image, 0, sizeof image);
    if (bits != 1 && bits != 8 && bits != 24) return kCodecBadDepth;
    if (width <= 0 || height <= 0) return kCodecBadImage;
    const LONG entries = bits == 24 ? 0 : 1 << bits;
    const LONG rowBytes = StoredRowBytes(width, bits);
    const std::uint64_t rows =
        static_cast<std::uint64_t>(rowBytes) * static_cast<std::uint64_t>(height);
    if (rows > RASTREL_MAX_PIXEL_BYTES) return kCodecNoMemory;
    const std::size_t bytes = sizeof(BITMAPINFOHEADER) + 4 * static_cast<std::size_t>(entries) +
                              static_cast<std::size_t>(rows + static_cast<std::uint64_t>(rowBytes));
    HGLOBAL memory = GlobalAlloc(GHND, bytes);
    if (memory == nullptr) return kCodecNoMemory;
    auto* base = static_cast<BYTE*>(GlobalLock(memory));
    if (base == nullptr) {
        GlobalFree(memory);
        return kCodecCannotLock;
    }
    image.memory = memory;
    image.header = reinterpret_cast<BITMAPINFOHEADER*>(base);
    image.header->biSize = sizeof(BITMAPINFOHEADER);
    image.header->biWidth = width;
    image.header->biHeight = height;
    image.header->biPlanes = 1;
    image.header->biBitCount = static_cast<WORD>(bits);
    image.header->biCompression = BI_RGB;
    image.header->biSizeImage = static_cast<DWORD>(rowBytes) * static_cast<DWORD>(height);
    image.header->biClrUsed = image.header->biClrImportant = static_cast<DWORD>(entries);
    image.palette =
        entries > 0 ? reinterpret_cast<RGBQUAD*>(base + sizeof(BITMAPINFOHEADER)) : nullptr;
    image.pixels = base + sizeof(BITMAPINFOHEADER) + 4 * static_cast<std::size_t>(entries);
    image.rowBytes = rowBytes;
    image.left = image.top = 0;
    image.right = width - 1;
    image.bottom = height - 1;
    PutGreyRamp(image);
    return kCodecOk;
}

void DescribeCodecImage(CodecImage& image, BITMAPINFOHEADER* header, BYTE* pixels) {
    std::memset(&image, 0, sizeof image);
    image.header = header;
    image.pixels = pixels;
    image.rowBytes = StoredRowBytes(header->biWidth, header->biBitCount);
    image.palette = header->biBitCount < 24 ? reinterpret_cast<RGBQUAD*>(header + 1) : nullptr;
    image.right = header->biWidth - 1;
    image.bottom = header->biHeight - 1;
    if (image.palette != nullptr) PutGreyRamp(image);
}

void FreeCodecImage(CodecImage& image) {
    if (image.memory != nullptr) {
        GlobalUnlock(image.memory);
        GlobalFree(image.memory);
    }
    std::memset(&image, 0, sizeof image);
}

int ValidateCodecImage(CodecImage& image, bool monochromeToo) {
    if (image.pixels == nullptr) return kCodecOk;
    if (image.right < image.left) std::swap(image.left, image.right);
    if (image.bottom < image.top) std::swap(image.top, image.bottom);
    const BITMAPINFOHEADER& header = *image.header;
    const LONG columnLimit = header.biBitCount == 1 ? 64768 : 8096;
    if (image.left < 0 || image.top < 0 || image.right >= header.biWidth ||
        image.right >= columnLimit || image.bottom >= header.biHeight || image.bottom >= 32768 ||
        static_cast<std::int64_t>(image.rowBytes) * 8 <
            static_cast<std::int64_t>(header.biBitCount) * header.biWidth)
        return kCodecBadImage;
    if (header.biCompression != BI_RGB) return kCodecCompressedHeader;
    if (header.biBitCount != 8 && header.biBitCount != 24 &&
        !(monochromeToo && header.biBitCount == 1))
        return kCodecBadDepth;
    return kCodecOk;
}

void SetCodecProgress(IProgressSink* sink, ProgressRecord* progress) {
    g_sink = sink;
    g_progress = progress;
}

void SetOperationPhases(LONG phases) {
    g_operationPhases = phases;
}
LONG OperationPhases() {
    return g_operationPhases;
}

bool CodecStepCancelled() {
    if (g_sink == nullptr || g_progress == nullptr) return false;
    const HRESULT hr = g_sink->Step(g_progress);
    ++g_progress->step;
    return hr == S_FALSE;
}

HRESULT CodecResultToHresult(int code) {
    if (code == kCodecOk) return S_OK;
    return code == kCodecCancelled ? E_ABORT : E_FAIL;
}

} // namespace rastrel
