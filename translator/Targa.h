#pragma once
// The Truevision Targa codec: probe, read (8, 16, 24 and 32 bits, plain
// and run-length encoded) into 8- or 24-bit codec images, and write 24-bit
// files, plain or run-length encoded, with the version 2 footer.
#include "Codec.h"

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

int ProbeTarga(const char* fileName, TargaHeader& header);
int ReadTarga(const char* fileName, CodecImage& image, IProgressSink* sink,
              ProgressRecord* progress);
// Entries read into palette (room for 256), 0 when the file has no colour map.
int ReadTargaPalette(const char* fileName, RGBQUAD* palette);
int WriteTarga(const char* fileName, CodecImage& image, bool runLength, IProgressSink* sink,
               ProgressRecord* progress);

} // namespace rastrel
