#include "Translator.h"

#include "Palette.h"
#include "PixelFormats.h"
#include "platform/Kernel.h"
#include "platform/OutputFile.h"

#include <cstring>
#include <new>

namespace rastrel {
namespace {

class FileStream final : public ComObjectBase, public Delegating<FileStream, IFileStream> {
public:
    FileStream() : ComObjectBase(nullptr) {}
    ~FileStream() override { Close(); }

    HRESULT Open(const char* fileName, DWORD access) override {
        Close();
        if (access == GENERIC_WRITE) {
            if (!output_.Create(fileName)) return E_FAIL;
            file_ = HandleFromDescriptor(output_.Descriptor());
            return S_OK;
        }
        if (access != GENERIC_READ) return E_FAIL;
        file_ = CreateFileA(fileName, access, 1, nullptr, OPEN_EXISTING, 0, nullptr);
        return file_ == INVALID_HANDLE_VALUE ? E_FAIL : S_OK;
    }
    HRESULT Close() override {
        if (output_.IsOpen())
            output_.Discard();
        else if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        return S_OK;
    }
    HRESULT Commit() override {
        if (!output_.IsOpen()) return E_FAIL;
        file_ = INVALID_HANDLE_VALUE;
        return output_.Commit() ? S_OK : E_FAIL;
    }
    HRESULT IsOpen() override { return file_ != INVALID_HANDLE_VALUE ? S_OK : S_FALSE; }
    HRESULT Seek(LONG offset, DWORD origin, DWORD* position) override {
        const DWORD at = SetFilePointer(file_, offset, nullptr, origin);
        if (at == INVALID_SET_FILE_POINTER) return E_FAIL;
        if (position) *position = at;
        return S_OK;
    }
    HRESULT Read(void* buffer, DWORD count, DWORD* done) override {
        return ReadFile(file_, buffer, count, done, nullptr) ? S_OK : E_FAIL;
    }
    HRESULT Write(const void* buffer, DWORD count, DWORD* done) override {
        DWORD written = 0;
        const BOOL ok = WriteFile(file_, buffer, count, &written, nullptr);
        if (done) *done = written;
        return ok && written == count ? S_OK : E_FAIL;
    }
    HRESULT GetSize(DWORD* size) override {
        DWORD high = 0;
        const DWORD low = GetFileSize(file_, &high);
        if (low == INVALID_FILE_SIZE || size == nullptr) return E_FAIL;
        *size = high != 0 ? 0xFFFFFFFF : low;
        return S_OK;
    }
    using ComObjectBase::AddRef;
    using ComObjectBase::QueryInterface;
    using ComObjectBase::Release;

protected:
    HRESULT QueryOwnInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IFileStream) return Hand(static_cast<IFileStream*>(this), ppv);
        return E_NOINTERFACE;
    }

private:
    HANDLE file_ = INVALID_HANDLE_VALUE;
    platform::OutputFile output_; // the file being written, until Commit()
};

} // namespace

IFileStream* NewFileStream() {
    auto* stream = new (std::nothrow) FileStream;
    if (stream == nullptr) return nullptr;
    stream->ComObjectBase::AddRef();
    return stream;
}

TranslatorBase::TranslatorBase(IUnknown* outer, const char* extension, const OptionValues& values)
    : ComObjectBase(outer), stream_(NewFileStream()), extension_(extension), values_(values) {}

TranslatorBase::~TranslatorBase() {
    stream_.Reset();
    sink_.Reset();
}

HRESULT TranslatorBase::QueryOwnInterface(REFIID riid, void** ppv) {
    if (riid == IID_ITranslator) return Hand(static_cast<ITranslator*>(this), ppv);
    if (riid == IID_ITranslatorOptions) return Hand(static_cast<ITranslatorOptions*>(this), ppv);
    return E_NOINTERFACE;
}

HRESULT TranslatorBase::Probe(const char*) {
    return S_FALSE;
}
HRESULT TranslatorBase::CanLoad() {
    return S_FALSE;
}
HRESULT TranslatorBase::CanSave() {
    return S_FALSE;
}
HRESULT TranslatorBase::GetExtension(LONG size, char* buffer) {
    if (buffer == nullptr || size <= 0) return S_OK;
    std::strncpy(buffer, extension_, static_cast<std::size_t>(size));
    return S_OK;
}
HRESULT TranslatorBase::Reserved() {
    return E_NOTIMPL;
}
HRESULT TranslatorBase::SetProgressSink(IProgressSink* sink) {
    if (sink == nullptr) return S_OK;
    sink->AddRef();
    sink_.Attach(sink);
    return S_OK;
}
HRESULT TranslatorBase::Load(const char*, DWORD, IBitmapImage**, IProgressSink*) {
    return E_NOTIMPL;
}
HRESULT TranslatorBase::Save(const char*, IBitmapImage*, IProgressSink*) {
    return E_NOTIMPL;
}

