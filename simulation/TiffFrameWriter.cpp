#include "simulation/TiffFrameWriter.h"

#include "app/Errors.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

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

// Closes and removes the temporary file unless it was handed over.
class TemporaryFile {
public:
    TemporaryFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!committed_) ::unlink(path_.c_str());
    }
    int Fd() const { return fd_; }
    const std::string& Path() const { return path_; }
    // Returns errno of a failed close, 0 otherwise.
    int Close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : errno;
    }
    void Committed() { committed_ = true; }

private:
    std::string path_;
    int fd_;
    bool committed_ = false;
};

TemporaryFile CreateTemporaryBeside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // A leading dot keeps the half-written file out of frame-name scans.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = folder + "." + base + ".tmp" + std::to_string(::getpid()) +
                                      "-" + std::to_string(counter++);
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return TemporaryFile(candidate, fd);
        if (errno != EEXIST) ThrowFileError("Cannot create file", path, errno);
    }
    ThrowFileError("Cannot create file", path, EEXIST);
}

void WriteAll(int fd, const std::uint8_t* data, std::size_t size, const std::string& path) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("Cannot write file", path, errno);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

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

void ReplaceFileContents(const std::string& path, const void* data, std::size_t size) {
    TemporaryFile temporary = CreateTemporaryBeside(path);
    WriteAll(temporary.Fd(), static_cast<const std::uint8_t*>(data), size, path);
    // No fsync: these are reproducible test data, and a crash only loses the
    // file, never exposes a partial one under its final name.
    if (const int error = temporary.Close(); error != 0)
        ThrowFileError("Cannot write file", path, error);
    if (::rename(temporary.Path().c_str(), path.c_str()) != 0)
        ThrowFileError("Cannot create file", path, errno);
    temporary.Committed();
}

void WriteFrameFile(const std::string& path, const std::vector<std::uint16_t>& samples) {
    if (samples.size() != static_cast<std::size_t>(kFrameSamples))
        throw std::invalid_argument("a frame has " + std::to_string(kFrameSamples) +
                                    " samples, not " + std::to_string(samples.size()));
    std::vector<std::uint8_t> bytes(kFrameFileBytes);
    const FrameHeader header = TiffFrameHeader();
    std::copy(header.begin(), header.end(), bytes.begin());
    std::uint8_t* out = bytes.data() + kFrameHeaderBytes;
    for (const std::uint16_t sample : samples) { // little-endian whatever the host
        *out++ = static_cast<std::uint8_t>(sample);
        *out++ = static_cast<std::uint8_t>(sample >> 8);
    }
    ReplaceFileContents(path, bytes.data(), bytes.size());
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
