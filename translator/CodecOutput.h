#pragma once
// The file a codec writes: a temporary beside the name (platform's
// OutputFile), filled through one buffer written out a chunk at a time, put
// under the name only by Finish; any other end leaves the name as it was.
#include "Codec.h"
#include "platform/OutputFile.h"

#include <vector>

namespace rastrel {

class CodecOutput {
public:
    CodecOutput(const char* fileName, std::size_t capacity) {
        if (fileName != nullptr && file_.Create(fileName)) buffer_.resize(capacity);
    }

    bool Created() const { return file_.IsOpen(); }
    std::size_t Used() const { return used_; }
    std::size_t Room() const { return buffer_.size() - used_; }
    BYTE* End() { return buffer_.data() + used_; }
    void Grow(std::size_t bytes) { used_ += bytes; }
    bool Flush() {
        const bool ok = used_ == 0 || file_.Write(buffer_.data(), used_);
        used_ = 0;
        return ok;
    }
    // Bytes straight to the file, after what is buffered.
    bool Write(const void* bytes, std::size_t count) {
        return Flush() && file_.Write(bytes, count);
    }
    // Writes what is left and puts the file under its name: kCodecOk, or
    // kCodecWriteError with the name untouched.
    int Finish() { return Flush() && file_.Commit() ? kCodecOk : kCodecWriteError; }

private:
    platform::OutputFile file_;
    std::vector<BYTE> buffer_;
    std::size_t used_ = 0;
};

} // namespace rastrel
