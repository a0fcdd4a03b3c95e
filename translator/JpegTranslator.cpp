// The JPEG translator: the codec reads straight into a bitmap's rows and
// writes straight from them.
#include "Jpeg.h"
#include "Translator.h"

namespace rastrel {
namespace {

constexpr OptionValues kJpegOptions{24, S_FALSE, 0, S_OK, S_OK, 101};
constexpr WORD kDefaultQuality = 75;

class JpegTranslator final : public TranslatorBase {
public:
    explicit JpegTranslator(IUnknown* outer) : TranslatorBase(outer, "JPG", kJpegOptions) {
        compression_ = kDefaultQuality;
    }

    HRESULT Probe(const char* fileName) override {
        platform::ByteSource source;
        if (!source.OpenFile(fileName)) return E_FAIL;
        const int code = ProbeJpeg(source, header_);
        return code == kCodecOk ? S_OK : code == kCodecNotJpeg ? S_FALSE : E_FAIL;
    }
    HRESULT CanLoad() override { return S_OK; }
    HRESULT CanSave() override { return S_OK; }
    HRESULT SetCompression(WORD value) override {
        if (value > 100) return S_FALSE;
        compression_ = value == 5 ? 6 : value;
        return S_OK;
    }

    HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap,
                 IProgressSink* given) override {
        return LoadFile(fileName, bitmap, given, [&](auto& source, auto* sink, auto& made) {
            if (ProbeJpeg(source, header_) != kCodecOk) return E_FAIL;
            AnnouncePhases(sink, LoadPhases(JpegFormat(header_), format));
            if (const HRESULT hr = NewBitmap(made); FAILED(hr)) return hr;
            return ReadJpegBitmap(source, header_, format, sink, made);
        });
    }

    HRESULT Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* given) override {
        if (bitmap == nullptr || fileName == nullptr) return E_INVALIDARG;
        IProgressSink* sink = SinkFor(given);
        SinkSession session(sink);
        return SaveRgbRows(bitmap, sink, [&](CodecImage& image, ProgressRecord* progress) {
            return WriteJpeg(fileName, image, compression_, sink, progress);
        });
    }

private:
    JpegHeader header_{};
};

} // namespace

HRESULT ReadJpegBitmap(platform::ByteSource& source, const JpegHeader& header, DWORD format,
                       IProgressSink* sink, ComPtr<IBitmapImage>& bitmap) {
    // Sizes the codec refuses are refused before the bitmap is made.
    if (header.width < 1 || header.width > 8095 || header.height < 1 || header.height > 32767)
        return E_FAIL;
    const DWORD own = JpegFormat(header);
    ProgressRecord progress{0, header.height, 0, LoadPhases(own, format)};
    HRESULT hr = bitmap->Create(header.width, header.height, own);
    if (FAILED(hr)) return E_FAIL;
    BitmapImage target{};
    bitmap->GetImage(&target);
    CodecImage image{};
    DescribeCodecImage(image, target.header, target.pixels);
    hr = CodecResultToHresult(ReadJpeg(source, image, sink, &progress));
    target.header->biClrUsed = target.header->biClrImportant = 0;
    if (SUCCEEDED(hr) && format != own) hr = ConvertLoaded(bitmap, format, sink);
    if (FAILED(hr)) bitmap.Reset();
    return hr;
}

ComObjectBase* CreateJpegTranslator(IUnknown* outer, HRESULT* result) {
    return Create<JpegTranslator>(outer, result);
}

} // namespace rastrel
