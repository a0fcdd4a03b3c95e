#pragma once
// Camera frame files: 174 header bytes, then 656 x 492 little-endian 16-bit
// samples, row 0 first; camera and capture time in the 31-character name.
#include "common/DateTime.h"
#include "common/Picture.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace merkanix {

inline constexpr int kFrameWidth = 656;
inline constexpr int kFrameHeight = 492;
inline constexpr int kFrameSamples = kFrameWidth * kFrameHeight; // 322752
inline constexpr int kFrameHeaderBytes = 174;
inline constexpr int kFrameFileBytes = kFrameHeaderBytes + 2 * kFrameSamples;
inline constexpr int kFrameNameLength = 31;

// Reads the samples of a frame file. A short file leaves the remaining
// samples 0; data past a full frame is ignored. Throws InOutError naming
// the file when it cannot be opened or read.
std::vector<std::uint16_t> ReadFrameSamples(const std::string& path);
// The same into a buffer the caller keeps; it becomes exactly one frame long.
// Returns the number of samples the file held (kFrameSamples when complete).
std::size_t ReadFrameSamples(const std::string& path, std::vector<std::uint16_t>& samples);

// Loads a frame into the picture of an image box as grey, scaled so that the
// brightest sample becomes 255. The picture keeps its size (656 x 492 when
// it has none yet). On error the picture is left as it was. Returns the
// number of samples the file held, so that callers can tell a short frame.
std::size_t LoadFrame(const std::string& path, Picture& box);
// The grey conversion alone, for callers that already hold the samples.
void SamplesToPicture(const std::vector<std::uint16_t>& samples, Picture& box);

// Capture time from a bare file name; also sets the long time format to
// "hh:mm:ss.z". Throws ConversionError, naming the file, for fields that
// are not numbers or do not form a date and time.
TDateTime FrameTimeStamp(const std::string& fileName);

} // namespace merkanix
