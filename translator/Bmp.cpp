// The Windows Bitmap reader.
#include "Bmp.h"

#include "Bitmap.h"
#include "PixelFormats.h"
#include "Translator.h"

#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace rastrel {
namespace {

constexpr DWORD kFileHeaderBytes = 14;
constexpr DWORD kInfoHeaderBytes = 40;
constexpr DWORD kBitFields = 3;

// Information headers read: the 40-byte one, and the longer ones of the
// same start that carry the channel masks in the header (52 and 56 bytes,
// version 4 of 108 and version 5 of 124, what ImageMagick writes today).
bool KnownHeaderSize(DWORD size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

bool HeaderCheck(const BITMAPINFOHEADER& info) {
    if (!KnownHeaderSize(info.biSize) || info.biPlanes != 1) return false;
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
           (info.biCompression == 2 && info.biBitCount == 4) ||
           (info.biCompression == kBitFields && (info.biBitCount == 16 || info.biBitCount == 32));
}

// Run-length data decoded straight into the bitmap's rows (one byte a
// pixel, bottom row first, `stride` bytes apart, cleared to 0 before).
void DecodeRunLength(const std::vector<BYTE>& data, bool fourBit, LONG width, LONG height,
                     BYTE* rows, std::size_t stride) {
    const std::size_t n = data.size();
    LONG x = 0, y = 0;
    auto put = [&](BYTE value) {
        if (x >= 0 && x < width && y >= 0 && y < height)
            rows[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)] = value;
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

// What the headers say: the information header, 256 palette entries (black
// where the file holds fewer), where the pixels start, and for 16-bit
// BI_BITFIELDS pixels the green bits (5 or 6; 0 for any other file).
struct BmpLayout {
    BITMAPINFOHEADER info{};
    std::vector<RGBQUAD> palette;
    DWORD pixelOffset = 0;
    int greenBits = 0;
};

// Channel masks of BI_BITFIELDS files: the three layouts writers use
// (8-8-8-8, 5-5-5, 5-6-5); any other is refused.
bool AcceptMasks(const BITMAPINFOHEADER& info, const BYTE* masks, BmpLayout& layout) {
    const DWORD red = platform::LoadU32Le(masks), green = platform::LoadU32Le(masks + 4),
                blue = platform::LoadU32Le(masks + 8);
    if (info.biBitCount == 32) return red == 0xFF0000 && green == 0xFF00 && blue == 0xFF;
    if (red == 0x7C00 && green == 0x3E0 && blue == 0x1F) layout.greenBits = 5;
    if (red == 0xF800 && green == 0x7E0 && blue == 0x1F) layout.greenBits = 6;
    return layout.greenBits != 0;
}

HRESULT ReadHeaders(platform::ByteSource& source, BmpLayout& layout) {
    BYTE fileHeader[kFileHeaderBytes];
    if (!source.Seek(0) || !source.ReadExact(fileHeader, sizeof fileHeader)) return E_FAIL;
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') return E_FAIL;
    layout.pixelOffset = platform::LoadU32Le(fileHeader + 10);
    if (layout.pixelOffset < kFileHeaderBytes + 4) return E_FAIL;
    // Only the information header, the masks and at most 256 palette
    // entries are used of the block before the pixels, however long the
    // file says it is.
    const DWORD blockBytes =
        std::min<DWORD>(layout.pixelOffset - kFileHeaderBytes, 124 + 12 + 1024);
    std::vector<BYTE> block(blockBytes);
    std::size_t done = 0;
    if (!source.Read(block.data(), blockBytes, done)) return E_FAIL;
    if (done < 4) return E_FAIL;
    const DWORD size = platform::LoadU32Le(block.data());
    if (!KnownHeaderSize(size))
        return size == 12 || size == 16 || size == 64 || size > 40 ? E_NOTIMPL : E_FAIL;
    if (done < size) return E_FAIL;
    BITMAPINFOHEADER& info = layout.info;
    std::memcpy(&info, block.data(), sizeof info);
    if (!HeaderCheck(info) || info.biWidth <= 0 || info.biHeight == 0 ||
        info.biHeight == std::numeric_limits<LONG>::min() ||
        (info.biHeight < 0 && (info.biCompression == 1 || info.biCompression == 2)))
        return E_FAIL;
    // The masks end the longer headers, or follow the 40-byte one.
    if (info.biCompression == kBitFields &&
        (done < kInfoHeaderBytes + 12 ||
         !AcceptMasks(info, block.data() + kInfoHeaderBytes, layout)))
        return E_FAIL;
    layout.palette.assign(256, RGBQUAD{0, 0, 0, 0});
    if (info.biBitCount < 16) {
        // A palette shorter than the bit count allows is common (biClrUsed);
        // entries the file does not hold stay black.
        const DWORD full = 1u << info.biBitCount;
        DWORD entries = info.biClrUsed > 0 && info.biClrUsed < full ? info.biClrUsed : full;
        entries = std::min(entries, static_cast<DWORD>(done - size) / 4);
        std::memcpy(layout.palette.data(), block.data() + size, entries * 4);
        for (DWORD i = 0; i < entries; ++i)
            layout.palette[i].rgbReserved = 0;
    }
    return S_OK;
}

// The bitmap the rows go into, in the file's own format, with its palette
// and resolution.
HRESULT MakeTarget(const BmpLayout& layout, DWORD own, ComPtr<IBitmapImage>& image,
                   BitmapImage& target) {
    image.Attach(NewBitmapObject());
    if (!image) return E_OUTOFMEMORY;
    const LONG height = layout.info.biHeight < 0 ? -layout.info.biHeight : layout.info.biHeight;
    if (const HRESULT hr = image->Create(layout.info.biWidth, height, own); FAILED(hr)) return hr;
    image->GetImage(&target);
    if (own == PF_PALETTE8) {
        std::memcpy(PaletteOf(target.header), layout.palette.data(), 1024);
        const DWORD entries = layout.info.biClrUsed;
        target.header->biClrUsed = entries < 256 ? entries : 0;
    }
    target.header->biXPelsPerMeter = layout.info.biXPelsPerMeter;
    target.header->biYPelsPerMeter = layout.info.biYPelsPerMeter;
    return S_OK;
}

// One Step per row; true when the sink cancels.
class RowSteps {
public:
    RowSteps(IProgressSink* sink, ProgressRecord progress) : sink_(sink), progress_(progress) {}
    bool Cancelled() {
        if (sink_ == nullptr) return false;
        const HRESULT answer = sink_->Step(&progress_);
        ++progress_.step;
        return answer == S_FALSE;
    }

private:
    IProgressSink* sink_;
    ProgressRecord progress_;
};

HRESULT ReadRunLengthRows(platform::ByteSource& source, const BmpLayout& layout, DWORD rest,
                          const BitmapImage& target, std::size_t targetRowBytes, RowSteps& steps) {
    const LONG width = layout.info.biWidth, height = layout.info.biHeight;
    const DWORD size = layout.info.biSizeImage > 0 && layout.info.biSizeImage <= rest
                           ? layout.info.biSizeImage
                           : rest;
    std::vector<BYTE> data(size);
    std::size_t done = 0;
    if (!source.Read(data.data(), size, done)) return E_FAIL;
    data.resize(done);
    DecodeRunLength(data, layout.info.biBitCount == 4, width, height, target.pixels,
                    targetRowBytes);
    for (LONG row = 0; row < height; ++row)
        if (steps.Cancelled()) return E_ABORT;
    return S_OK;
}

HRESULT ReadPlainRows(platform::ByteSource& source, const BmpLayout& layout,
                      const BitmapImage& target, std::size_t targetRowBytes, RowSteps& steps) {
    const int bits = layout.info.biBitCount;
    const LONG width = layout.info.biWidth;
    const bool topFirst = layout.info.biHeight < 0;
    const LONG height = topFirst ? -layout.info.biHeight : layout.info.biHeight;
    const DWORD fileRowBytes = StoredRowBytes(width, bits);
    const int green = layout.greenBits;
    std::vector<BYTE> packed(bits < 8 || green != 0 ? fileRowBytes : 0);
    for (LONG row = 0; row < height; ++row) {
        if (steps.Cancelled()) return E_ABORT;
        BYTE* out = target.pixels +
                    static_cast<std::size_t>(topFirst ? height - 1 - row : row) * targetRowBytes;
        BYTE* in = packed.empty() ? out : packed.data();
        if (!source.ReadExact(in, fileRowBytes)) return E_FAIL;
        if (green != 0)
            // Each channel scaled to the full 0 ... 255 (white stays white).
            for (LONG x = 0; x < width; ++x) {
                const unsigned v = platform::LoadU16Le(in + 2 * x), greenMax = (1u << green) - 1;
                out[3 * x] = static_cast<BYTE>((v & 31) * 255 / 31);
                out[3 * x + 1] = static_cast<BYTE>((v >> 5 & greenMax) * 255 / greenMax);
                out[3 * x + 2] = static_cast<BYTE>((v >> (5 + green) & 31) * 255 / 31);
            }
        if (bits == 1)
            for (LONG x = 0; x < width; ++x)
                out[x] = static_cast<BYTE>(in[x / 8] >> (7 - x % 8) & 1);
        else if (bits == 4)
            for (LONG x = 0; x < width; ++x)
                out[x] = static_cast<BYTE>(x % 2 == 0 ? in[x / 2] >> 4 : in[x / 2] & 15);
    }
    return S_OK;
}

} // namespace

HRESULT ProbeBmp(platform::ByteSource& source) {
    BYTE head[18]{};
    if (!source.Seek(0) || !source.ReadExact(head, sizeof head)) return S_FALSE;
    return head[0] == 'B' && head[1] == 'M' &&
                   (head[14] == 12 || KnownHeaderSize(head[14]) || head[14] == 64)
               ? S_OK
               : S_FALSE;
}

HRESULT ReadBmp(platform::ByteSource& source, DWORD format, IProgressSink* sink,
                ComPtr<IBitmapImage>& bitmap) {
    BmpLayout layout;
    if (const HRESULT hr = ReadHeaders(source, layout); FAILED(hr)) return hr;
    const BITMAPINFOHEADER& info = layout.info;
    const int bits = info.biBitCount;
    const LONG width = info.biWidth;
    const LONG height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
    const DWORD own = bits <= 8                             ? PF_PALETTE8
                      : bits == 16 && layout.greenBits == 0 ? PF_RGB16
                      : bits == 32                          ? PF_RGB32A
                                                            : PF_RGB24;
    std::uint64_t sourceSize = 0;
    if (!source.Size(sourceSize)) return E_FAIL;
    const DWORD fileSize = sourceSize > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<DWORD>(sourceSize);
    if (fileSize < layout.pixelOffset) return E_FAIL;
    const std::uint64_t fileRowBytes = StoredRowBytes(width, bits);
    const bool runLength = info.biCompression == 1 || info.biCompression == 2;
    // Rows the file cannot hold are a damaged file, not an image to invent.
    const std::uint64_t dataBytes = fileSize - layout.pixelOffset;
    if (!runLength && fileRowBytes * static_cast<std::uint64_t>(height) > dataBytes) return E_FAIL;
    // Run-length data reaches a later row by an end of line (2 bytes, one
    // row) or a delta (4 bytes, at most 255 rows): n bytes reach no further
    // than row 64 n. A taller picture would be memory the file cannot fill.
    if (runLength && static_cast<std::uint64_t>(height) > 64 * dataBytes + 1) return E_FAIL;

    ComPtr<IBitmapImage> image;
    BitmapImage target{};
    if (const HRESULT hr = MakeTarget(layout, own, image, target); FAILED(hr)) return hr;
    const auto targetRowBytes =
        static_cast<std::size_t>(RowBytes(*FindFormat(own), static_cast<std::uint64_t>(width)));
    RowSteps steps(sink, ProgressRecord{0, height, 0, LoadPhases(own, format)});
    AnnouncePhases(sink, LoadPhases(own, format));

    if (!source.Seek(layout.pixelOffset)) return E_FAIL;
    try {
        const HRESULT hr = runLength
                               ? ReadRunLengthRows(source, layout, fileSize - layout.pixelOffset,
                                                   target, targetRowBytes, steps)
                               : ReadPlainRows(source, layout, target, targetRowBytes, steps);
        if (FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (format != own)
        if (const HRESULT hr = ConvertLoaded(image, format, sink); FAILED(hr)) return hr;
    bitmap = std::move(image);
    return S_OK;
}

} // namespace rastrel
