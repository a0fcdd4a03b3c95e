#include "platform/Com.h"
#include "platform/ComPtr.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"

#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

thread_local int t_initialisations = 0;

// Server libraries by registered path: each is loaded once and shared.
std::mutex g_serverMutex;
std::map<std::string, HMODULE>& Servers() {
    static auto* servers = new std::map<std::string, HMODULE>;
    return *servers;
}

HRESULT ServerPath(REFCLSID clsid, std::string& path) {
    char keyName[64] = "CLSID\\";
    GuidToText(clsid, keyName + 6);
    std::string full = std::string(keyName) + "\\InprocServer32";
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, full.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return REGDB_E_CLASSNOTREG;
    DWORD type = 0, size = 0;
    LONG status = RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + 1, 0);
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExA(key, nullptr, nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return REGDB_E_CLASSNOTREG;
    path.assign(reinterpret_cast<const char*>(data.data()));
    return path.empty() ? REGDB_E_CLASSNOTREG : S_OK;
}

HRESULT LoadServer(const std::string& path, HMODULE& module) {
    std::lock_guard lock(g_serverMutex);
    auto found = Servers().find(path);
    if (found != Servers().end()) {
        module = found->second;
        return S_OK;
    }
    module = LoadLibraryA(path.c_str());
    if (module == nullptr) return CO_E_DLLNOTFOUND;
    Servers().emplace(path, module);
    return S_OK;
}

} // namespace

HRESULT CoInitialize(void* reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(void*, DWORD) {
    return t_initialisations++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    if (t_initialisations > 0 && --t_initialisations == 0) CoFreeUnusedLibraries();
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = nullptr;
    if (t_initialisations == 0) return CO_E_NOTINITIALIZED;
    if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    std::string path;
    if (const HRESULT hr = ServerPath(clsid, path); FAILED(hr)) return hr;
    HMODULE module = nullptr;
    if (const HRESULT hr = LoadServer(path, module); FAILED(hr)) return hr;
    auto entry =
        reinterpret_cast<DllGetClassObjectFunction>(GetProcAddress(module, "DllGetClassObject"));
    if (entry == nullptr) return CO_E_ERRORINDLL;
    return entry(clsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = nullptr;
    // Whether an aggregate may be made is the class factory's answer.
    ComPtr<IClassFactory> factory;
    const HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, factory.Out());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(outer, riid, ppv);
}

void CoFreeUnusedLibraries() {
    std::vector<HMODULE> unload;
    {
        std::lock_guard lock(g_serverMutex);
        for (auto it = Servers().begin(); it != Servers().end();) {
            auto canUnload = reinterpret_cast<DllCanUnloadNowFunction>(
                GetProcAddress(it->second, "DllCanUnloadNow"));
            if (canUnload != nullptr && canUnload() == S_OK) {
                unload.push_back(it->second);
                it = Servers().erase(it);
            } else {
                ++it;
            }
        }
    }
    for (HMODULE module : unload)
        FreeLibrary(module);
}

void* CoTaskMemAlloc(std::size_t bytes) {
    return std::malloc(bytes == 0 ? 1 : bytes);
}
void* CoTaskMemRealloc(void* memory, std::size_t bytes) {
    return std::realloc(memory, bytes == 0 ? 1 : bytes);
}
void CoTaskMemFree(void* memory) {
    std::free(memory);
}
