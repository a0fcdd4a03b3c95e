#include "simulation/TiffFrameWriter.h"

#include "common/FileIO.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace merkanix::simulation {

namespace {

constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kTypeRational = 5;

constexpr int kEntryCount = 12;
constexpr std::uint32_t kFirstIfdOffset = 8;
constexpr std::uint32_t kXResolutionOffset = kFirstIfdOffset + 2 + 12 * kEntryCount + 4; // 158
constexpr std::uint32_t kYResolutionOffset = kXResolutionOffset + 8;                     // 166
static_assert(kYResolutionOffset + 8 == kFrameHeaderBytes);

// 25.4 mm / 0.0056 mm per pixel = 31750/7 pixels per inch: the sensor's own
// resolution, so that viewers can show the frame at true size.
constexpr std::uint32_t kResolutionNumerator = 31750;
constexpr std::uint32_t kResolutionDenominator = 7;

class HeaderBuilder {
public:
    explicit HeaderBuilder(FrameHeader& header) : header_(header) {}

    void U16(std::size_t at, std::uint32_t value) {
        header_[at] = static_cast<std::uint8_t>(value);
        header_[at + 1] = static_cast<std::uint8_t>(value >> 8);
    }
    void U32(std::size_t at, std::uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i)
            header_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    // Entries must come in ascending tag order; a value of one SHORT sits in
    // the low half of the field.
    void Entry(std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        const std::size_t at = kFirstIfdOffset + 2 + 12 * next_++;
        U16(at, tag);
        U16(at + 2, type);
        U32(at + 4, 1);
        U32(at + 8, value);
    }
    int Entries() const { return static_cast<int>(next_); }

private:
    FrameHeader& header_;
    std::size_t next_ = 0;
};

} // namespace

FrameHeader TiffFrameHeader() {
    FrameHeader header{};
    HeaderBuilder b(header);
    header[0] = 'I';
    header[1] = 'I';
    b.U16(2, 42);
    b.U32(4, kFirstIfdOffset);
    b.U16(kFirstIfdOffset, kEntryCount);
    b.Entry(256, kTypeShort, kFrameWidth);
    b.Entry(257, kTypeShort, kFrameHeight);
    b.Entry(258, kTypeShort, 16);                    // BitsPerSample
    b.Entry(259, kTypeShort, 1);                     // Compression: none
    b.Entry(262, kTypeShort, 1);                     // PhotometricInterpretation: BlackIsZero
    b.Entry(273, kTypeLong, kFrameHeaderBytes);      // StripOffsets
    b.Entry(277, kTypeShort, 1);                     // SamplesPerPixel
    b.Entry(278, kTypeLong, kFrameHeight);           // RowsPerStrip
    b.Entry(279, kTypeLong, 2 * kFrameSamples);      // StripByteCounts
    b.Entry(282, kTypeRational, kXResolutionOffset); // XResolution
    b.Entry(283, kTypeRational, kYResolutionOffset); // YResolution
    b.Entry(296, kTypeShort, 2);                     // ResolutionUnit: inch
    if (b.Entries() != kEntryCount) throw std::logic_error("TIFF entry count");
    b.U32(kXResolutionOffset - 4, 0); // no further IFD
    b.U32(kXResolutionOffset, kResolutionNumerator);
    b.U32(kXResolutionOffset + 4, kResolutionDenominator);
    b.U32(kYResolutionOffset, kResolutionNumerator);
    b.U32(kYResolutionOffset + 4, kResolutionDenominator);
    return header;
}

void WriteFrameFile(const std::string& path, const std::vector<std::uint16_t>& samples) {
    if (samples.size() != static_cast<std::size_t>(kFrameSamples))
        throw std::invalid_argument("a frame has " + std::to_string(kFrameSamples) +
                                    " samples, not " + std::to_string(samples.size()));
    std::string bytes(kFrameFileBytes, '\0');
    const FrameHeader header = TiffFrameHeader();
    std::copy(header.begin(), header.end(), bytes.begin());
    char* out = bytes.data() + kFrameHeaderBytes;
    for (const std::uint16_t sample : samples) { // little-endian whatever the host
        *out++ = static_cast<char>(sample & 0xFF);
        *out++ = static_cast<char>(sample >> 8);
    }
    // No flush to the disk: these are reproducible test data, and a crash
    // only loses the file, never exposes a partial one under its final name.
    ReplaceFileContents(path, bytes);
}

std::string FrameFileName(int camera, const DateTimeParts& t) {
    if (camera < 1 || camera > 3)
        throw std::invalid_argument("camera number " + std::to_string(camera) + " is not 1..3");
    if (t.year < 1000 || t.year > 9999)
        throw std::invalid_argument("year " + std::to_string(t.year) +
                                    " does not fit a frame name");
    char name[kFrameNameLength + 1];
    const int length =
        std::snprintf(name, sizeof name, "Camera%d_%04d%02d%02d_%02d%02d%02d_%03d.tif", camera,
                      t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
    if (length != kFrameNameLength)
        throw std::invalid_argument("date-time fields do not fit a frame name");
    return name;
}

std::string FrameFileName(int camera, TDateTime time) {
    return FrameFileName(camera, DecodeDateTime(time));
}

} // namespace merkanix::simulation
