#pragma once
// The JPEG codec: sequential Huffman-coded files (baseline and extended,
// any sampling factors from 1 to 4) read into 8- or 24-bit codec images,
// and baseline JFIF files written from them with the example tables of
// ITU-T T.81 Annex K.
#include "Codec.h"
#include "platform/ByteSource.h"
#include "platform/ComPtr.h"

namespace rastrel {

inline constexpr int kCodecNotJpeg = -43;

struct JpegHeader {
    int frameType; // low four bits of the start-of-frame marker, -1 until one is seen
    int width, height;
    int components;
    int precision;
    int sampling[4]; // horizontal * 16 + vertical
    int outputDepth; // 8 for one component, 24 otherwise
};

// The routines that read take the source at any position and leave it anywhere.
int ProbeJpeg(platform::ByteSource& source, JpegHeader& header);
int ReadJpeg(platform::ByteSource& source, CodecImage& image, IProgressSink* sink,
             ProgressRecord* progress);
// Quantisation table 0 (luminance) or 1 (chrominance) for a quality,
// natural order.
void MakeQuantisationTable(int quality, int table, std::uint16_t* out);
int WriteJpeg(const char* fileName, CodecImage& image, int quality, IProgressSink* sink,
              ProgressRecord* progress);

// The bitmap format a file loads into before any conversion: grey files
// into a grey palette.
inline DWORD JpegFormat(const JpegHeader& header) {
    return header.components == 1 ? PF_PALETTE8 : PF_RGB24;
}
// Reads a probed file into `bitmap` (new and empty) in the file's own
// format, then converts it to `format`, replacing it.
HRESULT ReadJpegBitmap(platform::ByteSource& source, const JpegHeader& header, DWORD format,
                       IProgressSink* sink, ComPtr<IBitmapImage>& bitmap);

} // namespace rastrel
