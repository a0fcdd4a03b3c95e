#pragma once
// The ZSoft PCX codec: probe, read (1-bit, 4-bit packed, 4 bit planes,
// 8-bit, 24-bit as three planes) and write run-length encoded version 5
// files of 1, 8 and 24 bits.
#include "Codec.h"
#include "platform/ByteSource.h"
#include "platform/ComPtr.h"

namespace rastrel {

struct PcxHeader {
    BYTE version;
    LONG width, height;
    BYTE bitsPerPixel, planes;
    WORD bytesPerLine;
    WORD paletteInfo;
    int outputDepth; // planes x bits; 8 for 16-colour files; also the save depth
};

// The routines that read take the source at any position and leave it anywhere.
int ProbePcx(platform::ByteSource& source, PcxHeader& header);
int ReadPcx(platform::ByteSource& source, CodecImage& image, IProgressSink* sink,
            ProgressRecord* progress);
// Entries read into palette (room for 256).
int ReadPcxPalette(platform::ByteSource& source, RGBQUAD* palette);
// Each bit of a 1-bit image's rectangle as 255 (set) or 0 into an 8-bit image.
int ExpandMonochrome(const CodecImage& monochrome, CodecImage& grey);
int WritePcx(const char* fileName, CodecImage& image, IProgressSink* sink,
             ProgressRecord* progress);

// Whether the file is long enough to hold the rows its header declares.
bool PcxSizeDescribable(platform::ByteSource& source, const PcxHeader& header);
// The bitmap format a file loads into before any conversion.
inline DWORD PcxFormat(const PcxHeader& header) {
    return header.outputDepth == 24 ? PF_RGB24 : PF_PALETTE8;
}
// Reads a probed file into `bitmap` (new and empty) in the file's own
// format, then converts it to `format`, replacing it.
HRESULT ReadPcxBitmap(platform::ByteSource& source, const PcxHeader& header, DWORD format,
                      IProgressSink* sink, ComPtr<IBitmapImage>& bitmap);

} // namespace rastrel
