#include "platform/Kernel.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits>
#include <link.h>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

thread_local DWORD t_lastError = 0;

} // namespace

DWORD SystemErrorFromErrno(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

namespace {

// dlopen hands out one handle per library; the platform's handle is the load
// address, so the two are kept side by side with the load count.
struct LoadedModule {
    void* handle = nullptr;
    int loads = 0;
};
std::mutex g_moduleMutex;
std::unordered_map<const void*, LoadedModule>& Modules() {
    static auto* modules = new std::unordered_map<const void*, LoadedModule>;
    return *modules;
}

const void* LoadAddressOf(void* handle) {
    link_map* map = nullptr;
    if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return nullptr;
    Dl_info info{};
    if (::dladdr(map->l_ld, &info) == 0) return nullptr;
    return info.dli_fbase;
}

// Global memory blocks carry their size in front of the data.
struct GlobalBlock {
    std::size_t size;
    std::size_t locks;
    alignas(std::max_align_t) unsigned char data[1];
};
constexpr std::size_t kBlockHeader = offsetof(GlobalBlock, data);

GlobalBlock* BlockOf(HGLOBAL block) {
    return static_cast<GlobalBlock*>(block);
}

int FdOf(HANDLE file) {
    const auto value = reinterpret_cast<std::intptr_t>(file);
    return static_cast<int>(value - 1);
}
HANDLE HandleOfFd(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd) + 1);
}

} // namespace

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD code) {
    t_lastError = code;
}

