#include "platform/Registry.h"

#include "RegistryFile.h"
#include "platform/OutputFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::RegistryNode;
using platform::RegistryValue;

struct RegistryKeyTag {
    std::string path; // from the root key, names separated by '\'
    REGSAM access = 0;
    bool predefined = false;
};

namespace {

RegistryKeyTag g_classesRoot{"HKEY_CLASSES_ROOT", KEY_ALL_ACCESS, true};
RegistryKeyTag g_currentUser{"HKEY_CURRENT_USER", KEY_ALL_ACCESS, true};
RegistryKeyTag g_localMachine{"HKEY_LOCAL_MACHINE", KEY_ALL_ACCESS, true};

// Open handles, so that a stale or foreign handle is refused, not followed.
std::mutex g_handleMutex;
std::set<const RegistryKeyTag*>& OpenHandles() {
    static auto* handles = new std::set<const RegistryKeyTag*>;
    return *handles;
}

bool IsValidHandle(HKEY key) {
    if (key == &g_classesRoot || key == &g_currentUser || key == &g_localMachine) return true;
    std::lock_guard lock(g_handleMutex);
    return key != nullptr && OpenHandles().count(key) > 0;
}

HKEY NewHandle(std::string path, REGSAM access) {
    auto* key = new RegistryKeyTag{std::move(path), access, false};
    std::lock_guard lock(g_handleMutex);
    OpenHandles().insert(key);
    return key;
}

std::string Join(const std::string& base, const char* subKey) {
    if (subKey == nullptr || *subKey == '\0') return base;
    std::string sub = subKey;
    while (!sub.empty() && sub.back() == '\\')
        sub.pop_back();
    return sub.empty() ? base : base + '\\' + sub;
}

bool IsValidSubKey(const char* subKey) {
    if (subKey == nullptr || *subKey == '\0') return true;
    std::string_view path = subKey;
    while (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    if (path.empty()) return true;
    while (true) {
        const std::size_t slash = path.find('\\');
        if (!platform::IsStorableKeyName(path.substr(0, slash))) return false;
        if (slash == std::string_view::npos) return true;
        path.remove_prefix(slash + 1);
    }
}

std::mutex g_problemMutex;
std::string& ProblemText() {
    static auto* text = new std::string;
    return *text;
}

// Reads the file into a tree; a missing file is an empty registry. Lines
// not understood are skipped (the problem says which); a file without its
// REGEDIT4 line is ERROR_BADDB.
LONG Load(const std::string& file, RegistryNode& tree, platform::RegistryProblem& problem) {
    problem = {};
    {
        std::lock_guard lock(g_problemMutex);
        ProblemText().clear();
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        tree = RegistryNode{};
        return errno == ENOENT || !std::filesystem::exists(file) ? ERROR_SUCCESS
                                                                 : ERROR_ACCESS_DENIED;
    }
    std::ostringstream text;
    text << in.rdbuf();
    auto parsed = platform::ParseRegistryText(text.str(), &problem);
    if (problem.badLines > 0) {
        std::lock_guard lock(g_problemMutex);
        ProblemText() = file + ": line " + std::to_string(problem.firstBadLine) + " is not a " +
                        (parsed ? "registry line" : "REGEDIT4 header") + ": " +
                        problem.firstBadText;
    }
    if (!parsed) return ERROR_BADDB;
    tree = std::move(*parsed);
    return ERROR_SUCCESS;
}

// Writes a temporary file beside the registry and renames it over it;
// temporaries that killed writers left behind go first.
LONG Store(const std::string& file, const RegistryNode& tree) {
    const std::string text = platform::WriteRegistryText(tree);
    platform::RemoveStaleTemporaries(file.c_str());
    platform::OutputFile output;
    if (!output.Create(file.c_str())) return ERROR_ACCESS_DENIED;
    if (!output.Write(text.data(), text.size()) || ::fsync(output.Descriptor()) != 0 ||
        !output.Commit())
        return ERROR_WRITE_FAULT;
    return ERROR_SUCCESS;
}

// One lock per process for the registry file: a batch holds the file's
// lock across many changes, the changes inside it take only the mutex.
std::recursive_mutex g_registryMutex;
int g_batchDepth = 0;
int g_batchFd = -1;

int LockFile(const std::string& file) {
    std::error_code error;
    const auto folder = std::filesystem::path(file).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
    const int fd = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    return fd;
}

// Holds the registry's lock file for one read-change-write (or finds it
// held by the batch under way).
class FileLock {
public:
    explicit FileLock(const std::string& file) : guard_(g_registryMutex) {
        if (g_batchDepth == 0) fd_ = LockFile(file);
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool Held() const { return fd_ >= 0 || g_batchFd >= 0; }

private:
    std::lock_guard<std::recursive_mutex> guard_;
    int fd_ = -1;
};

// Runs a change under the lock; the file is rewritten only when the change
// says it changed something.
template <class Change> LONG Update(Change change) {
    const std::string file = RegistryFilePath();
    FileLock lock(file);
    if (!lock.Held()) return ERROR_ACCESS_DENIED;
    RegistryNode tree;
    platform::RegistryProblem problem;
    if (const LONG loaded = Load(file, tree, problem); loaded != ERROR_SUCCESS) return loaded;
    // Rewriting would drop the lines that were not understood.
    if (problem.badLines > 0) return ERROR_BADDB;
    bool changed = false;
    const LONG result = change(tree, changed);
    if (result != ERROR_SUCCESS || !changed) return result;
    return Store(file, tree);
}

// The last file read, kept while the file is unchanged: a client that
// creates objects by the thousand does not parse the registry each time.
struct CachedTree {
    std::string file;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    std::shared_ptr<RegistryNode> tree;
};
std::mutex g_cacheMutex;
CachedTree& Cache() {
    static auto* cache = new CachedTree;
    return *cache;
}

template <class Look> LONG Read(Look look) {
    const std::string file = RegistryFilePath();
    struct stat status {};
    const bool exists = ::stat(file.c_str(), &status) == 0;
    std::shared_ptr<RegistryNode> tree;
    if (exists) {
        std::lock_guard lock(g_cacheMutex);
        const CachedTree& cache = Cache();
        if (cache.tree && cache.file == file && cache.device == status.st_dev &&
            cache.inode == status.st_ino && cache.size == status.st_size &&
            cache.modified.tv_sec == status.st_mtim.tv_sec &&
            cache.modified.tv_nsec == status.st_mtim.tv_nsec)
            tree = cache.tree;
    }
    if (!tree) {
        tree = std::make_shared<RegistryNode>();
        platform::RegistryProblem problem;
        if (const LONG loaded = Load(file, *tree, problem); loaded != ERROR_SUCCESS) return loaded;
        // Once per version of the file: the keys it does hold still serve.
        if (problem.badLines > 0)
            std::fprintf(stderr, "rastrel: %s (%d such line%s skipped)\n",
                         RegistryFileProblem().c_str(), problem.badLines,
                         problem.badLines == 1 ? "" : "s");
        if (exists) {
            std::lock_guard lock(g_cacheMutex);
            Cache() = {file, status.st_dev, status.st_ino, status.st_size, status.st_mtim, tree};
        }
    }
    return look(*tree);
}

LONG OpenOrCreate(HKEY key, const char* subKey, REGSAM access, HKEY* result, bool create,
                  DWORD* disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    if (!IsValidHandle(key)) return ERROR_INVALID_HANDLE;
    if (!IsValidSubKey(subKey)) return ERROR_INVALID_PARAMETER;
    const std::string path = Join(key->path, subKey);
    LONG status;
    bool created = false;
    if (create) {
        if (path != key->path && !(key->access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
        status = Update([&](RegistryNode& tree, bool& changed) {
            if (tree.Find(key->path) == nullptr && !key->predefined) return ERROR_KEY_DELETED;
            tree.Create(path, &created);
            changed = created;
            return ERROR_SUCCESS;
        });
    } else {
        status = Read([&](RegistryNode& tree) {
            if (tree.Find(path) != nullptr || (path == key->path && key->predefined))
                return ERROR_SUCCESS;
            return ERROR_FILE_NOT_FOUND;
        });
    }
    if (status != ERROR_SUCCESS) return status;
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(path, access);
    return ERROR_SUCCESS;
}

} // namespace

RegistryBatch::RegistryBatch() {
    g_registryMutex.lock();
    if (g_batchDepth++ == 0) g_batchFd = LockFile(RegistryFilePath());
}

RegistryBatch::~RegistryBatch() {
    if (--g_batchDepth == 0 && g_batchFd >= 0) {
        ::close(g_batchFd);
        g_batchFd = -1;
    }
    g_registryMutex.unlock();
}

std::string RegistryFileProblem() {
    std::lock_guard lock(g_problemMutex);
    return ProblemText();
}

HKEY const HKEY_CLASSES_ROOT = &g_classesRoot;
HKEY const HKEY_CURRENT_USER = &g_currentUser;
HKEY const HKEY_LOCAL_MACHINE = &g_localMachine;

std::string RegistryFilePath() {
    if (const char* named = std::getenv("RASTREL_REGISTRY"); named && *named) return named;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        return std::string(config) + "/rastrel/registry.reg";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/rastrel/registry.reg";
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, const char*, DWORD, REGSAM access, void*,
                     HKEY* result, DWORD* disposition) {
    return OpenOrCreate(key, subKey, access, result, true, disposition);
}

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM access, HKEY* result) {
    return OpenOrCreate(key, subKey, access, result, false, nullptr);
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD size) {
    if (!IsValidHandle(key)) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string name = valueName ? valueName : "";
    if (!platform::IsStorableValueName(name) || (data == nullptr && size > 0))
        return ERROR_INVALID_PARAMETER;
    return Update([&](RegistryNode& tree, bool& changed) {
        RegistryNode* node = tree.Find(key->path);
        if (node == nullptr) {
            if (!key->predefined) return ERROR_KEY_DELETED;
            node = tree.Create(key->path, nullptr);
        }
        RegistryValue value{name, type, std::vector<BYTE>(data, data + size)};
        if (RegistryValue* existing = node->Value(name)) {
            changed = existing->type != type || existing->data != value.data;
            existing->type = type;
            existing->data = std::move(value.data);
        } else {
            node->values.push_back(std::move(value));
            changed = true;
        }
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data,
                      DWORD* size) {
    if (!IsValidHandle(key)) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    const std::string name = valueName ? valueName : "";
    return Read([&](RegistryNode& tree) {
        RegistryNode* node = tree.Find(key->path);
        if (node == nullptr) return key->predefined ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        RegistryValue* value = node->Value(name);
        if (value == nullptr) return ERROR_FILE_NOT_FOUND;
        if (type) *type = value->type;
        const auto needed = static_cast<DWORD>(value->data.size());
        LONG status = ERROR_SUCCESS;
        if (data != nullptr) {
            if (*size < needed)
                status = ERROR_MORE_DATA;
            else if (needed > 0)
                std::memcpy(data, value->data.data(), needed);
        }
        if (size) *size = needed;
        return status;
    });
}

LONG RegDeleteValueA(HKEY key, const char* valueName) {
    if (!IsValidHandle(key)) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    const std::string name = valueName ? valueName : "";
    return Update([&](RegistryNode& tree, bool& changed) {
        RegistryNode* node = tree.Find(key->path);
        if (node == nullptr) return key->predefined ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
        RegistryValue* value = node->Value(name);
        if (value == nullptr) return ERROR_FILE_NOT_FOUND;
        node->values.erase(node->values.begin() + (value - node->values.data()));
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    if (!IsValidHandle(key)) return ERROR_INVALID_HANDLE;
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    if (!IsValidSubKey(subKey)) return ERROR_INVALID_PARAMETER;
    const std::string path = Join(key->path, subKey);
    if (path == key->path && key->predefined) return ERROR_ACCESS_DENIED;
    return Update([&](RegistryNode& tree, bool& changed) {
        RegistryNode* node = tree.Find(path);
        if (node == nullptr) return ERROR_FILE_NOT_FOUND;
        if (!node->children.empty()) return ERROR_ACCESS_DENIED;
        const std::size_t slash = path.rfind('\\');
        RegistryNode* parent = tree.Find(path.substr(0, slash));
        parent->children.erase(path.substr(slash + 1));
        changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*, char* keyClass,
                   DWORD* classSize, void*) {
    if (!IsValidHandle(key)) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
    return Read([&](RegistryNode& tree) {
        RegistryNode* node = tree.Find(key->path);
        if (node == nullptr) return key->predefined ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
        if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
        auto child = node->children.begin();
        std::advance(child, index);
        const std::string& childName = child->second->name;
        if (childName.size() + 1 > *nameSize) return ERROR_MORE_DATA;
        std::memcpy(name, childName.c_str(), childName.size() + 1);
        *nameSize = static_cast<DWORD>(childName.size());
        if (keyClass != nullptr && classSize != nullptr && *classSize > 0) *keyClass = '\0';
        if (classSize != nullptr) *classSize = 0;
        return ERROR_SUCCESS;
    });
}

// Every change is already on disk when its call returns.
LONG RegFlushKey(HKEY key) {
    return IsValidHandle(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegCloseKey(HKEY key) {
    if (key == &g_classesRoot || key == &g_currentUser || key == &g_localMachine)
        return ERROR_SUCCESS;
    {
        std::lock_guard lock(g_handleMutex);
        if (key == nullptr || OpenHandles().erase(key) == 0) return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}
