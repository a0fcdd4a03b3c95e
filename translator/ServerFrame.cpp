#include "ServerFrame.h"

#include "platform/Kernel.h"
#include "platform/Registry.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#define RASTREL_EXPORT extern "C" __attribute__((visibility("default")))

namespace rastrel {

std::atomic<LONG> g_liveObjects{0};
LONG g_lockCount = 0;
HINSTANCE g_instance = nullptr;

namespace {

ClassEntry*& Head() {
    static ClassEntry* head = nullptr;
    return head;
}

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const ClassEntry* entry) : entry_(entry) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_INVALIDARG;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        if (--references_ == 0) {
            delete this;
            return 0;
        }
        return references_;
    }

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_INVALIDARG;
        *ppv = nullptr;
        if (outer != nullptr && !(riid == IID_IUnknown)) return E_NOINTERFACE;
        HRESULT result = 0;
        ComObjectBase* object = entry_->creator(outer, &result);
        if (object == nullptr) return E_OUTOFMEMORY;
        if (result < 0) {
            delete object;
            return result;
        }
        const HRESULT hr = object->QueryInterface(riid, ppv);
        if (FAILED(hr)) delete object;
        return hr;
    }

    HRESULT LockServer(BOOL lock) override {
        if (lock)
            ++g_lockCount;
        else
            --g_lockCount;
        return S_OK;
    }

private:
    const ClassEntry* entry_;
    ULONG references_ = 0;
};

HRESULT LastErrorResult() {
    const DWORD error = GetLastError();
    return error == 0 ? S_OK : HRESULT_FROM_WIN32(static_cast<LONG>(error));
}

std::string ClassKeyName(const CLSID& clsid) {
    char text[64];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  clsid.Data1, clsid.Data2, clsid.Data3, clsid.Data4[0], clsid.Data4[1],
                  clsid.Data4[2], clsid.Data4[3], clsid.Data4[4], clsid.Data4[5], clsid.Data4[6],
                  clsid.Data4[7]);
    return text;
}

} // namespace

ClassEntry::ClassEntry(const CLSID* identifier, Creator make, NotificationHook notify)
    : clsid(identifier), creator(make), hook(notify), next(Head()) {
    Head() = this;
}

ClassEntry* ClassList() {
    return Head();
}

ComObjectBase::ComObjectBase(IUnknown* outer) : controlling_(outer ? outer : this) {
    ++g_liveObjects;
}

ComObjectBase::~ComObjectBase() {
    --g_liveObjects;
}

HRESULT ComObjectBase::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    if (riid == IID_IUnknown) return Hand(this, ppv);
    const HRESULT hr = QueryOwnInterface(riid, ppv);
    if (FAILED(hr)) *ppv = nullptr;
    return hr;
}

ULONG ComObjectBase::AddRef() {
    return static_cast<ULONG>(++references_);
}

ULONG ComObjectBase::Release() {
    const LONG left = --references_;
    if (left == 0) {
        delete this;
        return 0;
    }
    return static_cast<ULONG>(left);
}

HRESULT ComObjectBase::QueryOwnInterface(REFIID, void**) {
    return E_NOINTERFACE;
}

HRESULT ComObjectBase::Hand(IUnknown* interface, void** ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = interface;
    interface->AddRef();
    return S_OK;
}

HRESULT RegisterClass(const CLSID& clsid, int threading) {
    // Straight from the module handle; a path too long for the buffer is
    // refused rather than registered cut short.
    char path[4096];
    const DWORD length = GetModuleFileNameA(g_instance, path, sizeof path);
    if (length == 0) return LastErrorResult();
    if (length >= sizeof path) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

    HKEY classes = nullptr, classKey = nullptr, server = nullptr;
    LONG status = RegCreateKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, "REG_SZ", REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &classes, nullptr);
    if (status == ERROR_SUCCESS)
        status =
            RegCreateKeyExA(classes, ClassKeyName(clsid).c_str(), 0, "REG_SZ",
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &classKey, nullptr);
    if (status == ERROR_SUCCESS)
        status = RegCreateKeyExA(classKey, "InprocServer32", 0, "REG_SZ", REG_OPTION_NON_VOLATILE,
                                 KEY_ALL_ACCESS, nullptr, &server, nullptr);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExA(server, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                                length + 1);
    if (status == ERROR_SUCCESS && threading != 0) {
        const char* model = threading == 1 ? "Apartment" : threading == 2 ? "Both" : nullptr;
        if (model == nullptr)
            status = ERROR_INVALID_PARAMETER;
        else
            status = RegSetValueExA(server, "ThreadingModel", 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(model),
                                    static_cast<DWORD>(std::strlen(model) + 1));
    }
    if (status == ERROR_SUCCESS) status = RegFlushKey(server);
    if (server) RegCloseKey(server);
    if (classKey) RegCloseKey(classKey);
    if (classes) RegCloseKey(classes);
    return HRESULT_FROM_WIN32(status);
}

