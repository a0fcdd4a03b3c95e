#pragma once
// The codec image the file codecs read into and write from, their error
// codes, and the progress state they share while one operation runs.
#include "rastrel.h"

namespace rastrel {

enum CodecResult : int {
    kCodecOk = 0,
    kCodecBadImage = -1,
    kCodecWriteError = -3,
    kCodecCannotOpen = -4,
    kCodecNotTiff = -6,
    kCodecUnsupported = -9,
    kCodecCannotCreate = -10,
    kCodecCompressedHeader = -12,
    kCodecNoMemory = -14,
    kCodecNotPcx = -16,
    kCodecNotTarga = -25,
    kCodecBadDepth = -26,
    kCodecCannotLock = -40,
    kCodecCancelled = -66,
};

// A device-independent bitmap in one movable block (header, palette, rows
// bottom first) and the rectangle of interest, inclusive, top = row 0 of
// the picture as seen.
struct CodecImage {
    BYTE* pixels;
    LONG left, top, right, bottom;
    LONG rowBytes;
    RGBQUAD* palette;
    LONG paletteEntries;
    DWORD flags; // bit 0: the palette is a generated grey ramp
    BITMAPINFOHEADER* header;
    HGLOBAL memory; // the block the fields above point into
};

inline constexpr DWORD kGreyRampFlag = 1;

// -14 (before allocating) when the rows would pass RASTREL_MAX_PIXEL_BYTES.
int AllocateCodecImage(CodecImage& image, LONG width, LONG height, int bits);
void FreeCodecImage(CodecImage& image);
// A codec image over rows that live elsewhere (a bitmap object's): the codec
// reads into or writes from them directly. Its memory is not freed.
void DescribeCodecImage(CodecImage& image, BITMAPINFOHEADER* header, BYTE* pixels);
// Checks the image and normalises its rectangle before a read or write;
// the PCX and TIFF codecs also take 1-bit images.
int ValidateCodecImage(CodecImage& image, bool monochromeToo = false);
void PutGreyRamp(CodecImage& image);

// The sink and record of the operation under way (module-wide: one load or
// save at a time). CodecStep calls Step and reports a cancel.
void SetCodecProgress(IProgressSink* sink, ProgressRecord* progress);
// The phase count a load or save announced to its sink (0 outside one), so
// the conversions inside it report the same count in their records.
void SetOperationPhases(LONG phases);
LONG OperationPhases();
bool CodecStepCancelled();

// 0 is S_OK, a cancel is E_ABORT, every other code E_FAIL.
HRESULT CodecResultToHresult(int code);

} // namespace rastrel
