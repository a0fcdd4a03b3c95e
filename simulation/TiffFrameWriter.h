#pragma once
// Frame files as the cameras write them: a baseline 16-bit greyscale TIFF
// whose header is exactly 174 bytes, so the samples start where the reader
// expects them without parsing the header.
#include "common/DateTime.h"
#include "measurement/FrameFile.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace merkanix::simulation {

using FrameHeader = std::array<std::uint8_t, kFrameHeaderBytes>;

// Little-endian TIFF header and single IFD of a 656 x 492 frame, one strip
// at byte 174, uncompressed, BlackIsZero.
FrameHeader TiffFrameHeader();

// Writes header and samples (kFrameSamples of them, row 0 first) to `path`.
// The file appears complete or not at all: it is written under a temporary
// name in the same folder and renamed. Throws InOutError; throws
// std::invalid_argument for a sample count other than kFrameSamples.
void WriteFrameFile(const std::string& path, const std::vector<std::uint16_t>& samples);

// "CameraK_YYYYMMDD_HHMMSS_mmm.tif" (31 characters) for camera 1..3, the
// time rounded to the millisecond. Throws std::invalid_argument for another
// camera number or a year outside 1000..9999.
std::string FrameFileName(int camera, TDateTime time);
std::string FrameFileName(int camera, const DateTimeParts& time);

} // namespace merkanix::simulation
