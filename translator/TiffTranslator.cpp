// The TIFF translator: the TIFF codec between files and bitmap objects.
#include "CodecTranslator.h"
#include "Tiff.h"

namespace rastrel {
namespace {

struct TiffCodec {
    using Header = TiffHeader;
    static constexpr const char* kExtension = "TIF";
    static constexpr OptionValues kOptions{24, S_OK, 8, S_FALSE, S_FALSE, 0};
    static constexpr int kNotFormat = kCodecNotTiff;
    static int Probe(platform::ByteSource& source, Header& header) {
        return ProbeTiff(source, header);
    }
    static DWORD Format(const Header& header) { return TiffFormat(header); }
    static HRESULT Read(platform::ByteSource& source, const Header& header, DWORD format,
                        IProgressSink* sink, ComPtr<IBitmapImage>& bitmap) {
        return ReadTiffBitmap(source, header, format, sink, bitmap);
    }
    // Written uncompressed, the only compression the writer has.
    static int Write(const char* fileName, CodecImage& image, IProgressSink* sink,
                     ProgressRecord* progress) {
        return WriteTiff(fileName, image, 0, sink, progress);
    }
    // Only a depth given through the options: a probed file sets none.
    static void KeepSaveDepth(Header&, LONG& kept, LONG depth) { kept = depth; }
    static LONG SaveDepth(const Header&, LONG kept) { return kept; }
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
    return Create<CodecTranslator<TiffCodec>>(outer, result);
}

} // namespace rastrel