HMODULE LoadLibraryA(const char* path) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* handle = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        SetLastError(::access(path, F_OK) == 0 ? ERROR_MOD_NOT_FOUND : ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    const void* base = LoadAddressOf(handle);
    if (base == nullptr) {
        ::dlclose(handle);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard lock(g_moduleMutex);
    LoadedModule& module = Modules()[base];
    module.handle = handle;
    ++module.loads;
    return static_cast<HMODULE>(const_cast<void*>(base));
}

BOOL FreeLibrary(HMODULE module) {
    void* handle = nullptr;
    {
        std::lock_guard lock(g_moduleMutex);
        auto found = Modules().find(module);
        if (found == Modules().end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        handle = found->second.handle;
        if (--found->second.loads == 0) Modules().erase(found);
    }
    ::dlclose(handle);
    return TRUE;
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    void* handle = nullptr;
    {
        std::lock_guard lock(g_moduleMutex);
        auto found = Modules().find(module);
        if (found != Modules().end()) handle = found->second.handle;
    }
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = ::dlsym(handle, name);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

DWORD GetModuleFileNameA(HMODULE module, char* path, DWORD size) {
    std::string name;
    if (module == nullptr) {
        name = "/proc/self/exe";
    } else {
        Dl_info info{};
        if (::dladdr(module, &info) == 0 || info.dli_fname == nullptr) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        name = info.dli_fname;
    }
    char resolved[PATH_MAX];
    if (::realpath(name.c_str(), resolved) == nullptr) {
        SetLastError(SystemErrorFromErrno(errno));
        return 0;
    }
    const std::size_t length = std::strlen(resolved);
    if (size == 0 || path == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (length >= size) {
        std::memcpy(path, resolved, size - 1);
        path[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(path, resolved, length + 1);
    return static_cast<DWORD>(length);
}

BOOL GetModuleHandleExA(DWORD flags, const char* nameOrAddress, HMODULE* module) {
    if (module == nullptr || (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Dl_info info{};
    if (::dladdr(nameOrAddress, &info) == 0) {
        *module = nullptr;
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    *module = static_cast<HMODULE>(info.dli_fbase);
    return TRUE;
}

HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes) {
    if (bytes > std::numeric_limits<std::size_t>::max() - kBlockHeader) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* memory = (flags & GMEM_ZEROINIT) ? std::calloc(1, kBlockHeader + bytes)
                                           : std::malloc(kBlockHeader + bytes);
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* block = static_cast<GlobalBlock*>(memory);
    block->size = bytes;
    block->locks = 0;
    return block;
}

HGLOBAL GlobalReAlloc(HGLOBAL block, std::size_t bytes, UINT flags) {
    if (block == nullptr || bytes > std::numeric_limits<std::size_t>::max() - kBlockHeader) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::size_t old = BlockOf(block)->size;
    void* memory = std::realloc(block, kBlockHeader + bytes);
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* grown = static_cast<GlobalBlock*>(memory);
    if ((flags & GMEM_ZEROINIT) && bytes > old) std::memset(grown->data + old, 0, bytes - old);
    grown->size = bytes;
    return grown;
}

void* GlobalLock(HGLOBAL block) {
    if (block == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    ++BlockOf(block)->locks;
    return BlockOf(block)->data;
}

BOOL GlobalUnlock(HGLOBAL block) {
    if (block == nullptr || BlockOf(block)->locks == 0) return FALSE;
    return --BlockOf(block)->locks > 0 ? TRUE : FALSE;
}

std::size_t GlobalSize(HGLOBAL block) {
    return block == nullptr ? 0 : BlockOf(block)->size;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    std::free(block);
    return nullptr;
}

HFILE _lopen(const char* path, INT mode) {
    const int flags = (mode & 3) == OF_WRITE       ? O_WRONLY
                      : (mode & 3) == OF_READWRITE ? O_RDWR
                                                   : O_RDONLY;
    const int fd = ::open(path, flags | O_CLOEXEC);
    if (fd < 0) SetLastError(SystemErrorFromErrno(errno));
    return fd < 0 ? HFILE_ERROR : fd;
}

HFILE _lcreat(const char* path, INT) {
    const int fd = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) SetLastError(SystemErrorFromErrno(errno));
    return fd < 0 ? HFILE_ERROR : fd;
}

UINT _lread(HFILE file, void* buffer, UINT count) {
    UINT done = 0;
    while (done < count) {
        const ssize_t n = ::read(file, static_cast<char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done == 0 ? static_cast<UINT>(HFILE_ERROR) : done;
        if (n == 0) break;
        done += static_cast<UINT>(n);
    }
    return done;
}

UINT _lwrite(HFILE file, const void* buffer, UINT count) {
    UINT done = 0;
    while (done < count) {
        const ssize_t n = ::write(file, static_cast<const char*>(buffer) + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            SetLastError(n < 0 && (errno == ENOSPC || errno == EDQUOT) ? ERROR_DISK_FULL
                                                                       : ERROR_WRITE_FAULT);
            return static_cast<UINT>(HFILE_ERROR);
        }
        done += static_cast<UINT>(n);
    }
    return done;
}

LONG _llseek(HFILE file, LONG offset, INT origin) {
    const int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
    const off_t at = ::lseek(file, offset, whence);
    if (at < 0 || at > std::numeric_limits<LONG>::max()) return HFILE_ERROR;
    return static_cast<LONG>(at);
}

HFILE _lclose(HFILE file) {
    return ::close(file) == 0 ? 0 : HFILE_ERROR;
}

HANDLE CreateFileA(const char* path, DWORD access, DWORD, void*, DWORD creation, DWORD, HANDLE) {
    int flags = O_CLOEXEC;
    const bool reads = (access & GENERIC_READ) != 0, writes = (access & GENERIC_WRITE) != 0;
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    switch (creation) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        flags |= O_TRUNC;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const int fd = path == nullptr ? -1 : ::open(path, flags, 0666);
    if (fd < 0) {
        SetLastError(path == nullptr ? ERROR_INVALID_PARAMETER : SystemErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    return HandleOfFd(fd);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* done, void*) {
    if (done) *done = 0;
    if (file == INVALID_HANDLE_VALUE || file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD total = 0;
    while (total < count) {
        const ssize_t n = ::read(FdOf(file), static_cast<char*>(buffer) + total, count - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            SetLastError(ERROR_READ_FAULT);
            if (done) *done = total;
            return FALSE;
        }
        if (n == 0) break;
        total += static_cast<DWORD>(n);
    }
    if (done) *done = total;
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD count, DWORD* done, void*) {
    if (done) *done = 0;
    if (file == INVALID_HANDLE_VALUE || file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD total = 0;
    while (total < count) {
        const ssize_t n =
            ::write(FdOf(file), static_cast<const char*>(buffer) + total, count - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            SetLastError(n < 0 && (errno == ENOSPC || errno == EDQUOT) ? ERROR_DISK_FULL
                                                                       : ERROR_WRITE_FAULT);
            if (done) *done = total;
            return FALSE;
        }
        total += static_cast<DWORD>(n);
    }
    if (done) *done = total;
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
    off_t offset = distance;
    if (distanceHigh != nullptr)
        offset = static_cast<off_t>(
            (static_cast<std::uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
            static_cast<DWORD>(distance));
    const int whence = method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : SEEK_SET;
    const off_t at = ::lseek(FdOf(file), offset, whence);
    if (at < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(at >> 32);
    return static_cast<DWORD>(at & 0xFFFFFFFF);
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
    struct stat status {};
    if (::fstat(FdOf(file), &status) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(status.st_size >> 32);
    return static_cast<DWORD>(status.st_size & 0xFFFFFFFF);
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || ::close(FdOf(handle)) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE HandleFromDescriptor(int fd) {
    return fd < 0 ? INVALID_HANDLE_VALUE : HandleOfFd(fd);
}

BOOL DeleteFileA(const char* path) {
    if (path == nullptr || ::unlink(path) != 0) {
        SetLastError(path == nullptr ? ERROR_INVALID_PARAMETER : SystemErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}
