// The Windows Bitmap translator: files through the file stream, rows
// between the file and bitmap objects through the row conversion chain.
#include "Bitmap.h"
#include "Palette.h"
#include "PixelFormats.h"
#include "Translator.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace rastrel {
namespace {

constexpr OptionValues kBmpOptions{61, S_OK, 13, S_FALSE, S_FALSE, 0};
constexpr DWORD kFileHeaderBytes = 14;
constexpr DWORD kInfoHeaderBytes = 40;

DWORD Dword(const BYTE* p) {
    return static_cast<DWORD>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<DWORD>(p[3]) << 24;
}
void PutDword(BYTE* p, DWORD value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<BYTE>(value >> (8 * i));
}

bool HeaderCheck(const BITMAPINFOHEADER& info) {
    if (info.biSize != kInfoHeaderBytes || info.biPlanes != 1) return false;
    switch (info.biBitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return false;
    }
    return info.biCompression == 0 || (info.biCompression == 1 && info.biBitCount == 8) ||
           (info.biCompression == 2 && info.biBitCount == 4);
}

DWORD StoredRowBytes(LONG width, int bits) {
    return static_cast<DWORD>((static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4);
}

// The decoded picture of run-length data: one byte a pixel, bottom row first.
void DecodeRunLength(const std::vector<BYTE>& data, bool fourBit, LONG width, LONG height,
                     std::vector<BYTE>& picture) {
    const std::size_t n = data.size();
    LONG x = 0, y = 0;
    auto put = [&](BYTE value) {
        if (x >= 0 && x < width && y >= 0 && y < height)
            picture[static_cast<std::size_t>(y) * width + x] = value;
        ++x;
    };
    std::size_t i = 0;
    while (i + 1 < n && y < height) {
        const BYTE count = data[i], value = data[i + 1];
        i += 2;
        if (count > 0) {
            for (int k = 0; k < count; ++k)
                put(fourBit ? static_cast<BYTE>(k % 2 == 0 ? value >> 4 : value & 15) : value);
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (i + 1 >= n) break;
            x += data[i];
            y += data[i + 1];
            i += 2;
        } else {
            const std::size_t bytes = fourBit ? (value + 1u) / 2 : value;
            if (bytes > n - i) break;
            for (int k = 0; k < value; ++k)
                put(fourBit ? static_cast<BYTE>(k % 2 == 0 ? data[i + k / 2] >> 4
                                                           : data[i + k / 2] & 15)
                            : data[i + k]);
            i += bytes + (bytes & 1);
        }
    }
}

class BmpTranslator final : public TranslatorBase {
public:
    explicit BmpTranslator(IUnknown* outer) : TranslatorBase(outer, "BMP", kBmpOptions) {}

    HRESULT CanLoad() override { return S_OK; }
    HRESULT CanSave() override { return S_OK; }
    HRESULT SetSaveDepth(LONG depth) override {
        if (depth == 0) return S_FALSE;
        saveDepth_ = depth;
        return S_OK;
    }
    HRESULT SetCompression(WORD) override { return S_OK; }

    HRESULT Probe(const char* fileName) override {
        if (stream_ == nullptr) return E_UNEXPECTED;
        if (const HRESULT hr = stream_->Open(fileName, GENERIC_READ); FAILED(hr)) return hr;
        if (stream_->IsOpen() != S_OK) return E_FAIL;
        BYTE head[18]{};
        DWORD done = 0;
        HRESULT hr = stream_->Seek(0, 0, nullptr);
        if (SUCCEEDED(hr)) hr = stream_->Read(head, sizeof head, &done);
        stream_->Close();
        if (FAILED(hr) || done < sizeof head) return S_FALSE;
        return head[0] == 'B' && head[1] == 'M' &&
                       (head[14] == 12 || head[14] == 40 || head[14] == 64)
                   ? S_OK
                   : S_FALSE;
    }

    HRESULT Load(const char* fileName, DWORD format, IBitmapImage** bitmap,
                 IProgressSink* given) override {
        if (bitmap == nullptr) return E_INVALIDARG;
        *bitmap = nullptr;
        if (stream_ == nullptr) return E_UNEXPECTED;
        IProgressSink* sink = SinkFor(given);
        SinkSession session(sink);
        if (const HRESULT hr = stream_->Open(fileName, GENERIC_READ); FAILED(hr)) return hr;
        IBitmapImage* made = nullptr;
        HRESULT hr = stream_->IsOpen() == S_OK ? ReadFile(format, sink, made) : E_FAIL;
        stream_->Close();
        if (FAILED(hr)) return hr;
        *bitmap = made;
        return S_OK;
    }

    HRESULT Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* given) override;

private:
    HRESULT ReadHeaders(BITMAPINFOHEADER& info, std::vector<RGBQUAD>& palette, DWORD& pixelOffset);
    HRESULT ReadFile(DWORD format, IProgressSink* sink, IBitmapImage*& made);
};

HRESULT BmpTranslator::ReadHeaders(BITMAPINFOHEADER& info, std::vector<RGBQUAD>& palette,
                                   DWORD& pixelOffset) {
    BYTE fileHeader[kFileHeaderBytes];
    DWORD done = 0;
    if (FAILED(stream_->Seek(0, 0, nullptr)) ||
        FAILED(stream_->Read(fileHeader, sizeof fileHeader, &done)) || done < sizeof fileHeader)
        return E_FAIL;
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') return E_FAIL;
    pixelOffset = Dword(fileHeader + 10);
    if (pixelOffset < kFileHeaderBytes + 4) return E_FAIL;
    // Only the information header and at most 256 palette entries are used
    // of the block before the pixels, however long the file says it is.
    const DWORD blockBytes =
        std::min<DWORD>(pixelOffset - kFileHeaderBytes, kInfoHeaderBytes + 1024);
    std::vector<BYTE> block(blockBytes);
    if (FAILED(stream_->Read(block.data(), blockBytes, &done))) return E_FAIL;
    if (done < 4) return E_FAIL;
    const DWORD size = Dword(block.data());
    if (size != kInfoHeaderBytes)
        return size == 12 || size == 16 || size == 64 || size > 40 ? E_NOTIMPL : E_FAIL;
    if (done < kInfoHeaderBytes) return E_FAIL;
    std::memcpy(&info, block.data(), sizeof info);
    if (!HeaderCheck(info) || info.biWidth <= 0 || info.biHeight == 0 ||
        info.biHeight == std::numeric_limits<LONG>::min() ||
        (info.biHeight < 0 && info.biCompression != 0))
        return E_FAIL;
    palette.assign(256, RGBQUAD{0, 0, 0, 0});
    if (info.biBitCount < 16) {
        // A palette shorter than the bit count allows is common (biClrUsed);
        // entries the file does not hold stay black.
        const DWORD full = 1u << info.biBitCount;
        DWORD entries = info.biClrUsed > 0 && info.biClrUsed < full ? info.biClrUsed : full;
        entries = std::min(entries, (done - kInfoHeaderBytes) / 4);
        std::memcpy(palette.data(), block.data() + kInfoHeaderBytes, entries * 4);
        for (DWORD i = 0; i < entries; ++i)
            palette[i].rgbReserved = 0;
    }
    return S_OK;
}

HRESULT BmpTranslator::ReadFile(DWORD format, IProgressSink* sink, IBitmapImage*& made) {
    BITMAPINFOHEADER info{};
    std::vector<RGBQUAD> palette;
    DWORD pixelOffset = 0;
    if (const HRESULT hr = ReadHeaders(info, palette, pixelOffset); FAILED(hr)) return hr;
    const int bits = info.biBitCount;
    const LONG width = info.biWidth;
    const bool topFirst = info.biHeight < 0;
    const LONG height = topFirst ? -info.biHeight : info.biHeight;
    const DWORD own = bits <= 8    ? PF_PALETTE8
                      : bits == 16 ? PF_RGB16
                      : bits == 24 ? PF_RGB24
                                   : PF_RGB32A;
    DWORD fileSize = 0;
    if (FAILED(stream_->GetSize(&fileSize)) || fileSize < pixelOffset) return E_FAIL;
    const std::uint64_t fileRowBytes = StoredRowBytes(width, bits);
    const bool runLength = info.biCompression != 0;
    // Rows the file cannot hold are a damaged file, not an image to invent.
    if (!runLength && fileRowBytes * static_cast<std::uint64_t>(height) > fileSize - pixelOffset)
        return E_FAIL;

    auto* object = new (std::nothrow) BitmapObject(nullptr);
    if (object == nullptr) return E_OUTOFMEMORY;
    object->ComObjectBase::AddRef();
    IBitmapImage* image = object;
    auto fail = [&](HRESULT hr) {
        image->Release();
        return hr;
    };
    if (const HRESULT hr = image->Create(width, height, own); FAILED(hr)) return fail(hr);
    BitmapImage target{};
    image->GetImage(&target);
    if (own == PF_PALETTE8) {
        std::memcpy(PaletteOf(target.header), palette.data(), 1024);
        const DWORD entries = info.biClrUsed;
        target.header->biClrUsed = entries < 256 ? entries : 0;
    }
    target.header->biXPelsPerMeter = info.biXPelsPerMeter;
    target.header->biYPelsPerMeter = info.biYPelsPerMeter;
    const auto targetRowBytes =
        static_cast<std::size_t>(RowBytes(*FindFormat(own), static_cast<std::uint64_t>(width)));

    ProgressRecord progress{0, height, 0, LoadPhases(own, format)};
    if (sink) sink->SetPhaseCount(progress.phases);
    auto step = [&] {
        if (sink == nullptr) return false;
        const HRESULT answer = sink->Step(&progress);
        ++progress.step;
        return answer == S_FALSE;
    };

    if (FAILED(stream_->Seek(static_cast<LONG>(pixelOffset), 0, nullptr))) return fail(E_FAIL);
    try {
        if (runLength) {
            const DWORD rest = fileSize - pixelOffset;
            const DWORD size =
                info.biSizeImage > 0 && info.biSizeImage <= rest ? info.biSizeImage : rest;
            std::vector<BYTE> data(size);
            DWORD done = 0;
            if (FAILED(stream_->Read(data.data(), size, &done))) return fail(E_FAIL);
            data.resize(done);
            std::vector<BYTE> picture(static_cast<std::size_t>(width) * height, 0);
            DecodeRunLength(data, bits == 4, width, height, picture);
            for (LONG row = 0; row < height; ++row) {
                if (step()) return fail(E_ABORT);
                std::memcpy(target.pixels + row * targetRowBytes,
                            picture.data() + static_cast<std::size_t>(row) * width,
                            static_cast<std::size_t>(width));
            }
        } else {
            std::vector<BYTE> packed(bits < 8 ? fileRowBytes : 0);
            for (LONG row = 0; row < height; ++row) {
                if (step()) return fail(E_ABORT);
                BYTE* out =
                    target.pixels +
                    static_cast<std::size_t>(topFirst ? height - 1 - row : row) * targetRowBytes;
                BYTE* in = bits < 8 ? packed.data() : out;
                DWORD done = 0;
                if (FAILED(stream_->Read(in, static_cast<DWORD>(fileRowBytes), &done)) ||
                    done < fileRowBytes)
                    return fail(E_FAIL);
                if (bits == 1)
                    for (LONG x = 0; x < width; ++x)
                        out[x] = static_cast<BYTE>(in[x / 8] >> (7 - x % 8) & 1);
                else if (bits == 4)
                    for (LONG x = 0; x < width; ++x)
                        out[x] = static_cast<BYTE>(x % 2 == 0 ? in[x / 2] >> 4 : in[x / 2] & 15);
            }
        }
    } catch (const std::bad_alloc&) {
        return fail(E_OUTOFMEMORY);
    }
    if (format != own)
        if (const HRESULT hr = ConvertLoaded(image, format, sink); FAILED(hr)) return hr;
    image->SetTranslator(Self());
    made = image;
    return S_OK;
}

HRESULT BmpTranslator::Save(const char* fileName, IBitmapImage* bitmap, IProgressSink* given) {
    if (bitmap == nullptr || fileName == nullptr) return E_INVALIDARG;
    if (stream_ == nullptr) return E_UNEXPECTED;
    IProgressSink* sink = SinkFor(given);
    SinkSession session(sink);
    BitmapImage source{};
    if (FAILED(bitmap->GetImage(&source)) || FindFormat(source.format) == nullptr) return E_FAIL;

    // The file's bit count: the save depth when one is set, else the
    // bitmap's own where a bitmap file can hold it.
    int depth = saveDepth_;
    if (depth == 0) {
        switch (source.format) {
        case PF_RGB32A:
            depth = 32;
            break;
        case PF_RGB16:
            depth = 16;
            break;
        case PF_PALETTE8:
        case PF_GREY8:
            depth = 8;
            break;
        case PF_PALETTE4:
            depth = 4;
            break;
        default:
            depth = FindFormat(source.format)->alpha ? 32 : 24;
            break;
        }
    }
    if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)
        return E_INVALIDARG;
    const bool ownIndices =
        (depth == 8 && (source.format == PF_PALETTE8 || source.format == PF_GREY8)) ||
        (depth == 4 && source.format == PF_PALETTE4);
    DWORD rowsFormat = depth == 32 ? PF_RGB32A : depth == 16 ? PF_RGB16 : PF_RGB24;
    if (ownIndices) rowsFormat = source.format;
    const LONG phases = rowsFormat == source.format ? 1 : 2;
    if (sink) sink->SetPhaseCount(phases);
    IBitmapImage* converted = nullptr;
    if (rowsFormat != source.format) {
        if (const HRESULT hr = bitmap->Convert(rowsFormat, &converted, sink); FAILED(hr)) return hr;
        converted->GetImage(&source);
    }
    struct Release {
        IBitmapImage* bitmap;
        ~Release() {
            if (bitmap) bitmap->Release();
        }
    } releaseConverted{converted};

