#pragma once
// POSIX file helpers: an owned descriptor, whole writes, and replacing a
// file through a temporary beside it.
#include <string>
#include <string_view>

namespace merkanix {

// Closes the descriptor it owns.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(FileDescriptor&& other) noexcept;
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    // Closes it now; returns errno of a failed close, 0 otherwise.
    int Close();

private:
    int fd_;
};

// Opens a file for reading. Throws InOutError "Cannot open file ...".
FileDescriptor OpenForReading(const std::string& path);

// Writes all of `data`, continuing after interruptions. Throws InOutError
// "Cannot write file ..." naming `path`.
void WriteAll(int fd, std::string_view data, const std::string& path);

struct ReplaceOptions {
    // Flushed to the disk before the rename, for files a crash must not take.
    bool syncBeforeRename = false;
    // What a failed rename reports.
    const char* renameFailure = "Cannot create file";
};

// Replaces `path` with `data`: written under a hidden temporary name in the
// same folder and renamed over it, so the file appears complete or not at
// all and a failed write never destroys what was there. The temporary is
// removed on failure. Throws InOutError naming `path`.
void ReplaceFileContents(const std::string& path, std::string_view data,
                         const ReplaceOptions& options = {});

} // namespace merkanix
