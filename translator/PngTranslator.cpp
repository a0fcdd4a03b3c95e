// The PNG translator: files read and written through libpng, rows straight
// between libpng and the bitmap objects.
#include "Palette.h"
#include "PixelFormats.h"
#include "Png.h"
#include "SwapBytes.h"
#include "Translator.h"
#include "platform/OutputFile.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>

namespace rastrel {
namespace {

constexpr OptionValues kPngOptions{24, S_FALSE, 0, S_FALSE, S_FALSE, 0};

// The library runs inside its clients' processes: libpng's default handlers
// would print on their terminal. An error returns to the caller's return
// point and becomes E_FAIL; a warning (an ignored chunk) changes nothing.
[[noreturn]] void PngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

void ReadFromSource(png_structp png, png_bytep data, std::size_t length) {
    auto* source = static_cast<platform::ByteSource*>(png_get_io_ptr(png));
    if (!source->ReadExact(data, length)) png_error(png, "the file ends early");
}

void WriteToFile(png_structp png, png_bytep data, std::size_t length) {
    if (!static_cast<platform::OutputFile*>(png_get_io_ptr(png))->Write(data, length))
        png_error(png, "the file cannot be written");
}
void FlushNothing(png_structp) {}

// Runs `step` with libpng's error return point set; false when libpng
// reported an error. libpng leaves the step by longjmp, so the step holds
// nothing that needs destroying.
template <class Step> bool Guarded(png_structp png, Step&& step) {
    if (setjmp(png_jmpbuf(png))) return false;
    step();
    return true;
}

// The read or write structures of one operation, destroyed on every path.
struct PngSession {
    explicit PngSession(bool read) : reading(read) {
        png = reading
                  ? png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning)
                  : png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
        if (png != nullptr) info = png_create_info_struct(png);
    }
    ~PngSession() { Destroy(); }
    PngSession(const PngSession&) = delete;
    PngSession& operator=(const PngSession&) = delete;
    bool Made() const { return info != nullptr; }
    void Destroy() {
        if (png == nullptr) return;
        if (reading)
            png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
        else
            png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
        png = nullptr;
        info = nullptr;
    }

    bool reading;
    png_structp png = nullptr;
    png_infop info = nullptr;
};

// The passes, one for a conversion unless the format is 0x4000, one more for
// a palette made from the colours.
LONG PngPhases(int passes, DWORD format) {
    const FormatInfo* info = FindFormat(format);
    const bool palettised = info != nullptr && info->paletteEntries > 0;
    return passes + (format != PF_PALETTE8 ? 1 : 0) + (Settings().mode == 0 && palettised ? 1 : 0);
}

class PngTranslator final : public TranslatorBase {
public:
    explicit PngTranslator(IUnknown* outer) : TranslatorBase(outer, "PNG", kPngOptions) {}

    HRESULT CanLoad() override { return S_OK; }
    HRESULT CanSave() override { return S_OK; }

    HRESULT Probe(const char* fileName) override {
        platform::ByteSource source;
        if (!source.OpenFile(fileName)) return E_FAIL;
        return ProbePng(source);
    }

    HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap,
                 IProgressSink* given) override {
        return LoadFile(fileName, bitmap, given, [&](auto& source, auto* sink, auto& made) {
            if (const HRESULT probed = ProbePng(source); probed != S_OK) return probed;
            if (const HRESULT hr = NewBitmap(made); FAILED(hr)) return hr;
            return ReadPngBitmap(source, format, sink, made);
        });
    }

    HRESULT Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* given) override;
};

HRESULT PngTranslator::Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* given) {
    if (bitmap == nullptr || fileName == nullptr) return E_INVALIDARG;
    IProgressSink* sink = SinkFor(given);
    SinkSession session(sink);
    BitmapImage rows{};
    if (FAILED(bitmap->GetImage(&rows)) || rows.header == nullptr) return E_FAIL;
    const LONG width = rows.header->biWidth, height = rows.header->biHeight;
    // Written beside the name and renamed when complete: a failed or
    // cancelled save leaves what was there.
    platform::OutputFile file;
    if (!file.Create(fileName)) return E_FAIL;
    PngSession png(false);
    if (!png.Made()) return E_FAIL;
    int passes = 1;
    const bool started = Guarded(png.png, [&] {
        png_set_write_fn(png.png, &file, WriteToFile, FlushNothing);
        // Same level 6 as libpng's default, but its filtered-data strategy
        // searches a third longer for a file no smaller, and the larger hash
        // table spares the match search more of its false candidates.
        png_set_compression_strategy(png.png, Z_DEFAULT_STRATEGY);
        png_set_compression_mem_level(png.png, 9);
        // No time chunk: the file says nothing the picture does not.
        png_set_IHDR(png.png, png.info, static_cast<png_uint_32>(width),
                     static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png.png, png.info);
        png_set_bgr(png.png);
        passes = png_set_interlace_handling(png.png);
    });
    if (!started) return E_FAIL;
    const LONG phases = PngPhases(passes, rows.format);
    AnnouncePhases(sink, phases);
    ComPtr<IBitmapImage> converted;
    if (rows.format != PF_RGB24) {
        if (const HRESULT hr = bitmap->Convert(PF_RGB24, &converted, sink); FAILED(hr)) return hr;
        converted->GetImage(&rows);
    }
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    ProgressRecord progress{0, height, 0, phases};
    bool cancelled = false;
    const bool written = Guarded(png.png, [&] {
        for (int pass = 0; pass < passes; ++pass, ++progress.pass)
            for (LONG y = 0; y < height; ++y) {
                progress.step = y;
                if (sink && sink->Step(&progress) == S_FALSE) {
                    cancelled = true;
                    return;
                }
                png_write_row(png.png,
                              rows.pixels + static_cast<std::size_t>(height - 1 - y) * rowBytes);
            }
        png_write_end(png.png, nullptr);
    });
    png.Destroy();
    if (cancelled) return E_ABORT;
    return written && file.Commit() ? S_OK : E_FAIL;
}

} // namespace