HRESULT UnregisterClass(const CLSID& clsid) {
    HKEY classes = nullptr, classKey = nullptr;
    LONG status = RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_ALL_ACCESS, &classes);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    const std::string name = ClassKeyName(clsid);
    status = RegOpenKeyExA(classes, name.c_str(), 0, KEY_ALL_ACCESS, &classKey);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteKeyA(classKey, "InprocServer32");
        if (status == ERROR_SUCCESS) {
            char subKey[39];
            DWORD size = sizeof subKey;
            const LONG more =
                RegEnumKeyExA(classKey, 0, subKey, &size, nullptr, nullptr, nullptr, nullptr);
            RegCloseKey(classKey);
            if (more == ERROR_NO_MORE_ITEMS) status = RegDeleteKeyA(classes, name.c_str());
        } else {
            RegCloseKey(classKey);
        }
    }
    RegCloseKey(classes);
    return HRESULT_FROM_WIN32(status);
}

// The library's entry point: process attach (1) and detach (0).
BOOL DllMain(HINSTANCE instance, DWORD reason, void*) {
    if (reason == 1) g_instance = instance;
    for (ClassEntry* entry = ClassList(); entry != nullptr; entry = entry->next)
        if (entry->hook) entry->hook(static_cast<int>(reason), entry->clsid);
    return TRUE;
}

} // namespace rastrel

using namespace rastrel;

RASTREL_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = nullptr;
    const ClassEntry* entry = ClassList();
    while (entry != nullptr && std::memcmp(entry->clsid, &clsid, sizeof(CLSID)) != 0)
        entry = entry->next;
    if (entry == nullptr) return E_FAIL;
    if (!(riid == IID_IUnknown) && !(riid == IID_IClassFactory)) return E_NOINTERFACE;
    auto* factory = new (std::nothrow) ClassFactory(entry);
    if (factory == nullptr) return E_OUTOFMEMORY;
    *ppv = static_cast<IClassFactory*>(factory);
    factory->AddRef();
    return S_OK;
}

RASTREL_EXPORT HRESULT DllCanUnloadNow() {
    return g_lockCount > 0 || g_liveObjects.load() != 0 ? S_FALSE : S_OK;
}

// Each under one hold of the registry's lock: a registration racing a
// removal of the same library leaves it whole or gone, never half.
RASTREL_EXPORT HRESULT DllRegisterServer() {
    RegistryBatch batch;
    for (const ClassEntry* entry = ClassList(); entry != nullptr; entry = entry->next)
        if (const HRESULT hr = RegisterClass(*entry->clsid, 2); FAILED(hr)) return hr;
    return S_OK;
}

RASTREL_EXPORT HRESULT DllUnregisterServer() {
    RegistryBatch batch;
    for (const ClassEntry* entry = ClassList(); entry != nullptr; entry = entry->next)
        if (const HRESULT hr = UnregisterClass(*entry->clsid); FAILED(hr)) return hr;
    return S_OK;
}

namespace rastrel {
// Runs after the class entries of ClassTable.cpp are built (it is defined
// there after them) through this hook.
void ProcessAttach(bool attach) {
    static int anchor;
    if (attach) {
        HMODULE module = nullptr;
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<const char*>(&anchor), &module);
        DllMain(module, 1, nullptr);
    } else {
        DllMain(g_instance, 0, nullptr);
    }
}
} // namespace rastrel
