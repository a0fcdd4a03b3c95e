// The PCX translator: the PCX codec between files and bitmap objects.
#include "CodecTranslator.h"
#include "Pcx.h"
#include "Translator.h"

namespace rastrel {
namespace {

constexpr OptionValues kPcxOptions{24, S_OK, 8, S_FALSE, S_FALSE, 0};

class PcxTranslator final : public TranslatorBase {
public:
    explicit PcxTranslator(IUnknown* outer) : TranslatorBase(outer, "PCX", kPcxOptions) {}

    HRESULT Probe(const char* fileName) override {
        platform::ByteSource source;
        if (!source.OpenFile(fileName)) return E_FAIL;
        const int code = ProbePcx(source, header_);
        return code == kCodecOk ? S_OK : code == kCodecNotPcx ? S_FALSE : E_FAIL;
    }
    HRESULT CanLoad() override { return S_OK; }
    HRESULT CanSave() override { return S_OK; }
    HRESULT SetSaveDepth(LONG depth) override {
        if (depth == 0) return S_FALSE;
        header_.outputDepth = depth;
        return S_OK;
    }

    HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap,
                 IProgressSink* given) override {
        if (bitmap == nullptr) return E_INVALIDARG;
        *bitmap = nullptr;
        IProgressSink* sink = SinkFor(given);
        SinkSession session(sink);
        platform::ByteSource source;
        if (!source.OpenFile(fileName) || ProbePcx(source, header_) != kCodecOk) return E_FAIL;
        ComPtr<IBitmapImage> made;
        HRESULT hr = CoCreateInstance(CLSID_Bitmap, nullptr, CLSCTX_INPROC_SERVER, IID_IBitmapImage,
                                      made.Out());
        if (SUCCEEDED(hr)) {
            if (sink) sink->SetPhaseCount(LoadPhases(PcxFormat(header_), format));
            hr = ReadPcxBitmap(source, header_, format, sink, made);
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
        if (const HRESULT hr = PrepareSaveRows(bitmap, header_.outputDepth, sink, rows); FAILED(hr))
            return hr;
        ProgressRecord progress{0, rows.header.biHeight, 0, rows.phases};
        return CodecResultToHresult(WritePcx(fileName, rows.image, sink, &progress));
    }

private:
    PcxHeader header_{};
};

} // namespace

HRESULT ReadPcxBitmap(platform::ByteSource& source, const PcxHeader& header, DWORD format,
                      IProgressSink* sink, ComPtr<IBitmapImage>& bitmap) {
    // Layouts are checked by the codec; only the size is checked first.
    if (!PcxSizeDescribable(source, header)) return E_FAIL;
    const int bits = header.outputDepth == 1 ? 1 : header.outputDepth == 24 ? 24 : 8;
    return ReadCodecBitmap(
        header.width, header.height, bits, format, sink,
        [&](CodecImage& image, ProgressRecord& progress) {
            return ReadPcx(source, image, sink, &progress);
        },
        bitmap);
}

ComObjectBase* CreatePcxTranslator(IUnknown* outer, HRESULT* result) {
    return Create<PcxTranslator>(outer, result);
}

} // namespace rastrel
