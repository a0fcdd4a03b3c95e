#pragma once
// The TIFF codec: probe the first directory in either byte order, read 1,
// 4-6, 8, 16 (as 8) and 24 bits per pixel, uncompressed, PackBits, LZW
// (with or without horizontal differencing) or CCITT (modified Huffman,
// Group 3 one- and two-dimensional, Group 4), and write uncompressed 8- and
// 24-bit files with a fixed header block.
#include "Codec.h"
#include "platform/ByteSource.h"
#include "platform/ComPtr.h"

namespace rastrel {

// A tag's values: where they start in the file, their type and count.
struct TiffValues {
    DWORD position = 0;
    WORD type = 0;
    DWORD count = 0;
};

struct TiffHeader {
    WORD byteOrder = 0; // 0 "II", 1 "MM"
    DWORD width = 0, height = 0;
    WORD bitsPerSample = 1; // 24 for three samples of 8
    WORD compression = 1;
    WORD samplesPerPixel = 1;
    WORD photometric = 1;
    WORD planarConfiguration = 1;
    int outputDepth = 0; // 1, 8 or 24
    WORD predictor = 1;
    WORD fillOrder = 1;
    DWORD t4Options = 0;
    DWORD rowsPerStrip = 0; // 0: all rows in one strip
    TiffValues stripOffsets, stripByteCounts, colourMap;
};

inline constexpr WORD kTiffNone = 1, kTiffHuffman = 2, kTiffGroup3 = 3, kTiffGroup4 = 4,
                      kTiffLzw = 5, kTiffPackBits = 32773;

// The routines that read take the source at any position and leave it anywhere.
int ProbeTiff(platform::ByteSource& source, TiffHeader& header);
int ReadTiff(platform::ByteSource& source, CodecImage& image, IProgressSink* sink,
             ProgressRecord* progress);
// Entries read into palette (room for 256), 0 without a colour map.
int ReadTiffPalette(platform::ByteSource& source, RGBQUAD* palette);
// Compression index 0 (none) is the only one written.
int WriteTiff(const char* fileName, CodecImage& image, int compressionIndex, IProgressSink* sink,
              ProgressRecord* progress);

// Whether the file is long enough to hold the rows its header declares in
// its compression (no allocation is made for rows it cannot hold).
bool TiffSizeDescribable(platform::ByteSource& source, const TiffHeader& header);
inline DWORD TiffFormat(const TiffHeader& header) {
    return header.outputDepth == 24 ? PF_RGB24 : PF_PALETTE8;
}
// Reads a probed file into `bitmap` (new and empty) in the file's own
// format, then converts it to `format`, replacing it.
HRESULT ReadTiffBitmap(platform::ByteSource& source, const TiffHeader& header, DWORD format,
                       IProgressSink* sink, ComPtr<IBitmapImage>& bitmap);

// The CCITT code tables are prefix-free (false: a table is damaged).
bool CcittTablesSound();

} // namespace rastrel
