// The thumbnail writer component: stores a small picture of a bitmap in a
// compound file as the stream "Thumbnail", a complete Windows bitmap file,
// so that any image viewer shows it once the stream is taken out.
#include "rastrel.h"

#include "platform/ComPtr.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#define THUMBNAIL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};
int g_anchor;

constexpr DWORD kStreamMode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

class ThumbnailWriter final : public IThumbnailWriter {
public:
    ThumbnailWriter() { ++g_objects; }
    ~ThumbnailWriter() { --g_objects; }
    ThumbnailWriter(const ThumbnailWriter&) = delete;
    ThumbnailWriter& operator=(const ThumbnailWriter&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_INVALIDARG;
        *ppv = nullptr;
        if (!(riid == IID_IUnknown) && !(riid == IID_IThumbnailWriter)) return E_NOINTERFACE;
        *ppv = static_cast<IThumbnailWriter*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG Release() override {
        const LONG left = --references_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT WriteThumbnail(HBITMAP bitmap, IStorage* storage) override {
        if (storage == nullptr) return E_INVALIDARG;
        DIBSECTION section{};
        if (GetObjectA(bitmap, sizeof section, &section) != sizeof section ||
            section.dsBm.bmBits == nullptr)
            return E_INVALIDARG;
        const BITMAPINFOHEADER& header = section.dsBmih;
        const DWORD paletteEntries = header.biBitCount <= 8 ? 1u << header.biBitCount : 0;
        std::vector<RGBQUAD> palette(paletteEntries);
        if (paletteEntries > 0) GetDIBColorTable(bitmap, 0, paletteEntries, palette.data());
        const DWORD pixelBytes = static_cast<DWORD>(section.dsBm.bmWidthBytes) *
                                 static_cast<DWORD>(section.dsBm.bmHeight);
        const DWORD offset = static_cast<DWORD>(
            sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER) + paletteEntries * sizeof(RGBQUAD));
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42; // "BM"
        file.bfSize = offset + pixelBytes;
        file.bfOffBits = offset;
        BITMAPINFOHEADER info = header;
        info.biSize = sizeof info;
        info.biSizeImage = pixelBytes;
        info.biClrUsed = 0;

        std::vector<BYTE> data(file.bfSize);
        std::memcpy(data.data(), &file, sizeof file);
        std::memcpy(data.data() + sizeof file, &info, sizeof info);
        if (paletteEntries > 0)
            std::memcpy(data.data() + sizeof file + sizeof info, palette.data(),
                        paletteEntries * sizeof(RGBQUAD));
        std::memcpy(data.data() + offset, section.dsBm.bmBits, pixelBytes);

        ComPtr<IStream> stream;
        HRESULT hr = storage->CreateStream(u"Thumbnail", kStreamMode, 0, 0, &stream);
        if (FAILED(hr)) return hr;
        ULONG written = 0;
        hr = stream->Write(data.data(), static_cast<ULONG>(data.size()), &written);
        stream.Reset();
        if (SUCCEEDED(hr) && written != data.size()) hr = STG_E_MEDIUMFULL;
        return hr;
    }

private:
    std::atomic<LONG> references_{0};
};

class Factory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_INVALIDARG;
        *ppv = nullptr;
        if (!(riid == IID_IUnknown) && !(riid == IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG Release() override {
        const LONG left = --references_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_INVALIDARG;
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* made = new (std::nothrow) ThumbnailWriter;
        if (made == nullptr) return E_OUTOFMEMORY;
        made->AddRef();
        // The reference made here goes once the caller's is added, or with the object.
        const ComPtr<ThumbnailWriter> writer(made);
        return writer->QueryInterface(riid, ppv);
    }
    HRESULT LockServer(BOOL lock) override {
        g_locks += lock ? 1 : -1;
        return S_OK;
    }

private:
    std::atomic<LONG> references_{0};
};

std::string ClassKey() {
    char text[kGuidTextLength + 1];
    GuidToText(CLSID_ThumbnailWriter, text);
    return std::string("CLSID\\") + text;
}

} // namespace

THUMBNAIL_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = nullptr;
    if (!(clsid == CLSID_ThumbnailWriter))
        return MakeHresult(0x80040111); // CLASS_E_CLASSNOTAVAILABLE
    auto* made = new (std::nothrow) Factory;
    if (made == nullptr) return E_OUTOFMEMORY;
    made->AddRef();
    const ComPtr<Factory> factory(made);
    return factory->QueryInterface(riid, ppv);
}

THUMBNAIL_EXPORT HRESULT DllCanUnloadNow() {
    return g_objects.load() == 0 && g_locks.load() == 0 ? S_OK : S_FALSE;
}

// Each under one hold of the registry's lock, so a racing removal never
// leaves the class half registered.
THUMBNAIL_EXPORT HRESULT DllRegisterServer() {
    RegistryBatch batch;
    HMODULE self = nullptr;
    char path[4096];
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<const char*>(&g_anchor), &self))
        return HRESULT_FROM_WIN32(static_cast<LONG>(GetLastError()));
    const DWORD length = GetModuleFileNameA(self, path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return HRESULT_FROM_WIN32(static_cast<LONG>(GetLastError()));
    HKEY key = nullptr;
    LONG status =
        RegCreateKeyExA(HKEY_CLASSES_ROOT, (ClassKey() + "\\InprocServer32").c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                                length + 1);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExA(key, "ThreadingModel", 0, REG_SZ,
                                reinterpret_cast<const BYTE*>("Both"), 5);
    if (key) RegCloseKey(key);
    return HRESULT_FROM_WIN32(status);
}

THUMBNAIL_EXPORT HRESULT DllUnregisterServer() {
    RegistryBatch batch;
    LONG status = RegDeleteKeyA(HKEY_CLASSES_ROOT, (ClassKey() + "\\InprocServer32").c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
        status = RegDeleteKeyA(HKEY_CLASSES_ROOT, ClassKey().c_str());
        // A class key that still holds other keys stays.
        if (status == ERROR_ACCESS_DENIED || status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    }
    return HRESULT_FROM_WIN32(status);
}