HRESULT TranslatorBase::GetValue3(LONG* value) {
    if (value == nullptr) return E_INVALIDARG;
    *value = values_.value3;
    return S_OK;
}
HRESULT TranslatorBase::SetSaveDepth(LONG depth) {
    return depth == 0 ? S_FALSE : S_OK;
}
HRESULT TranslatorBase::GetCount(LONG* count) {
    if (count == nullptr) return E_INVALIDARG;
    *count = 1;
    return S_OK;
}
HRESULT TranslatorBase::SetCount(LONG count) {
    return count == 1 ? S_OK : E_FAIL;
}
HRESULT TranslatorBase::Query7() {
    return values_.query7;
}
HRESULT TranslatorBase::GetValue8(LONG* value) {
    if (value == nullptr) return E_INVALIDARG;
    *value = values_.value8;
    return S_OK;
}
HRESULT TranslatorBase::Query9() {
    return values_.query9;
}
HRESULT TranslatorBase::Query10() {
    return values_.query10;
}
HRESULT TranslatorBase::GetCompressionLevels(WORD* levels) {
    if (levels == nullptr) return E_INVALIDARG;
    *levels = values_.compressionLevels;
    return S_OK;
}
HRESULT TranslatorBase::SetCompression(WORD) {
    return S_FALSE;
}
HRESULT TranslatorBase::GetCompression(WORD* value) {
    if (value == nullptr) return E_INVALIDARG;
    *value = compression_;
    return S_OK;
}

HRESULT TranslatorBase::LoadFile(const char* fileName, IBitmapImage** bitmap, IProgressSink* given,
                                 const LoadStep& read) {
    if (bitmap == nullptr) return E_INVALIDARG;
    *bitmap = nullptr;
    IProgressSink* sink = SinkFor(given);
    SinkSession session(sink);
    platform::ByteSource source;
    if (!source.OpenFile(fileName)) return E_FAIL;
    ComPtr<IBitmapImage> made;
    // A probe's S_FALSE (not this format) comes back as it is, without a bitmap.
    if (const HRESULT hr = read(source, sink, made); FAILED(hr) || !made)
        return hr == S_OK ? E_FAIL : hr;
    made->SetTranslator(Self());
    *bitmap = made.Detach();
    return S_OK;
}

HRESULT TranslatorBase::NewBitmap(ComPtr<IBitmapImage>& made) {
    return CoCreateInstance(CLSID_Bitmap, nullptr, CLSCTX_INPROC_SERVER, IID_IBitmapImage,
                            made.Out());
}

HRESULT SaveRgbRows(IBitmapImage* bitmap, IProgressSink* sink,
                    const std::function<int(CodecImage&, ProgressRecord*)>& write) {
    BitmapImage source{};
    if (FAILED(bitmap->GetImage(&source)) || source.header == nullptr) return E_FAIL;
    const LONG phases = source.format == PF_RGB24 ? 1 : 2;
    AnnouncePhases(sink, phases);
    ComPtr<IBitmapImage> converted;
    if (source.format != PF_RGB24) {
        if (const HRESULT hr = bitmap->Convert(PF_RGB24, &converted, sink); FAILED(hr)) return hr;
        converted->GetImage(&source);
    }
    // The codec writes straight from the 24-bit rows, described by a
    // header of their own (an attached bitmap's header may say otherwise).
    BITMAPINFOHEADER rows{};
    rows.biSize = sizeof rows;
    rows.biWidth = source.header->biWidth;
    rows.biHeight = source.header->biHeight;
    rows.biPlanes = 1;
    rows.biBitCount = 24;
    CodecImage image{};
    DescribeCodecImage(image, &rows, source.pixels);
    ProgressRecord progress{0, source.header->biHeight, 0, phases};
    return CodecResultToHresult(write(image, &progress));
}

LONG LoadPhases(DWORD own, DWORD requested) {
    if (requested == own) return 1;
    // A reduction to a palette made from the image's colours collects them
    // in a pass of its own.
    const FormatInfo* format = FindFormat(requested);
    return Settings().mode == 0 && format != nullptr && format->paletteEntries > 0 ? 3 : 2;
}

HRESULT ConvertLoaded(ComPtr<IBitmapImage>& bitmap, DWORD format, IProgressSink* sink) {
    ComPtr<IBitmapImage> converted;
    const HRESULT hr = bitmap->Convert(format, &converted, sink);
    bitmap.Reset();
    if (FAILED(hr)) return hr == E_ABORT ? E_ABORT : E_FAIL;
    bitmap = std::move(converted);
    return S_OK;
}

} // namespace rastrel
