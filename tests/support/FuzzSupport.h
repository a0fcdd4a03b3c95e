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
        // A memory file takes a fuzz input's few bytes in one write.
        if (fd_ < 0 || ::write(fd_, data, size) != static_cast<ssize_t>(size)) __builtin_trap();
    }
    ~MemoryFile() { ::close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

} // namespace merkanix::fuzzing
