#include "platform/OutputFile.h"

#include "platform/Kernel.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

bool Fail(int error) {
    SetLastError(SystemErrorFromErrno(error));
    errno = error;
    return false;
}

// The file a name stands for once its links are followed; the name itself
// when it does not exist yet (or its links lead nowhere).
std::string Resolved(const std::string& path) {
    char resolved[PATH_MAX];
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode) &&
        ::realpath(path.c_str(), resolved) != nullptr)
        return resolved;
    return path;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The process id in a temporary's name, or 0 when the name is not one.
pid_t TemporaryOwner(const std::string& entry, const std::string& name) {
    auto digits = [](const std::string& text, std::size_t from, std::size_t to) {
        if (from >= to || to > text.size()) return false;
        for (std::size_t i = from; i < to; ++i)
            if (text[i] < '0' || text[i] > '9') return false;
        return true;
    };
    std::size_t start = 0, end = 0;
    const std::string hidden = "." + name + ".", legacy = name + ".tmp.";
    if (entry.starts_with(hidden) && entry.ends_with(".tmp")) {
        start = hidden.size();
        end = entry.find('.', start);
        const std::size_t counter = end == std::string::npos ? end : end + 1;
        if (end == std::string::npos || !digits(entry, counter, entry.size() - 4)) return 0;
    } else if (entry.starts_with(legacy)) {
        start = legacy.size();
        end = entry.size();
    } else {
        return 0;
    }
    if (!digits(entry, start, end) || end - start > 9) return 0;
    return static_cast<pid_t>(std::stol(entry.substr(start, end - start)));
}

} // namespace

void RemoveStaleTemporaries(const char* path) {
    const std::string target = Resolved(path), folder = FolderOf(target), name = NameOf(target);
    DIR* directory = ::opendir(folder.empty() ? "." : folder.c_str());
    if (directory == nullptr) return;
    while (const dirent* entry = ::readdir(directory)) {
        const pid_t owner = TemporaryOwner(entry->d_name, name);
        if (owner > 0 && ::kill(owner, 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(directory), entry->d_name, 0);
    }
    ::closedir(directory);
}

bool OutputFile::Create(const char* path) {
    Discard();
    if (path == nullptr || *path == 0) return Fail(ENOENT);
    final_ = Resolved(path);
    struct stat status {};
    const bool exists = ::stat(final_.c_str(), &status) == 0;
    if (exists && S_ISDIR(status.st_mode)) return Fail(EISDIR);
    if (exists && !S_ISREG(status.st_mode)) {
        fd_ = ::open(final_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd_ < 0) return Fail(errno);
        inPlace_ = true;
        working_ = final_;
        return true;
    }
    // Hidden, and unique per process and call, so that two saves to one
    // name never share a temporary; O_EXCL never follows a planted link.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        working_ = FolderOf(final_) + "." + NameOf(final_) + "." + std::to_string(::getpid()) +
                   "." + std::to_string(counter++) + ".tmp";
        fd_ = ::open(working_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) {
        const int error = errno;
        working_.clear();
        return Fail(error);
    }
    // A replaced file keeps its permissions.
    if (exists) (void)::fchmod(fd_, status.st_mode & 07777);
    return true;
}

bool OutputFile::Write(const void* bytes, std::size_t count) {
    if (fd_ < 0) return Fail(EBADF);
    const auto* at = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t n = ::write(fd_, at, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail(n < 0 ? errno : ENOSPC);
        at += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool OutputFile::Commit() {
    if (fd_ < 0) return Fail(EBADF);
    // No fsync: saves keep the speed of a plain write; a full disk shows at
    // write() or close() on the file systems we run on.
    int error = ::close(fd_) != 0 ? errno : 0;
    fd_ = -1;
    if (error == 0 && !inPlace_ && ::rename(working_.c_str(), final_.c_str()) != 0) error = errno;
    if (error != 0) {
        Discard();
        return Fail(error);
    }
    working_.clear();
    inPlace_ = false;
    return true;
}

void OutputFile::Discard() {
    const int saved = errno;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!inPlace_ && !working_.empty()) ::unlink(working_.c_str());
    working_.clear();
    inPlace_ = false;
    errno = saved;
}

} // namespace platform
