#pragma once
// The file a codec writes: created on construction, filled through one
// buffer written out a chunk at a time, and deleted again unless Finish
// closed it after every byte went out.
#include "Codec.h"
#include "platform/Kernel.h"

#include <cstring>
#include <string>
#include <vector>

namespace rastrel {

class CodecOutput {
public:
    CodecOutput(const char* fileName, std::size_t capacity)
        : name_(fileName ? fileName : ""), handle_(fileName ? _lcreat(fileName, 0) : HFILE_ERROR) {
        if (handle_ != HFILE_ERROR) buffer_.resize(capacity);
    }
    ~CodecOutput() {
        if (handle_ == HFILE_ERROR) return;
        _lclose(handle_);
        DeleteFileA(name_.c_str());
    }
    CodecOutput(const CodecOutput&) = delete;
    CodecOutput& operator=(const CodecOutput&) = delete;

    bool Created() const { return handle_ != HFILE_ERROR; }
    std::size_t Used() const { return used_; }
    std::size_t Room() const { return buffer_.size() - used_; }
    BYTE* End() { return buffer_.data() + used_; }
    void Grow(std::size_t bytes) { used_ += bytes; }
    bool Flush() {
        const bool ok = used_ == 0 || _lwrite(handle_, buffer_.data(), static_cast<UINT>(used_)) ==
                                          static_cast<UINT>(used_);
        used_ = 0;
        return ok;
    }
    // Bytes straight to the file, after what is buffered.
    bool Write(const void* bytes, std::size_t count) {
        return Flush() && _lwrite(handle_, bytes, static_cast<UINT>(count)) == count;
    }
    bool Seek(LONG offset) { return Flush() && _llseek(handle_, offset, 0) == offset; }
    // Writes what is left and closes: kCodecOk, or kCodecWriteError with the
    // file gone.
    int Finish() {
        const bool flushed = Flush();
        const bool closed = _lclose(handle_) == 0;
        handle_ = HFILE_ERROR;
        if (flushed && closed) return kCodecOk;
        DeleteFileA(name_.c_str());
        return kCodecWriteError;
    }

private:
    std::string name_;
    HFILE handle_;
    std::vector<BYTE> buffer_;
    std::size_t used_ = 0;
};

} // namespace rastrel
