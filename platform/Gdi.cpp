#include "platform/Gdi.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <set>
#include <vector>

struct GdiObjectTag {
    BITMAPINFOHEADER header{};
    std::vector<RGBQUAD> palette;
    std::vector<BYTE> pixels;
    LONG rowBytes = 0;
};

namespace {
std::mutex g_objectMutex;
std::set<HGDIOBJ>& Objects() {
    static auto* objects = new std::set<HGDIOBJ>;
    return *objects;
}
bool IsObject(HGDIOBJ object) {
    std::lock_guard lock(g_objectMutex);
    return Objects().count(object) > 0;
}
} // namespace

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE, DWORD) {
    if (bits) *bits = nullptr;
    if (info == nullptr || usage != DIB_RGB_COLORS) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const BITMAPINFOHEADER& header = info->bmiHeader;
    const WORD depth = header.biBitCount;
    const bool knownDepth =
        depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biWidth <= 0 || header.biHeight == 0 ||
        header.biHeight == std::numeric_limits<LONG>::min() || header.biPlanes != 1 ||
        !knownDepth || header.biCompression != BI_RGB) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const auto width = static_cast<std::uint64_t>(header.biWidth);
    const auto height = static_cast<std::uint64_t>(std::abs(header.biHeight));
    const std::uint64_t rowBytes = (width * depth + 31) / 32 * 4;
    if (rowBytes > 0x7FFFFFFF || rowBytes * height > (std::uint64_t{1} << 31)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* object = new (std::nothrow) GdiObjectTag;
    if (object == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    object->header = header;
    object->header.biSize = sizeof(BITMAPINFOHEADER);
    object->header.biSizeImage = static_cast<DWORD>(rowBytes * height);
    object->rowBytes = static_cast<LONG>(rowBytes);
    if (depth <= 8) {
        const DWORD full = 1u << depth;
        const DWORD count =
            header.biClrUsed == 0 || header.biClrUsed > full ? full : header.biClrUsed;
        object->palette.assign(info->bmiColors, info->bmiColors + count);
    }
    object->pixels.assign(static_cast<std::size_t>(rowBytes * height), 0);
    {
        std::lock_guard lock(g_objectMutex);
        Objects().insert(object);
    }
    if (bits) *bits = object->pixels.data();
    return object;
}

BOOL DeleteObject(HGDIOBJ object) {
    {
        std::lock_guard lock(g_objectMutex);
        if (object == nullptr || Objects().erase(object) == 0) return FALSE;
    }
    delete object;
    return TRUE;
}

INT GetObjectA(HGDIOBJ object, INT size, void* out) {
    if (!IsObject(object)) return 0;
    if (out == nullptr) return static_cast<INT>(sizeof(DIBSECTION));
    DIBSECTION section{};
    section.dsBm.bmType = 0;
    section.dsBm.bmWidth = object->header.biWidth;
    section.dsBm.bmHeight = std::abs(object->header.biHeight);
    section.dsBm.bmWidthBytes = object->rowBytes;
    section.dsBm.bmPlanes = 1;
    section.dsBm.bmBitsPixel = object->header.biBitCount;
    section.dsBm.bmBits = object->pixels.data();
    section.dsBmih = object->header;
    if (size >= static_cast<INT>(sizeof(DIBSECTION))) {
        std::memcpy(out, &section, sizeof section);
        return static_cast<INT>(sizeof(DIBSECTION));
    }
    if (size >= static_cast<INT>(sizeof(BITMAP))) {
        std::memcpy(out, &section.dsBm, sizeof(BITMAP));
        return static_cast<INT>(sizeof(BITMAP));
    }
    return 0;
}

UINT GetDIBColorTable(HBITMAP bitmap, UINT start, UINT count, RGBQUAD* colours) {
    if (!IsObject(bitmap) || colours == nullptr || start >= bitmap->palette.size()) return 0;
    const UINT available = static_cast<UINT>(bitmap->palette.size()) - start;
    const UINT copied = count < available ? count : available;
    std::memcpy(colours, bitmap->palette.data() + start, copied * sizeof(RGBQUAD));
    return copied;
}
