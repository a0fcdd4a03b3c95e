#pragma once
// PNG files through libpng: probe, read any colour type and depth into a
// 24- or 32-bit bitmap, write Adam7-interlaced 8-bit RGB files.
#include "platform/ByteSource.h"
#include "platform/ComPtr.h"
#include "rastrel.h"

namespace rastrel {

// S_OK for the PNG signature, S_FALSE for other bytes, E_FAIL for fewer
// than 8 bytes.
HRESULT ProbePng(platform::ByteSource& source);
// Reads the file into `bitmap` (new and empty) in the file's own format
// (0x400, or 0x800 with alpha), then converts it to `format`, replacing it.
// Every libpng error is E_FAIL, a cancel E_ABORT; `bitmap` is then empty.
HRESULT ReadPngBitmap(platform::ByteSource& source, DWORD format, IProgressSink* sink,
                      ComPtr<IBitmapImage>& bitmap);

} // namespace rastrel
