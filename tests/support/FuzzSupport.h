#pragma once
// Hands fuzz input to routines that read files: an anonymous in-memory file.
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace merkanix::fuzzing {

class MemoryFile {
public:
    MemoryFile(const std::uint8_t* data, std::size_t size)
        : fd_(::memfd_create("fuzz", MFD_CLOEXEC)) {
        if (fd_ < 0) __builtin_trap();
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n <= 0) __builtin_trap();
            done += static_cast<std::size_t>(n);
        }
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

} // namespace merkanix::fuzzing
