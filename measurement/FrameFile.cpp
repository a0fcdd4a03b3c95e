#include "measurement/FrameFile.h"

#include "common/Errors.h"
#include "common/FileIO.h"
#include "common/NumberText.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace merkanix {

namespace {

std::string Field(const std::string& name, std::size_t position, std::size_t length) {
    // Positions count from 1, as in the name pattern; a short name gives a
    // short or empty field, which then fails to convert.
    if (position - 1 >= name.size()) return {};
    return name.substr(position - 1, length);
}

} // namespace

std::vector<std::uint16_t> ReadFrameSamples(const std::string& path) {
    std::vector<std::uint16_t> samples;
    ReadFrameSamples(path, samples);
    return samples;
}

std::size_t ReadFrameSamples(const std::string& path, std::vector<std::uint16_t>& samples) {
    const FileDescriptor file = OpenForReading(path);

    samples.resize(kFrameSamples);
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
    // A short file leaves the missing samples 0.
    const std::size_t held = got / 2;
    std::fill(samples.begin() + static_cast<std::ptrdiff_t>(held), samples.end(), std::uint16_t{0});
    if constexpr (std::endian::native == std::endian::big)
        for (auto& s : samples)
            s = static_cast<std::uint16_t>((s >> 8) | (s << 8));
    return held;
}

void SamplesToPicture(const std::vector<std::uint16_t>& samples, Picture& box) {
    if (box.width <= 0 || box.height <= 0) box.Resize(kFrameWidth, kFrameHeight);
    box.Resize(box.width, box.height);
    const std::size_t count = std::min<std::size_t>(samples.size(), kFrameSamples);
    const std::uint16_t* in = samples.data();
    std::uint16_t max = 0;
    for (std::size_t i = 0; i < count; ++i)
        max = in[i] > max ? in[i] : max;

    // One grey pixel per possible sample (the same arithmetic, done once),
    // held as blue, green, red and a spare byte so a pixel is one store.
    thread_local std::uint32_t grey[65536];
    if (max == 0) {
        grey[0] = 0;
    } else {
        const auto greyOf = [max](std::uint32_t v) {
            return static_cast<std::uint32_t>(
                RoundHalfEven(static_cast<double>(v) / static_cast<double>(max) * 255.0));
        };
        // The scaling never decreases with v, so each grey level is one run of
        // samples: find where each run ends instead of scaling every value.
        std::uint32_t first = 0;
        while (first <= max) {
            const std::uint32_t level = greyOf(first);
            std::uint32_t low = first, high = max + 1; // greyOf(low) == level, high past the run
            while (high - low > 1) {
                const std::uint32_t mid = low + (high - low) / 2;
                (greyOf(mid) == level ? low : high) = mid;
            }
            std::fill(grey + first, grey + high, level * 0x010101u);
            first = high;
        }
    }

    // Pixel (x, y) shows sample y * width + x whatever the box's size; past
    // the samples it is black.
    const std::size_t pixels = static_cast<std::size_t>(box.width) * box.height;
    const std::size_t shown = std::min(pixels, count);
    std::uint8_t* out = box.bgr.data();
    // Four bytes per store: the spare byte is overwritten by the next pixel;
    // the last pixel is written byte by byte so nothing lands past the picture.
    std::size_t i = 0;
#pragma GCC unroll 8
    for (; i + 1 < shown; ++i, out += 3)
        std::memcpy(out, &grey[in[i]], 4);
    for (; i < shown; ++i, out += 3)
        out[0] = out[1] = out[2] = static_cast<std::uint8_t>(grey[in[i]]);
    std::fill(out, box.bgr.data() + pixels * 3, std::uint8_t{0});
}

std::size_t LoadFrame(const std::string& path, Picture& box) {
    // Reused per thread: a fresh 645 KB buffer per frame costs more than the scaling.
    thread_local std::vector<std::uint16_t> samples;
    const std::size_t held = ReadFrameSamples(path, samples);
    SamplesToPicture(samples, box);
    return held;
}

TDateTime FrameTimeStamp(const std::string& fileName) {
    TDateTime value = 0;
    try {
        DateTimeParts parts;
        parts.year = ParseInteger(Field(fileName, 9, 4));
        parts.month = ParseInteger(Field(fileName, 13, 2));
        parts.day = ParseInteger(Field(fileName, 15, 2));
        parts.hour = ParseInteger(Field(fileName, 18, 2));
        parts.minute = ParseInteger(Field(fileName, 20, 2));
        parts.second = ParseInteger(Field(fileName, 22, 2));
        parts.millisecond = ParseInteger(Field(fileName, 25, 3));
        value = EncodeDateTime(parts);
    } catch (const ConversionError& e) {
        // One bad name among thousands stops a whole folder: say which.
        throw ConversionError(std::string(e.what()) + " in the frame name \"" + fileName + "\"");
    }
    SetLongTimeFormat("hh:mm:ss.z");
    return value;
}

} // namespace merkanix
