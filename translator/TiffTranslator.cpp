// The TIFF translator: the TIFF codec between files and bitmap objects.
#include "CodecTranslator.h"
#include "Tiff.h"
#include "Translator.h"

namespace rastrel {
namespace {

constexpr OptionValues kTiffOptions{24, S_OK, 8, S_FALSE, S_FALSE, 0};

class TiffTranslator final : public TranslatorBase {
public:
    explicit TiffTranslator(IUnknown* outer) : TranslatorBase(outer, "TIF", kTiffOptions) {}

    HRESULT Probe(const char* fileName) override {
        platform::ByteSource source;
        if (!source.OpenFile(fileName)) return E_FAIL;
        const int code = ProbeTiff(source, header_);
        return code == kCodecOk ? S_OK : code == kCodecNotTiff ? S_FALSE : E_FAIL;
    }
    HRESULT CanLoad() override { return S_OK; }
    HRESULT CanSave() override { return S_OK; }
    HRESULT SetSaveDepth(LONG depth) override {
        if (depth == 0) return S_FALSE;
        saveDepth_ = depth;
        return S_OK;
    }

    HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap,
                 IProgressSink* given) override {
        if (bitmap == nullptr) return E_INVALIDARG;
        *bitmap = nullptr;
        IProgressSink* sink = SinkFor(given);
        SinkSession session(sink);
        platform::ByteSource source;
        if (!source.OpenFile(fileName) || ProbeTiff(source, header_) != kCodecOk) return E_FAIL;
        ComPtr<IBitmapImage> made;
        HRESULT hr = CoCreateInstance(CLSID_Bitmap, nullptr, CLSCTX_INPROC_SERVER, IID_IBitmapImage,
                                      made.Out());
        if (SUCCEEDED(hr)) {
            if (sink) sink->SetPhaseCount(LoadPhases(TiffFormat(header_), format));
            hr = ReadTiffBitmap(source, header_, format, sink, made);
        }
        if (FAILED(hr)) return hr;
        made->SetTranslator(Self());
        *bitmap = made.Detach();
        return S_OK;
    }

    HRESULT Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* given) override {
        if (bitmap == nullptr || fileName == nullptr) return E_INVALIDARG;
        IProgressSink* sink = SinkFor(given);
        SinkSession session(sink);
        SaveRows rows;
        if (const HRESULT hr = PrepareSaveRows(bitmap, saveDepth_, sink, rows); FAILED(hr))
            return hr;
        ProgressRecord progress{0, rows.header.biHeight, 0, rows.phases};
        return CodecResultToHresult(WriteTiff(fileName, rows.image, 0, sink, &progress));
    }

private:
    TiffHeader header_{};
};

} // namespace

HRESULT ReadTiffBitmap(platform::ByteSource& source, const TiffHeader& header, DWORD format,
                       IProgressSink* sink, ComPtr<IBitmapImage>& bitmap) {
    if (!TiffSizeDescribable(source, header) || header.width > 0x7FFFFFFF ||
        header.height > 0x7FFFFFFF)
        return E_FAIL;
    return ReadCodecBitmap(
        static_cast<LONG>(header.width), static_cast<LONG>(header.height), header.outputDepth,
        format, sink,
        [&](CodecImage& image, ProgressRecord& progress) {
            return ReadTiff(source, image, sink, &progress);
        },
        bitmap);
}

ComObjectBase* CreateTiffTranslator(IUnknown* outer, HRESULT* result) {
    return Create<TiffTranslator>(outer, result);
}

} // namespace rastrel
