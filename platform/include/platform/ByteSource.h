#pragma once
// Bytes in and out of the codecs and the compound-file reader: one source
// that reads a file or a memory buffer with every read checked against its
// end, the little- and big-endian fields both file families use, a chunked
// reader for codecs that decode from a window of the data, and the stores
// writers build their headers with. Self-contained: POSIX and the standard
// library only.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace platform {

// Fields of bytes already in memory; the caller has checked the bounds.
inline std::uint16_t LoadU16Le(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t LoadU32Le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint64_t LoadU64Le(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(LoadU32Le(p)) | static_cast<std::uint64_t>(LoadU32Le(p + 4))
                                                          << 32;
}
inline std::uint16_t LoadU16Be(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
inline std::uint32_t LoadU32Be(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

inline std::uint64_t LoadU64Be(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(LoadU32Be(p)) << 32 | LoadU32Be(p + 4);
}

inline void StoreU16Le(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void StoreU32Le(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
inline void StoreU64Le(std::uint8_t* p, std::uint64_t value) {
    StoreU32Le(p, static_cast<std::uint32_t>(value));
    StoreU32Le(p + 4, static_cast<std::uint32_t>(value >> 32));
}
inline void StoreU16Be(std::uint8_t* p, std::uint16_t value) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}
inline void StoreU32Be(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(value >> (8 * (3 - i)));
}

// A file opened for reading, or a buffer (borrowed or owned). Reads stop at
// the end and say how much they read; nothing is ever read past a buffer.
// The position may be set past the end, where reads find nothing, as with
// a file.
class ByteSource {
public:
    // An empty buffer.
    ByteSource() = default;
    // A buffer that must outlive the source.
    ByteSource(const void* data, std::size_t size)
        : data_(static_cast<const std::uint8_t*>(data)), size_(size) {}
    // A buffer the source keeps.
    explicit ByteSource(std::vector<std::uint8_t> bytes)
        : owned_(std::move(bytes)), data_(owned_.data()), size_(owned_.size()) {}
    ~ByteSource() { Close(); }
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;
    ByteSource(ByteSource&& other) noexcept { *this = std::move(other); }
    ByteSource& operator=(ByteSource&& other) noexcept {
        if (this != &other) {
            Close();
            // A moved vector keeps its storage, so data_ stays valid.
            owned_ = std::move(other.owned_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
            position_ = std::exchange(other.position_, 0);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }

    // Reads the file from now on; false when it cannot be opened.
    bool OpenFile(const char* path) {
        Close();
        fd_ = path == nullptr ? -1 : ::open(path, O_RDONLY | O_CLOEXEC);
        return fd_ >= 0;
    }
    // Closes a file; a buffer stays readable.
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    // Up to `count` bytes from the position on; `done` says how many, fewer
    // only at the end. False on a read error (done: what came before it).
    bool Read(void* buffer, std::size_t count, std::size_t& done) {
        done = 0;
        if (fd_ < 0) {
            const std::uint64_t left = position_ < size_ ? size_ - position_ : 0;
            done = static_cast<std::size_t>(count < left ? count : left);
            if (done > 0) std::memcpy(buffer, data_ + position_, done);
            position_ += done;
            return true;
        }
        while (done < count) {
            const ssize_t n = ::read(fd_, static_cast<char*>(buffer) + done, count - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) break;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    // What could be read: fewer bytes at the end or after a read error.
    std::size_t Read(void* buffer, std::size_t count) {
        std::size_t done = 0;
        Read(buffer, count, done);
        return done;
    }
    // True only when all `count` bytes were there.
    bool ReadExact(void* buffer, std::size_t count) {
        std::size_t done = 0;
        return Read(buffer, count, done) && done == count;
    }

    bool U8(std::uint8_t& value) { return ReadExact(&value, 1); }
    bool U16Le(std::uint16_t& value) { return Field(value, LoadU16Le); }
    bool U32Le(std::uint32_t& value) { return Field(value, LoadU32Le); }
    bool U16Be(std::uint16_t& value) { return Field(value, LoadU16Be); }
    bool U32Be(std::uint32_t& value) { return Field(value, LoadU32Be); }

    // Up to `count` bytes at `offset`, leaving the position alone, so that
    // several readers may share one source. Returns how many were read.
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) const {
        if (fd_ < 0) {
            const std::uint64_t left = offset < size_ ? size_ - offset : 0;
            const std::size_t done = static_cast<std::size_t>(count < left ? count : left);
            if (done > 0) std::memcpy(buffer, data_ + offset, done);
            return done;
        }
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::pread(fd_, static_cast<char*>(buffer) + done, count - done,
                                      static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

    // Any position from the start, also past the end.
    bool Seek(std::uint64_t position) {
        if (fd_ < 0) {
            position_ = position;
            return true;
        }
        return ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) >= 0;
    }
    // `back` bytes before the end; false when the source is shorter.
    bool SeekFromEnd(std::uint64_t back) {
        if (fd_ < 0) {
            if (back > size_) return false;
            position_ = size_ - back;
            return true;
        }
        return ::lseek(fd_, -static_cast<off_t>(back), SEEK_END) >= 0;
    }
    std::uint64_t Position() const {
        if (fd_ < 0) return position_;
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        return at < 0 ? 0 : static_cast<std::uint64_t>(at);
    }
    // The length in bytes; false when a file's cannot be had.
    bool Size(std::uint64_t& size) const {
        if (fd_ < 0) {
            size = size_;
            return true;
        }
        struct stat status {};
        if (::fstat(fd_, &status) != 0) return false;
        size = static_cast<std::uint64_t>(status.st_size);
        return true;
    }

private:
    template <class T, class Load> bool Field(T& value, Load load) {
        std::uint8_t bytes[sizeof(T)];
        if (!ReadExact(bytes, sizeof bytes)) return false;
        value = load(bytes);
        return true;
    }

    std::vector<std::uint8_t> owned_;
    const std::uint8_t* data_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    int fd_ = -1;
};

// A window on a source for decoders that look ahead: Ensure makes bytes
// available through one buffer, read a chunk at a time; Data points at
// them until Advance consumes them.
class ChunkedReader {
public:
    ChunkedReader(ByteSource& source, std::size_t capacity, std::size_t chunk)
        : source_(source), buffer_(capacity), chunk_(chunk) {}
    // Makes at least `want` bytes available (up to the capacity) unless the
    // source ends first; returns how many are.
    std::size_t Ensure(std::size_t want) {
        if (filled_ - position_ >= want || ended_) return filled_ - position_;
        const std::size_t rest = filled_ - position_;
        std::memmove(buffer_.data(), buffer_.data() + position_, rest);
        position_ = 0;
        filled_ = rest;
        while (filled_ < want && !ended_ && filled_ < buffer_.size()) {
            const std::size_t room =
                chunk_ < buffer_.size() - filled_ ? chunk_ : buffer_.size() - filled_;
            std::size_t got = 0;
            source_.Read(buffer_.data() + filled_, room, got);
            // A read error ends the data where the end of the source would.
            if (got == 0)
                ended_ = true;
            else
                filled_ += got;
        }
        return filled_;
    }
    const std::uint8_t* Data() const { return buffer_.data() + position_; }
    void Advance(std::size_t bytes) { position_ += bytes; }

private:
    ByteSource& source_;
    std::vector<std::uint8_t> buffer_;
    std::size_t chunk_;
    std::size_t filled_ = 0, position_ = 0;
    bool ended_ = false;
};

} // namespace platform
