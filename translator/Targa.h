#pragma once
// The Truevision Targa codec: probe, read (8, 16, 24 and 32 bits, plain
// and run-length encoded) into 8- or 24-bit codec images, and write 24-bit
// files, plain or run-length encoded, with the version 2 footer.
#include "Codec.h"
#include "platform/ByteSource.h"
#include "platform/ComPtr.h"

namespace rastrel {

struct TargaHeader {
    BYTE idLength;
    BYTE colourMapType;
    BYTE imageType;
    WORD firstEntry;
    WORD colourMapLength;
    BYTE colourMapEntrySize;
    WORD xOrigin, yOrigin;
    WORD width, height;
    BYTE pixelDepth;
    BYTE descriptor;
    int outputDepth; // 8 for 8-bit pixels, else 24
};

// The routines that read take the source at any position and leave it anywhere.
int ProbeTarga(platform::ByteSource& source, TargaHeader& header);
int ReadTarga(platform::ByteSource& source, CodecImage& image, IProgressSink* sink,
              ProgressRecord* progress);
// Entries read into palette (room for 256), 0 when the file has no colour map.
int ReadTargaPalette(platform::ByteSource& source, RGBQUAD* palette);
// The bitmap format a file loads into before any conversion.
inline DWORD TargaFormat(const TargaHeader& header) {
    return header.outputDepth == 8 ? PF_PALETTE8 : PF_RGB24;
}
// Reads a probed file into `bitmap` (new and empty) in the file's own
// format, then converts it to `format`, replacing it.
HRESULT ReadTargaBitmap(platform::ByteSource& source, const TargaHeader& header, DWORD format,
                        IProgressSink* sink, ComPtr<IBitmapImage>& bitmap);
int WriteTarga(const char* fileName, CodecImage& image, bool runLength, IProgressSink* sink,
               ProgressRecord* progress);

} // namespace rastrel
