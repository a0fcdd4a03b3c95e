#pragma once
// Scratch folders, hand-made frame files and failure messages for the tests.
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace merkanix::testing {

// A fresh folder under the system's temporary folder, removed at the end.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "merkanix-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // Everything in the folder, hidden files included.
    std::size_t Entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path_),
                                                      std::filesystem::directory_iterator()));
    }

private:
    std::string path_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A frame file: `header` bytes of 0xFF (never read) and the samples
// little-endian.
inline void WriteFrame(const std::string& path, const std::vector<std::uint16_t>& samples,
                       std::size_t header = 174) {
    std::string bytes(header, '\xFF');
    for (std::uint16_t s : samples) {
        bytes += static_cast<char>(s & 0xFF);
        bytes += static_cast<char>(s >> 8);
    }
    WriteBytes(path, bytes);
}

// A full frame: rows [top, bottom) at `dark`, the rest at `bright`.
inline std::vector<std::uint16_t> BandSamples(int top, int bottom, std::uint16_t bright = 40000,
                                              std::uint16_t dark = 4000) {
    std::vector<std::uint16_t> samples(656 * 492, bright);
    for (int y = top; y < bottom; ++y)
        for (int x = 0; x < 656; ++x)
            samples[static_cast<std::size_t>(y) * 656 + x] = dark;
    return samples;
}

// The message of the exception of type E that `action` throws, or "no error".
template <typename E = std::exception, typename Action> std::string MessageOf(Action&& action) {
    try {
        action();
    } catch (const E& e) {
        return e.what();
    }
    return "no error";
}

} // namespace merkanix::testing
