// The Targa translator: the codec image between the Targa codec and the
// bitmap objects.
#include "Targa.h"
#include "Translator.h"

#include <cstring>

namespace rastrel {
namespace {

constexpr OptionValues kTgaOptions{24, S_FALSE, 0, S_OK, S_FALSE, 2};

class TgaTranslator final : public TranslatorBase {
public:
    explicit TgaTranslator(IUnknown* outer) : TranslatorBase(outer, "TGA", kTgaOptions) {}

    HRESULT Probe(const char* fileName) override {
        platform::ByteSource source;
        if (!source.OpenFile(fileName)) return E_FAIL;
        const int code = ProbeTarga(source, header_);
        return code == kCodecOk ? S_OK : code == kCodecNotTarga ? S_FALSE : E_FAIL;
    }
    HRESULT CanLoad() override { return S_OK; }
    HRESULT CanSave() override { return S_OK; }
    HRESULT SetCompression(WORD value) override {
        if (value > 1) return S_FALSE;
        compression_ = value;
        return S_OK;
    }

    HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap,
                 IProgressSink* given) override {
        return LoadFile(fileName, bitmap, given, [&](auto& source, auto* sink, auto& made) {
            if (ProbeTarga(source, header_) != kCodecOk) return E_FAIL;
            // Size and depth are checked as the codec image allocation checks them.
            if (header_.width == 0 || header_.height == 0) return E_FAIL;
            AnnouncePhases(sink, LoadPhases(TargaFormat(header_), format));
            if (const HRESULT hr = NewBitmap(made); FAILED(hr)) return hr;
            return ReadTargaBitmap(source, header_, format, sink, made);
        });
    }

    HRESULT Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* given) override {
        if (bitmap == nullptr || fileName == nullptr) return E_INVALIDARG;
        IProgressSink* sink = SinkFor(given);
        SinkSession session(sink);
        return SaveRgbRows(bitmap, sink, [&](CodecImage& image, ProgressRecord* progress) {
            return WriteTarga(fileName, image, compression_ == 1, sink, progress);
        });
    }

private:
    TargaHeader header_{};
};

} // namespace

HRESULT ReadTargaBitmap(platform::ByteSource& source, const TargaHeader& header, DWORD format,
                        IProgressSink* sink, ComPtr<IBitmapImage>& bitmap) {
    const DWORD own = TargaFormat(header);
    ProgressRecord progress{0, header.height, 0, LoadPhases(own, format)};
    // The codec reads straight into the bitmap's rows and palette.
    HRESULT hr = bitmap->Create(header.width, header.height, own);
    if (SUCCEEDED(hr)) {
        BitmapImage target{};
        bitmap->GetImage(&target);
        CodecImage image{};
        DescribeCodecImage(image, target.header, target.pixels);
        hr = CodecResultToHresult(ReadTarga(source, image, sink, &progress));
        target.header->biClrUsed = target.header->biClrImportant = 0;
    }
    if (SUCCEEDED(hr) && format != own) hr = ConvertLoaded(bitmap, format, sink);
    return hr;
}

ComObjectBase* CreateTgaTranslator(IUnknown* outer, HRESULT* result) {
    return Create<TgaTranslator>(outer, result);
}

} // namespace rastrel
