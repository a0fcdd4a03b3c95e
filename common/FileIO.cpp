#include "common/FileIO.h"

#include "common/Errors.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace merkanix {

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

FileDescriptor::FileDescriptor(FileDescriptor&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    FileDescriptor moved(std::move(other));
    std::swap(fd_, moved.fd_);
    return *this;
}

int FileDescriptor::Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0 ? 0 : errno;
}

FileDescriptor OpenForReading(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) ThrowFileError("Cannot open file", path, errno);
    return file;
}

void WriteAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowFileError("Cannot write file", path, errno);
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
}

namespace {

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
public:
    TemporaryFile(std::string path, FileDescriptor file)
        : path_(std::move(path)), file_(std::move(file)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        file_ = FileDescriptor();
        if (!committed_) ::unlink(path_.c_str());
    }
    int Fd() const { return file_.get(); }
    const std::string& Path() const { return path_; }
    int Close() { return file_.Close(); }
    void Committed() { committed_ = true; }

private:
    std::string path_;
    FileDescriptor file_;
    bool committed_ = false;
};

TemporaryFile CreateTemporaryBeside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    // A leading dot keeps the half-written file out of frame-name scans.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = folder + "." + base + ".tmp" + std::to_string(::getpid()) + "-" +
                                std::to_string(counter++);
        FileDescriptor file(
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (file.get() >= 0) return TemporaryFile(std::move(candidate), std::move(file));
        if (errno != EEXIST) ThrowFileError("Cannot create file", path, errno);
    }
    ThrowFileError("Cannot create file", path, EEXIST);
}

} // namespace

void ReplaceFileContents(const std::string& path, std::string_view data,
                         const ReplaceOptions& options) {
    TemporaryFile temporary = CreateTemporaryBeside(path);
    WriteAll(temporary.Fd(), data, path);
    if (options.syncBeforeRename && ::fsync(temporary.Fd()) != 0)
        ThrowFileError("Cannot write file", path, errno);
    if (const int error = temporary.Close(); error != 0)
        ThrowFileError("Cannot write file", path, error);
    if (::rename(temporary.Path().c_str(), path.c_str()) != 0)
        ThrowFileError(options.renameFailure, path, errno);
    temporary.Committed();
}

} // namespace merkanix
