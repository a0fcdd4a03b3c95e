#pragma once
// The Windows Bitmap reader: probe and load from a byte source into a
// bitmap object, uncompressed 1 to 32 bits and run-length 4 and 8 bits.
#include "platform/ByteSource.h"
#include "platform/ComPtr.h"
#include "rastrel.h"

namespace rastrel {

// S_OK for a file that starts as a bitmap file, else S_FALSE.
HRESULT ProbeBmp(platform::ByteSource& source);
// Loads the file into a new bitmap in `format` (converted from the file's
// own when they differ); the sink gets the rows of every phase.
HRESULT ReadBmp(platform::ByteSource& source, DWORD format, IProgressSink* sink,
                ComPtr<IBitmapImage>& bitmap);

// The stored bytes of one row of `bits` bits a pixel, padded to 4 bytes.
inline DWORD StoredRowBytes(LONG width, int bits) {
    return static_cast<DWORD>((static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4);
}

} // namespace rastrel