HRESULT ProbePng(platform::ByteSource& source) {
    png_byte signature[8];
    source.Seek(0);
    if (!source.ReadExact(signature, sizeof signature)) return E_FAIL;
    return png_sig_cmp(signature, 0, sizeof signature) == 0 ? S_OK : S_FALSE;
}

HRESULT ReadPngBitmap(platform::ByteSource& source, DWORD format, IProgressSink* sink,
                      ComPtr<IBitmapImage>& bitmap) {
    auto failed = [&](HRESULT hr) {
        bitmap.Reset();
        return hr;
    };
    source.Seek(0);
    PngSession png(true);
    if (!png.Made()) return failed(E_FAIL);
    int passes = 1;
    LONG phases = 1;
    png_uint_32 width = 0, height = 0;
    int colourType = 0;
    std::size_t pngRowBytes = 0;
    bool rgb = false;
    const bool started = Guarded(png.png, [&] {
        png_set_read_fn(png.png, &source, ReadFromSource);
#ifdef PNG_IGNORE_ADLER32
        // Every chunk's CRC, still checked, covers the compressed bytes the
        // zlib stream's own checksum would cover again.
        png_set_option(png.png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
        png_read_info(png.png, png.info);
        const int type = png_get_color_type(png.png, png.info);
        const int depth = png_get_bit_depth(png.png, png.info);
        // Palettes of every depth become colours: 8-bit palette files are
        // the most common kind, and a bitmap of indices would need the
        // palette carried beside it.
        if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png.png);
        if (type == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png.png);
        // A transparent colour is alpha, as the file means it.
        if (png_get_valid(png.png, png.info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(png.png);
        if (depth == 16) png_set_strip_16(png.png);
        if (depth < 8) png_set_packing(png.png);
        // Three-byte rows are turned to blue-green-red by our vector swap,
        // which is quicker than libpng's byte by byte one.
        rgb = (type == PNG_COLOR_TYPE_RGB || type == PNG_COLOR_TYPE_PALETTE) &&
              png_get_valid(png.png, png.info, PNG_INFO_tRNS) == 0;
        if (!rgb) png_set_bgr(png.png);
        if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA)
            png_set_gray_to_rgb(png.png);
        passes = png_set_interlace_handling(png.png);
        phases = PngPhases(passes, format);
        AnnouncePhases(sink, phases);
        png_read_update_info(png.png, png.info);
        width = png_get_image_width(png.png, png.info);
        height = png_get_image_height(png.png, png.info);
        colourType = png_get_color_type(png.png, png.info);
        pngRowBytes = png_get_rowbytes(png.png, png.info);
    });
    if (!started) return failed(E_FAIL);
    DWORD own = 0;
    if (colourType == PNG_COLOR_TYPE_RGB)
        own = PF_RGB24;
    else if (colourType == PNG_COLOR_TYPE_RGB_ALPHA)
        own = PF_RGB32A;
    else
        return failed(E_FAIL);
    // A picture larger than a bitmap can hold is a file we cannot read.
    HRESULT hr = bitmap->Create(static_cast<LONG>(width), static_cast<LONG>(height), own);
    if (FAILED(hr)) return failed(E_FAIL);
    DWORD rowBytes = 0;
    BitmapImage image{};
    bitmap->GetRowBytes(&rowBytes);
    bitmap->GetImage(&image);
    if (rowBytes < pngRowBytes) return failed(E_FAIL);

    ProgressRecord progress{0, static_cast<LONG>(height), 0, phases};
    bool cancelled = false;
    const bool read = Guarded(png.png, [&] {
        for (int pass = 0; pass < passes; ++pass, ++progress.pass)
            for (png_uint_32 y = 0; y < height; ++y) {
                progress.step = static_cast<LONG>(y);
                if (sink && sink->Step(&progress) == S_FALSE) {
                    cancelled = true;
                    return;
                }
                BYTE* row = image.pixels + (height - 1 - y) * std::size_t{rowBytes};
                png_read_row(png.png, row, nullptr);
                if (rgb && pass + 1 == passes) SwapOuterBytes(row, row, width);
            }
    });
    png.Destroy();
    if (cancelled) return failed(E_ABORT);
    if (!read) return failed(E_FAIL);
    if (format != own) {
        hr = ConvertLoaded(bitmap, format, sink);
        if (FAILED(hr)) return failed(hr);
    }
    return S_OK;
}

ComObjectBase* CreatePngTranslator(IUnknown* outer, HRESULT* result) {
    return Create<PngTranslator>(outer, result);
}

} // namespace rastrel
