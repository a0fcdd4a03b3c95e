// The translator manager: the format table, probing in table order, lookup
// by extension, load and save through the translators, and the format
// enumerator.
#include "Translator.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace rastrel {
namespace {

struct FormatRow {
    const char* extension;
    const char* description;
    const CLSID* clsid;
};

// Probing order. Only formats the library can read have a row; Targa's
// probe accepts much, so it stays last.
constexpr int kMaxRows = 20;
const FormatRow kFormatTable[kMaxRows] = {
    {"BMP", "Windows Bitmap", &CLSID_BmpTranslator},
    {"JPG", "JPEG", &CLSID_JpegTranslator},
    {"PCX", "ZSoft PCX", &CLSID_PcxTranslator},
    {"TIF", "Aldus TIFF", &CLSID_TiffTranslator},
    {"PNG", "Portable Network Graphic Format", &CLSID_PngTranslator},
    {"TGA", "Truevision Targa", &CLSID_TgaTranslator},
    {nullptr, nullptr, nullptr},
};
constexpr int kRowCount = 6;

struct FormatText {
    std::string extension, description;
};

void CopyBounded(char* buffer, LONG size, const std::string& text) {
    if (buffer == nullptr || size <= 0) return;
    std::strncpy(buffer, text.c_str(), static_cast<std::size_t>(size));
}

class FormatEnumerator final : public ComObjectBase,
                               public Delegating<FormatEnumerator, IFormatEnumerator> {
public:
    explicit FormatEnumerator(std::vector<FormatText> rows)
        : ComObjectBase(nullptr), rows_(std::move(rows)) {}

    HRESULT Next(LONG extensionSize, LONG descriptionSize, char* extension,
                 char* description) override {
        if (current_ >= rows_.size()) return S_FALSE;
        CopyBounded(extension, extensionSize, rows_[current_].extension);
        CopyBounded(description, descriptionSize, rows_[current_].description);
        ++current_;
        return S_OK;
    }
    HRESULT Skip(ULONG count) override {
        if (count > rows_.size() - current_) {
            current_ = rows_.size();
            return S_FALSE;
        }
        current_ += count;
        return S_OK;
    }
    HRESULT Reset() override {
        current_ = 0;
        return S_OK;
    }
    HRESULT Clone(IFormatEnumerator** copy) override {
        if (copy == nullptr) return E_INVALIDARG;
        *copy = nullptr;
        auto* clone = new (std::nothrow) FormatEnumerator(rows_);
        if (clone == nullptr) return E_OUTOFMEMORY;
        clone->current_ = current_;
        return Hand(static_cast<IFormatEnumerator*>(clone), reinterpret_cast<void**>(copy));
    }
    using ComObjectBase::AddRef;
    using ComObjectBase::QueryInterface;
    using ComObjectBase::Release;

protected:
    HRESULT QueryOwnInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IFormatEnumerator) return Hand(static_cast<IFormatEnumerator*>(this), ppv);
        return E_NOINTERFACE;
    }

private:
    std::vector<FormatText> rows_;
    std::size_t current_ = 0;
};

class TranslatorManager final : public ComObjectBase,
                                public Delegating<TranslatorManager, ITranslatorManager> {
public:
    explicit TranslatorManager(IUnknown* outer) : ComObjectBase(outer) {}

    HRESULT FindTranslator(const char* fileName, LONG size, char* extension,
                           ITranslator** translator) override {
        if (translator == nullptr) return E_INVALIDARG;
        for (int row = 0; row < kRowCount && kFormatTable[row].extension != nullptr; ++row) {
            ComPtr<ITranslator> candidate;
            HRESULT hr = CoCreateInstance(*kFormatTable[row].clsid, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_ITranslator, candidate.Out());
            if (FAILED(hr)) return hr;
            hr = candidate->Probe(fileName);
            if (FAILED(hr)) return hr;
            if (hr != S_OK) continue;
            if (extension != nullptr && size > 0) candidate->GetExtension(size, extension);
            if (sink_) candidate->SetProgressSink(sink_.get());
            *translator = candidate.Detach();
            return S_OK;
        }
        return S_FALSE;
    }

    HRESULT TranslatorForExtension(const char* extension, ITranslator** translator) override {
        if (extension == nullptr || translator == nullptr) return E_INVALIDARG;
        for (int row = 0; row < kRowCount && kFormatTable[row].extension != nullptr; ++row) {
            if (std::strcmp(extension, kFormatTable[row].extension) != 0) continue;
            ITranslator* made = nullptr;
            const HRESULT hr =
                CoCreateInstance(*kFormatTable[row].clsid, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_ITranslator, reinterpret_cast<void**>(&made));
            if (SUCCEEDED(hr) && sink_) made->SetProgressSink(sink_.get());
            *translator = made;
            return hr;
        }
        return S_FALSE;
    }

    HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap, IProgressSink* sink,
                 ITranslator** translatorOut) override {
        if (bitmap == nullptr) return E_INVALIDARG;
        *bitmap = nullptr;
        ComPtr<ITranslator> translator;
        HRESULT hr = FindTranslator(fileName, 0, nullptr, &translator);
        if (hr != S_OK) return hr;
        hr = translator->Load(fileName, format, bitmap, sink);
        if (SUCCEEDED(hr) && translatorOut != nullptr) *translatorOut = ComPtr(translator).Detach();
        return hr;
    }

    HRESULT Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* sink) override {
        if (bitmap == nullptr) return E_INVALIDARG;
        ComPtr<ITranslator> translator;
        if (FAILED(bitmap->GetTranslator(&translator)) || !translator) return E_INVALIDARG;
        return translator->Save(fileName, bitmap, sink);
    }

    HRESULT EnumerateLoadFormats(IFormatEnumerator** formats) override {
        if (formats == nullptr) return E_INVALIDARG;
        *formats = nullptr;
        std::vector<FormatText> rows;
        try {
            for (int row = 0; row < kRowCount && kFormatTable[row].extension != nullptr; ++row)
                rows.push_back({kFormatTable[row].extension, kFormatTable[row].description});
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        auto* enumerator = new (std::nothrow) FormatEnumerator(std::move(rows));
        if (enumerator == nullptr) return E_OUTOFMEMORY;
        return Hand(static_cast<IFormatEnumerator*>(enumerator), reinterpret_cast<void**>(formats));
    }
    HRESULT EnumerateSaveFormats(IFormatEnumerator** formats) override {
        return EnumerateLoadFormats(formats);
    }

    HRESULT SetProgressSink(IProgressSink* sink) override {
        if (sink == nullptr) return S_OK;
        sink->AddRef();
        sink_.Attach(sink);
        return S_OK;
    }
    using ComObjectBase::AddRef;
    using ComObjectBase::QueryInterface;
    using ComObjectBase::Release;

protected:
    HRESULT QueryOwnInterface(REFIID riid, void** ppv) override {
        if (riid == IID_ITranslatorManager)
            return Hand(static_cast<ITranslatorManager*>(this), ppv);
        return E_NOINTERFACE;
    }

private:
    ComPtr<IProgressSink> sink_;
};

} // namespace

ComObjectBase* CreateTranslatorManager(IUnknown* outer, HRESULT* result) {
    return Create<TranslatorManager>(outer, result);
}

} // namespace rastrel
