#pragma once
// The DIB section of the platform's graphics interface: a bitmap whose rows
// the caller writes directly, handed to other components by handle.
#include "platform/Kernel.h"

struct DeviceContextTag;
struct GdiObjectTag;
using HDC = DeviceContextTag*;
using HGDIOBJ = GdiObjectTag*;
using HBITMAP = HGDIOBJ;

inline constexpr UINT DIB_RGB_COLORS = 0;

struct BITMAP {
    LONG bmType;
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};
struct DIBSECTION {
    BITMAP dsBm;
    BITMAPINFOHEADER dsBmih;
    DWORD dsBitfields[3];
    HANDLE dshSection;
    DWORD dsOffset;
};

// Sections of 1, 4, 8, 16, 24 and 32 bits without compression; *bits gets
// the zero-filled rows (bottom row first for a positive height).
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD offset);
BOOL DeleteObject(HGDIOBJ object);
// Fills a BITMAP (or a DIBSECTION when size allows) for a section; returns
// the bytes stored, 0 for an unknown handle.
INT GetObjectA(HGDIOBJ object, INT size, void* out);
// The palette of an 8-, 4- or 1-bit section (biClrUsed entries, or all).
UINT GetDIBColorTable(HBITMAP bitmap, UINT start, UINT count, RGBQUAD* colours);
