#include "app/FrameFile.h"

#include "app/Errors.h"
#include "app/NumberText.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace merkanix {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string Field(const std::string& name, std::size_t position, std::size_t length) {
    // Positions count from 1, as in the name pattern; a short name gives a
    // short or empty field, which then fails to convert.
    if (position - 1 >= name.size()) return {};
    return name.substr(position - 1, length);
}

} // namespace

std::vector<std::uint16_t> ReadFrameSamples(const std::string& path) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) ThrowFileError("Cannot open file", path, errno);

    // Cleared first: a short file leaves the missing samples 0.
    std::vector<std::uint16_t> samples(kFrameSamples, 0);
    auto* bytes = reinterpret_cast<unsigned char*>(samples.data());
    constexpr std::size_t kWanted = 2 * static_cast<std::size_t>(kFrameSamples);
    std::size_t got = 0;
    while (got < kWanted) {
        const ssize_t n = ::pread(file.get(), bytes + got, kWanted - got,
                                  static_cast<off_t>(kFrameHeaderBytes + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("Cannot read file", path, errno);
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    // Samples come in whole 2-byte records; a dangling odd byte is not one.
    if (got % 2 != 0) bytes[got - 1] = 0;
    if constexpr (std::endian::native == std::endian::big)
        for (auto& s : samples)
            s = static_cast<std::uint16_t>((s >> 8) | (s << 8));
    return samples;
}

void SamplesToPicture(const std::vector<std::uint16_t>& samples, Picture& box) {
    if (box.width <= 0 || box.height <= 0) box.Resize(kFrameWidth, kFrameHeight);
    box.Resize(box.width, box.height);
    const std::size_t count = std::min<std::size_t>(samples.size(), kFrameSamples);
    const std::uint16_t max =
        count == 0 ? 0
                   : *std::max_element(samples.begin(),
                                       samples.begin() + static_cast<std::ptrdiff_t>(count));

    // One grey value per possible sample: the same arithmetic, done once.
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(max) + 1, 0);
    if (max != 0)
        for (std::size_t v = 0; v <= max; ++v)
            grey[v] = static_cast<std::uint8_t>(
                RoundHalfEven(static_cast<double>(v) / static_cast<double>(max) * 255.0));

    std::uint8_t* out = box.bgr.data();
    for (int y = 0; y < box.height; ++y) {
        for (int x = 0; x < box.width; ++x, out += 3) {
            const std::size_t index = static_cast<std::size_t>(y) * box.width + x;
            const std::uint8_t g = index < count ? grey[samples[index]] : 0;
            out[0] = out[1] = out[2] = g;
        }
    }
}

void LoadFrame(const std::string& path, Picture& box) {
    const std::vector<std::uint16_t> samples = ReadFrameSamples(path);
    SamplesToPicture(samples, box);
}

TDateTime FrameTimeStamp(const std::string& fileName) {
    DateTimeParts parts;
    parts.year = ParseInteger(Field(fileName, 9, 4));
    parts.month = ParseInteger(Field(fileName, 13, 2));
    parts.day = ParseInteger(Field(fileName, 15, 2));
    parts.hour = ParseInteger(Field(fileName, 18, 2));
    parts.minute = ParseInteger(Field(fileName, 20, 2));
    parts.second = ParseInteger(Field(fileName, 22, 2));
    parts.millisecond = ParseInteger(Field(fileName, 25, 3));
    const TDateTime value = EncodeDateTime(parts);
    SetLongTimeFormat("hh:mm:ss.z");
    return value;
}

template <typename T> static void InsertionSort(T* values, int last) {
    for (int i = 1; i <= last; ++i) {
        const T held = values[i];
        int j = i - 1;
        while (j >= 0 && values[j] > held) {
            values[j + 1] = values[j];
            --j;
        }
        values[j + 1] = held;
    }
}

void SortReals(double* values, int last) {
    InsertionSort(values, last);
}
void SortIntegers(std::int32_t* values, int last) {
    InsertionSort(values, last);
}

} // namespace merkanix
