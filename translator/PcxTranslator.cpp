// The PCX translator: the PCX codec between files and bitmap objects.
#include "CodecTranslator.h"
#include "Pcx.h"

namespace rastrel {
namespace {

struct PcxCodec {
    using Header = PcxHeader;
    static constexpr const char* kExtension = "PCX";
    static constexpr OptionValues kOptions{24, S_OK, 8, S_FALSE, S_FALSE, 0};
    static constexpr int kNotFormat = kCodecNotPcx;
    static int Probe(platform::ByteSource& source, Header& header) {
        return ProbePcx(source, header);
    }
    static DWORD Format(const Header& header) { return PcxFormat(header); }
    static HRESULT Read(platform::ByteSource& source, const Header& header, DWORD format,
                        IProgressSink* sink, ComPtr<IBitmapImage>& bitmap) {
        return ReadPcxBitmap(source, header, format, sink, bitmap);
    }
    static int Write(const char* fileName, CodecImage& image, IProgressSink* sink,
                     ProgressRecord* progress) {
        return WritePcx(fileName, image, sink, progress);
    }
    // The output depth of the last file probed is the save depth too.
    static void KeepSaveDepth(Header& header, LONG&, LONG depth) { header.outputDepth = depth; }
    static LONG SaveDepth(const Header& header, LONG) { return header.outputDepth; }
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
    return Create<CodecTranslator<PcxCodec>>(outer, result);
}

} // namespace rastrel