    const LONG width = source.header->biWidth, height = source.header->biHeight;
    const std::size_t sourceRowBytes = static_cast<std::size_t>(
        RowBytes(*FindFormat(source.format), static_cast<std::uint64_t>(width)));
    const DWORD paletteEntries = depth < 16 ? 1u << depth : 0;
    std::vector<RGBQUAD> palette(paletteEntries, RGBQUAD{0, 0, 0, 0});
    std::unique_ptr<NearestColour> nearest;
    if (ownIndices && source.format == PF_GREY8) {
        for (DWORD i = 0; i < 256; ++i)
            palette[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
    } else if (ownIndices) {
        std::memcpy(palette.data(), PaletteOf(source.header), paletteEntries * 4);
    } else if (paletteEntries > 0) {
        // A palette of the image's own colours, as many as the depth holds.
        ColourCollector collector(static_cast<int>(paletteEntries));
        for (LONG row = 0; row < height; ++row) {
            const BYTE* in = source.pixels + row * sourceRowBytes;
            for (LONG x = 0; x < width; ++x)
                collector.Add(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
        }
        const std::vector<RGBQUAD> colours = collector.Palette();
        std::copy_n(colours.begin(), std::min<std::size_t>(colours.size(), paletteEntries),
                    palette.begin());
        nearest = std::make_unique<NearestColour>(
            palette.data(), static_cast<int>(std::max<std::size_t>(colours.size(), 1)));
    }

    const DWORD fileRowBytes = StoredRowBytes(width, depth);
    const DWORD offset = kFileHeaderBytes + kInfoHeaderBytes + paletteEntries * 4;
    BYTE head[kFileHeaderBytes + kInfoHeaderBytes]{};
    head[0] = 'B';
    head[1] = 'M';
    PutDword(head + 2, offset + fileRowBytes * static_cast<DWORD>(height));
    PutDword(head + 10, offset);
    BITMAPINFOHEADER info = *source.header;
    info.biSize = kInfoHeaderBytes;
    info.biPlanes = 1;
    info.biBitCount = static_cast<WORD>(depth);
    info.biCompression = 0;
    info.biSizeImage = 0;
    if (!ownIndices || source.format == PF_GREY8) info.biClrUsed = info.biClrImportant = 0;
    std::memcpy(head + kFileHeaderBytes, &info, sizeof info);

    if (const HRESULT hr = stream_->Open(fileName, GENERIC_WRITE); FAILED(hr)) return hr;
    if (stream_->IsOpen() != S_OK) return E_FAIL;
    auto fail = [&](HRESULT hr) {
        stream_->Close();
        DeleteFileA(fileName);
        return hr;
    };
    if (FAILED(stream_->Write(head, sizeof head, nullptr))) return fail(E_FAIL);
    if (paletteEntries > 0 && FAILED(stream_->Write(palette.data(), paletteEntries * 4, nullptr)))
        return fail(E_FAIL);
    ProgressRecord progress{0, height, 0, phases};
    std::vector<BYTE> out(fileRowBytes, 0);
    for (LONG row = 0; row < height; ++row) {
        if (sink) {
            const HRESULT answer = sink->Step(&progress);
            ++progress.step;
            if (answer == S_FALSE) return fail(E_ABORT);
        }
        const BYTE* in = source.pixels + row * sourceRowBytes;
        if (nearest) {
            std::fill(out.begin(), out.end(), 0);
            for (LONG x = 0; x < width; ++x) {
                const BYTE index = nearest->Find(in[3 * x], in[3 * x + 1], in[3 * x + 2]);
                if (depth == 8)
                    out[x] = index;
                else if (depth == 4)
                    out[x / 2] |= static_cast<BYTE>(x % 2 == 0 ? index << 4 : index);
                else
                    out[x / 8] |= static_cast<BYTE>((index & 1) << (7 - x % 8));
            }
        } else {
            std::memcpy(out.data(), in, std::min<std::size_t>(fileRowBytes, sourceRowBytes));
        }
        if (FAILED(stream_->Write(out.data(), fileRowBytes, nullptr))) return fail(E_FAIL);
    }
    stream_->Close();
    return S_OK;
}

} // namespace

ComObjectBase* CreateBmpTranslator(IUnknown* outer, HRESULT* result) {
    return Create<BmpTranslator>(outer, result);
}

} // namespace rastrel
