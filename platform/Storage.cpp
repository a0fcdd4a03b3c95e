#include "platform/Storage.h"

#include "CompoundFile.h"
#include "platform/Com.h"
#include "platform/OutputFile.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <new>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using platform::cfb::Entry;

namespace {

bool ToPath(LPCOLESTR name, std::string& path) {
    if (name == nullptr || *name == 0) return false;
    path.clear();
    for (const OLECHAR* p = name; *p != 0; ++p) {
        char32_t c = *p;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (p[1] < 0xDC00 || p[1] > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        if (c < 0x80) {
            path.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            path.push_back(static_cast<char>(0xC0 | (c >> 6)));
            path.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            path.push_back(static_cast<char>(0xE0 | (c >> 12)));
            path.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            path.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            path.push_back(static_cast<char>(0xF0 | (c >> 18)));
            path.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            path.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            path.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

bool ElementName(LPCOLESTR name, std::u16string& out) {
    if (name == nullptr) return false;
    out.assign(name);
    return platform::cfb::IsValidName(out);
}

} // namespace

HRESULT StgErrorFromErrno(int error) {
    switch (error) {
    case ENOENT:
        return STG_E_FILENOTFOUND;
    case ENOTDIR:
        return STG_E_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
        return STG_E_ACCESSDENIED;
    case ENOSPC:
        return STG_E_MEDIUMFULL;
    case ENOMEM:
        return STG_E_INSUFFICIENTMEMORY;
    default:
        return STG_E_WRITEFAULT;
    }
}

namespace {

bool CanWrite(DWORD mode) {
    return (mode & 3) == STGM_WRITE || (mode & 3) == STGM_READWRITE;
}
bool CanRead(DWORD mode) {
    return (mode & 3) != STGM_WRITE;
}

LPOLESTR CopyName(const std::u16string& name) {
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
    if (copy != nullptr) std::memcpy(copy, name.c_str(), (name.size() + 1) * sizeof(OLECHAR));
    return copy;
}

// One open compound file: its tree, shared by every element opened from it,
// and written back when committed and when its last element goes.
class Docfile {
public:
    Docfile(std::string path, DWORD mode, std::shared_ptr<Entry> root)
        : path_(std::move(path)), mode_(mode), root_(std::move(root)) {}
    ~Docfile() {
        if (dirty_ && !(mode_ & STGM_TRANSACTED)) Flush();
    }
    Docfile(const Docfile&) = delete;
    Docfile& operator=(const Docfile&) = delete;

    const std::shared_ptr<Entry>& Root() const { return root_; }
    const std::string& Path() const { return path_; }
    bool Writable() const { return CanWrite(mode_); }
    void Touch() { dirty_ = true; }

    HRESULT Flush() {
        if (!Writable()) return S_OK;
        std::vector<BYTE> image;
        try {
            if (const HRESULT hr = platform::cfb::WriteImage(*root_, image); FAILED(hr)) return hr;
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
        // A temporary file renamed over the old one: a failed write keeps it whole.
        platform::OutputFile output;
        if (!output.Create(path_.c_str()) || !output.Write(image.data(), image.size()) ||
            !output.Commit())
            return StgErrorFromErrno(errno);
        dirty_ = false;
        return S_OK;
    }

    // Elements are opened exclusively: one object per element at a time.
    bool Claim(const Entry* entry) { return open_.insert(entry).second; }
    void Unclaim(const Entry* entry) { open_.erase(entry); }

private:
    std::string path_;
    DWORD mode_;
    std::shared_ptr<Entry> root_;
    bool dirty_ = false;
    std::set<const Entry*> open_;
};

template <class Interface> class Element : public Interface {
public:
    Element(std::shared_ptr<Docfile> doc, std::shared_ptr<Entry> entry, DWORD mode)
        : doc_(std::move(doc)), entry_(std::move(entry)), mode_(mode) {}
    virtual ~Element() { doc_->Unclaim(entry_.get()); }
    Element(const Element&) = delete;
    Element& operator=(const Element&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_INVALIDARG;
        if (riid == IID_IUnknown || Answers(riid)) {
            *ppv = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual bool Answers(REFIID riid) const = 0;
    void FillStat(STATSTG* status, DWORD flags, const std::u16string& name, DWORD type,
                  std::uint64_t size) const {
        std::memset(status, 0, sizeof *status);
        if (!(flags & STATFLAG_NONAME)) status->pwcsName = CopyName(name);
        status->type = type;
        status->cbSize.QuadPart = size;
        status->mtime = {static_cast<DWORD>(entry_->modified),
                         static_cast<DWORD>(entry_->modified >> 32)};
        status->ctime = {static_cast<DWORD>(entry_->created),
                         static_cast<DWORD>(entry_->created >> 32)};
        status->grfMode = mode_;
        status->clsid = entry_->clsid;
        status->grfStateBits = entry_->stateBits;
    }

    std::shared_ptr<Docfile> doc_;
    std::shared_ptr<Entry> entry_;
    DWORD mode_;

private:
    std::atomic<ULONG> references_{1};
};

class StreamObject final : public Element<IStream> {
public:
    using Element::Element;

    HRESULT Read(void* buffer, ULONG count, ULONG* read) override {
        if (read) *read = 0;
        if (entry_->destroyed) return STG_E_REVERTED;
        if (buffer == nullptr && count > 0) return STG_E_INVALIDPOINTER;
        if (!CanRead(mode_)) return STG_E_ACCESSDENIED;
        const std::vector<BYTE>& data = entry_->data;
        const std::uint64_t available = position_ < data.size() ? data.size() - position_ : 0;
        const auto n = static_cast<ULONG>(std::min<std::uint64_t>(count, available));
        if (n > 0) std::memcpy(buffer, data.data() + position_, n);
        position_ += n;
        if (read) *read = n;
        return n == count ? S_OK : S_FALSE;
    }

    HRESULT Write(const void* buffer, ULONG count, ULONG* written) override {
        if (written) *written = 0;
        if (entry_->destroyed) return STG_E_REVERTED;
        if (buffer == nullptr && count > 0) return STG_E_INVALIDPOINTER;
        if (!CanWrite(mode_)) return STG_E_ACCESSDENIED;
        if (count == 0) return S_OK;
        if (position_ + count > platform::cfb::kMaxStreamSize) return STG_E_MEDIUMFULL;
        std::vector<BYTE>& data = entry_->data;
        try {
            if (data.size() < position_ + count) data.resize(position_ + count, 0);
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        std::memcpy(data.data() + position_, buffer, count);
        position_ += count;
        doc_->Touch();
        if (written) *written = count;
        return S_OK;
    }

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        if (entry_->destroyed) return STG_E_REVERTED;
        LONGLONG base;
        switch (origin) {
        case STREAM_SEEK_SET:
            base = 0;
            break;
        case STREAM_SEEK_CUR:
            base = static_cast<LONGLONG>(position_);
            break;
        case STREAM_SEEK_END:
            base = static_cast<LONGLONG>(entry_->data.size());
            break;
        default:
            return STG_E_INVALIDFUNCTION;
        }
        const LONGLONG limit = static_cast<LONGLONG>(platform::cfb::kMaxStreamSize);
        if (move.QuadPart > limit || move.QuadPart < -limit || base + move.QuadPart < 0)
            return STG_E_INVALIDFUNCTION;
        position_ = static_cast<std::uint64_t>(base + move.QuadPart);
        if (position) position->QuadPart = position_;
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (entry_->destroyed) return STG_E_REVERTED;
        if (!CanWrite(mode_)) return STG_E_ACCESSDENIED;
        if (size.QuadPart > platform::cfb::kMaxStreamSize) return STG_E_MEDIUMFULL;
        try {
            entry_->data.resize(static_cast<std::size_t>(size.QuadPart), 0);
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        doc_->Touch();
        return S_OK;
    }

    HRESULT CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                   ULARGE_INTEGER* written) override {
        if (read) read->QuadPart = 0;
        if (written) written->QuadPart = 0;
        if (target == nullptr) return STG_E_INVALIDPOINTER;
        BYTE buffer[4096];
        std::uint64_t left = count.QuadPart;
        while (left > 0) {
            ULONG got = 0, put = 0;
            const auto want = static_cast<ULONG>(std::min<std::uint64_t>(left, sizeof buffer));
            if (const HRESULT hr = Read(buffer, want, &got); FAILED(hr)) return hr;
            if (got == 0) break;
            if (read) read->QuadPart += got;
            if (const HRESULT hr = target->Write(buffer, got, &put); FAILED(hr)) return hr;
            if (written) written->QuadPart += put;
            left -= got;
        }
        return S_OK;
    }

    HRESULT Commit(DWORD) override { return entry_->destroyed ? STG_E_REVERTED : S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT Stat(STATSTG* status, DWORD flags) override {
        if (status == nullptr) return STG_E_INVALIDPOINTER;
        if (entry_->destroyed) return STG_E_REVERTED;
        FillStat(status, flags, entry_->name, STGTY_STREAM, entry_->data.size());
        return S_OK;
    }
    HRESULT Clone(IStream** copy) override {
        if (copy) *copy = nullptr;
        return STG_E_UNIMPLEMENTEDFUNCTION;
    }

protected:
    bool Answers(REFIID riid) const override {
        return riid == IID_IStream || riid == IID_ISequentialStream;
    }

private:
    std::uint64_t position_ = 0;
};

class StorageObject final : public Element<IStorage> {
public:
    using Element::Element;

    HRESULT CreateStream(LPCOLESTR name, DWORD mode, DWORD, DWORD, IStream** stream) override {
        return CreateElement(name, mode, platform::cfb::kTypeStream,
                             reinterpret_cast<void**>(stream));
    }

    HRESULT OpenStream(LPCOLESTR name, void*, DWORD mode, DWORD, IStream** stream) override {
        return OpenElement(name, mode, platform::cfb::kTypeStream,
                           reinterpret_cast<void**>(stream));
    }

    HRESULT CreateStorage(LPCOLESTR name, DWORD mode, DWORD, DWORD, IStorage** storage) override {
        return CreateElement(name, mode, platform::cfb::kTypeStorage,
                             reinterpret_cast<void**>(storage));
    }

    HRESULT OpenStorage(LPCOLESTR name, IStorage* priority, DWORD mode, SNB exclude, DWORD,
                        IStorage** storage) override {
        if (storage) *storage = nullptr;
        if (priority != nullptr || exclude != nullptr) return STG_E_INVALIDFUNCTION;
        return OpenElement(name, mode, platform::cfb::kTypeStorage,
                           reinterpret_cast<void**>(storage));
    }

    HRESULT CopyTo(DWORD, const IID*, SNB, IStorage*) override {
        return STG_E_UNIMPLEMENTEDFUNCTION;
    }
    HRESULT MoveElementTo(LPCOLESTR, IStorage*, LPCOLESTR, DWORD) override {
        return STG_E_UNIMPLEMENTEDFUNCTION;
    }

    HRESULT Commit(DWORD) override {
        if (entry_->destroyed) return STG_E_REVERTED;
        return doc_->Flush();
    }
    HRESULT Revert() override { return S_OK; }

    HRESULT EnumElements(DWORD, void*, DWORD, IEnumSTATSTG** elements) override {
        if (elements) *elements = nullptr;
        return STG_E_UNIMPLEMENTEDFUNCTION;
    }

    HRESULT DestroyElement(LPCOLESTR name) override {
        std::shared_ptr<Entry> child;
        if (const HRESULT hr = Find(name, child, true); FAILED(hr)) return hr;
        MarkDestroyed(*child);
        std::erase(entry_->children, child);
        doc_->Touch();
        return S_OK;
    }

    HRESULT RenameElement(LPCOLESTR oldName, LPCOLESTR newName) override {
        std::shared_ptr<Entry> child;
        if (const HRESULT hr = Find(oldName, child, true); FAILED(hr)) return hr;
        std::u16string fresh;
        if (!ElementName(newName, fresh)) return STG_E_INVALIDNAME;
        if (entry_->Child(fresh)) return STG_E_FILEALREADYEXISTS;
        child->name = fresh;
        doc_->Touch();
        return S_OK;
    }

    HRESULT SetElementTimes(LPCOLESTR name, const FILETIME* created, const FILETIME*,
                            const FILETIME* modified) override {
        std::shared_ptr<Entry> target = entry_;
        if (name != nullptr)
            if (const HRESULT hr = Find(name, target, true); FAILED(hr)) return hr;
        if (!doc_->Writable()) return STG_E_ACCESSDENIED;
        auto join = [](const FILETIME* t) {
            return static_cast<std::uint64_t>(t->dwHighDateTime) << 32 | t->dwLowDateTime;
        };
        if (created) target->created = join(created);
        if (modified) target->modified = join(modified);
        doc_->Touch();
        return S_OK;
    }

    HRESULT SetClass(REFCLSID clsid) override {
        if (!CanWrite(mode_)) return STG_E_ACCESSDENIED;
        entry_->clsid = clsid;
        doc_->Touch();
        return S_OK;
    }

    HRESULT SetStateBits(DWORD bits, DWORD mask) override {
        if (!CanWrite(mode_)) return STG_E_ACCESSDENIED;
        entry_->stateBits = (entry_->stateBits & ~mask) | (bits & mask);
        doc_->Touch();
        return S_OK;
    }

    HRESULT Stat(STATSTG* status, DWORD flags) override {
        if (status == nullptr) return STG_E_INVALIDPOINTER;
        if (entry_->destroyed) return STG_E_REVERTED;
        std::u16string name = entry_->name;
        if (entry_ == doc_->Root()) {
            const std::string& path = doc_->Path();
            name.assign(path.begin(), path.end()); // the file's name, as the platform gives it
        }
        FillStat(status, flags, name, STGTY_STORAGE, 0);
        return S_OK;
    }

protected:
    bool Answers(REFIID riid) const override { return riid == IID_IStorage; }

private:
    static void MarkDestroyed(Entry& entry) {
        entry.destroyed = true;
        for (const auto& child : entry.children)
            MarkDestroyed(*child);
    }

    HRESULT Find(LPCOLESTR name, std::shared_ptr<Entry>& child, bool forChange) {
        if (entry_->destroyed) return STG_E_REVERTED;
        std::u16string element;
        if (!ElementName(name, element)) return STG_E_INVALIDNAME;
        if (forChange && !CanWrite(mode_)) return STG_E_ACCESSDENIED;
        child = entry_->Child(element);
        return child ? S_OK : STG_E_FILENOTFOUND;
    }

    static HRESULT CheckMode(DWORD mode) {
        if ((mode & 0x70) != STGM_SHARE_EXCLUSIVE || (mode & 3) == 3) return STG_E_INVALIDFLAG;
        if (mode & (STGM_DELETEONRELEASE | STGM_CONVERT)) return STG_E_INVALIDFUNCTION;
        return S_OK;
    }

    HRESULT Hand(std::shared_ptr<Entry> child, DWORD mode, void** out) {
        if (!doc_->Claim(child.get())) return STG_E_ACCESSDENIED;
        if (child->type == platform::cfb::kTypeStream) {
            auto* stream = new (std::nothrow) StreamObject(doc_, child, mode);
            if (stream == nullptr) {
                doc_->Unclaim(child.get());
                return E_OUTOFMEMORY;
            }
            *out = static_cast<IStream*>(stream);
        } else {
            auto* storage = new (std::nothrow) StorageObject(doc_, child, mode);
            if (storage == nullptr) {
                doc_->Unclaim(child.get());
                return E_OUTOFMEMORY;
            }
            *out = static_cast<IStorage*>(storage);
        }
        return S_OK;
    }

    HRESULT CreateElement(LPCOLESTR name, DWORD mode, BYTE type, void** out) {
        if (out == nullptr) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (const HRESULT hr = CheckMode(mode); FAILED(hr)) return hr;
        if (entry_->destroyed) return STG_E_REVERTED;
        std::u16string element;
        if (!ElementName(name, element)) return STG_E_INVALIDNAME;
        if (!CanWrite(mode_) || !CanWrite(mode)) return STG_E_ACCESSDENIED;
        if (std::shared_ptr<Entry> existing = entry_->Child(element)) {
            if (!(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
            if (!doc_->Claim(existing.get())) return STG_E_ACCESSDENIED;
            doc_->Unclaim(existing.get());
            MarkDestroyed(*existing);
            std::erase(entry_->children, existing);
        }
        auto child = std::make_shared<Entry>();
        child->name = element;
        child->type = type;
        entry_->children.push_back(child);
        doc_->Touch();
        return Hand(std::move(child), mode, out);
    }

    HRESULT OpenElement(LPCOLESTR name, DWORD mode, BYTE type, void** out) {
        if (out == nullptr) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (const HRESULT hr = CheckMode(mode); FAILED(hr)) return hr;
        if (mode & STGM_CREATE) return STG_E_INVALIDFLAG;
        std::shared_ptr<Entry> child;
        if (const HRESULT hr = Find(name, child, false); FAILED(hr)) return hr;
        if (child->type != type) return STG_E_FILENOTFOUND;
        if (CanWrite(mode) && !CanWrite(mode_)) return STG_E_ACCESSDENIED;
        if (type == platform::cfb::kTypeStream)
            if (const HRESULT hr = platform::cfb::LoadEntry(*child); FAILED(hr)) return hr;
        return Hand(std::move(child), mode, out);
    }
};

HRESULT ReadWholeFile(const std::string& path, std::vector<BYTE>& bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? STG_E_FILENOTFOUND : StgErrorFromErrno(errno);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return STG_E_FILENOTFOUND;
    }
    bytes.clear();
    BYTE buffer[65536];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return STG_E_READFAULT;
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    ::close(fd);
    return S_OK;
}

} // namespace

HRESULT StgCreateDocfile(LPCOLESTR name, DWORD mode, DWORD, IStorage** storage) {
    if (storage == nullptr) return STG_E_INVALIDPOINTER;
    *storage = nullptr;
    std::string path;
    if (!ToPath(name, path)) return STG_E_INVALIDNAME;
    if (!CanWrite(mode) || (mode & 3) == 3) return STG_E_INVALIDFLAG;
    if (!(mode & STGM_CREATE) && ::access(path.c_str(), F_OK) == 0) return STG_E_FILEALREADYEXISTS;
    auto root = std::make_shared<Entry>();
    root->type = platform::cfb::kTypeRoot;
    auto doc = std::make_shared<Docfile>(path, mode, root);
    // The file exists from now on, as on the platform; a bad path fails here.
    if (const HRESULT hr = doc->Flush(); FAILED(hr))
        return hr == STG_E_FILENOTFOUND ? STG_E_PATHNOTFOUND : hr;
    auto* object = new (std::nothrow) StorageObject(doc, root, mode);
    if (object == nullptr) return E_OUTOFMEMORY;
    *storage = object;
    return S_OK;
}

HRESULT StgOpenStorage(LPCOLESTR name, IStorage* priority, DWORD mode, SNB exclude, DWORD,
                       IStorage** storage) {
    if (storage == nullptr) return STG_E_INVALIDPOINTER;
    *storage = nullptr;
    if (priority != nullptr || exclude != nullptr) return STG_E_INVALIDFUNCTION;
    std::string path;
    if (!ToPath(name, path)) return STG_E_INVALIDNAME;
    if ((mode & 3) == 3 || (mode & STGM_CREATE)) return STG_E_INVALIDFLAG;
    std::vector<BYTE> bytes;
    if (const HRESULT hr = ReadWholeFile(path, bytes); FAILED(hr)) return hr;
    return platform::cfb::OpenImage(path, std::move(bytes), mode, storage);
}

namespace platform::cfb {

HRESULT OpenImage(const std::string& path, std::vector<BYTE> bytes, DWORD mode,
                  IStorage** storage) {
    std::shared_ptr<Entry> root;
    try {
        if (const HRESULT hr = Image::Parse(std::move(bytes), root); FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    }
    auto doc = std::make_shared<Docfile>(path, mode, root);
    auto* object = new (std::nothrow) StorageObject(doc, root, mode);
    if (object == nullptr) return E_OUTOFMEMORY;
    *storage = object;
    return S_OK;
}

} // namespace platform::cfb
