#include "Pcx.h"

#include "CodecOutput.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace rastrel {
namespace {

constexpr std::size_t kChunkBytes = 16196;
constexpr std::size_t kHeaderBytes = 128;
constexpr std::size_t kTrailerBytes = 769;
constexpr BYTE kTrailerMark = 12;
// A run of 63 bytes takes two: no file describes more than this many
// decoded bytes per encoded byte.
constexpr std::uint64_t kLargestExpansion = 32;

constexpr BYTE kDefaultPalette[16][3] = {
    {0, 0, 0},     {0, 0, 168},     {0, 168, 0},    {0, 168, 168},   {168, 0, 0},   {168, 0, 168},
    {168, 84, 0},  {168, 168, 168}, {84, 84, 84},   {84, 84, 252},   {84, 252, 84}, {84, 252, 252},
    {252, 84, 84}, {252, 84, 252},  {252, 252, 84}, {252, 252, 252},
};

enum class Layout { Unsupported, Bits8, Bits1, Planes4, Packed4, Rgb24 };

Layout LayoutOf(const PcxHeader& header) {
    const int planes = header.planes, bits = header.bitsPerPixel;
    if (planes == 1 && bits == 8) return Layout::Bits8;
    if (planes == 1 && bits == 1) return Layout::Bits1;
    if (planes == 4 && bits == 1) return Layout::Planes4;
    if (planes == 1 && bits == 4) return Layout::Packed4;
    if (planes == 3 && bits == 8) return Layout::Rgb24;
    return Layout::Unsupported;
}

bool SixteenColours(Layout layout) {
    return layout == Layout::Planes4 || layout == Layout::Packed4;
}

// The bytes of one line that hold pixels: a shorter line cannot be decoded.
std::uint64_t PixelBytesPerPlane(const PcxHeader& header) {
    return (static_cast<std::uint64_t>(header.width) * header.bitsPerPixel + 7) / 8;
}

// Decodes the planes of one row; a run that goes past the row's end is
// kept for the next row, as its count byte would be rewritten.
class LineDecoder {
public:
    LineDecoder(platform::ByteSource& source, std::size_t lineBytes)
        : lineBytes_(lineBytes), reader_(source, kChunkBytes + 2 * lineBytes, kChunkBytes),
          line_(lineBytes) {}

    // False when the data has ended before the row.
    bool Next() {
        const std::size_t available = reader_.Ensure(2 * lineBytes_);
        const BYTE* in = reader_.Data();
        BYTE* out = line_.data();
        std::size_t used = 0, x = 0;
        while (x < lineBytes_) {
            if (runLeft_ > 0) {
                const std::size_t n = std::min<std::size_t>(runLeft_, lineBytes_ - x);
                std::memset(out + x, runValue_, n);
                x += n;
                runLeft_ -= static_cast<int>(n);
                continue;
            }
            if (used >= available) break;
            const BYTE b = in[used++];
            if (b < 192) {
                out[x++] = b;
                continue;
            }
            if (used >= available) break;
            runLeft_ = b & 63;
            runValue_ = in[used++];
        }
        reader_.Advance(used);
        if (x < lineBytes_) std::memset(out + x, 0, lineBytes_ - x);
        return x > 0 || lineBytes_ == 0;
    }
    const BYTE* Line() const { return line_.data(); }

private:
    std::size_t lineBytes_;
    platform::ChunkedReader reader_;
    std::vector<BYTE> line_;
    int runLeft_ = 0;
    BYTE runValue_ = 0;
};

inline bool BitAt(const BYTE* bits, LONG x) {
    return (bits[x >> 3] >> (7 - (x & 7))) & 1;
}

inline void SetBit(BYTE* bits, LONG x, bool on) {
    const BYTE mask = static_cast<BYTE>(0x80 >> (x & 7));
    bits[x >> 3] = static_cast<BYTE>(on ? bits[x >> 3] | mask : bits[x >> 3] & ~mask);
}

// One decoded row into the image row at column `left`.
void PutRow(Layout layout, const BYTE* line, std::size_t planeBytes, LONG columns, LONG left,
            BYTE* out) {
    switch (layout) {
    case Layout::Bits8:
        std::memcpy(out + left, line, static_cast<std::size_t>(columns));
        break;
    case Layout::Bits1:
        if (left % 8 == 0)
            std::memcpy(out + left / 8, line, static_cast<std::size_t>(columns + 7) / 8);
        else
            for (LONG x = 0; x < columns; ++x)
                SetBit(out, left + x, BitAt(line, x));
        break;
    case Layout::Planes4:
        for (LONG x = 0; x < columns; ++x) {
            int value = 0;
            for (int plane = 0; plane < 4; ++plane)
                value |= BitAt(line + plane * planeBytes, x) << plane;
            out[left + x] = static_cast<BYTE>(value);
        }
        break;
    case Layout::Packed4:
        for (LONG x = 0; x < columns; ++x)
            out[left + x] = static_cast<BYTE>(x % 2 == 0 ? line[x / 2] >> 4 : line[x / 2] & 15);
        break;
    case Layout::Rgb24: {
        const BYTE* red = line;
        const BYTE* green = line + planeBytes;
        const BYTE* blue = line + 2 * planeBytes;
        BYTE* p = out + 3 * static_cast<std::size_t>(left);
        for (LONG x = 0; x < columns; ++x, p += 3) {
            p[0] = blue[x];
            p[1] = green[x];
            p[2] = red[x];
        }
        break;
    }
    case Layout::Unsupported:
        break;
    }
}

} // namespace

int ProbePcx(platform::ByteSource& source, PcxHeader& header) {
    std::memset(&header, 0, sizeof header);
    BYTE raw[kHeaderBytes]{};
    source.Seek(0);
    source.Read(raw, sizeof raw); // a short file reads as zeros past its end
    if (raw[0] != 10 || raw[2] != 1) return kCodecNotPcx;
    header.version = raw[1];
    header.bitsPerPixel = raw[3];
    header.width = LONG{platform::LoadU16Le(raw + 8)} - platform::LoadU16Le(raw + 4) + 1;
    header.height = LONG{platform::LoadU16Le(raw + 10)} - platform::LoadU16Le(raw + 6) + 1;
    header.planes = raw[65];
    header.bytesPerLine = platform::LoadU16Le(raw + 66);
    header.paletteInfo = platform::LoadU16Le(raw + 68);
    header.outputDepth = header.planes * header.bitsPerPixel;
    if ((header.planes == 4 && header.bitsPerPixel == 1) || header.bitsPerPixel == 4)
        header.outputDepth = 8;
    return kCodecOk;
}

int ReadPcxPalette(platform::ByteSource& source, RGBQUAD* palette) {
    PcxHeader header{};
    if (ProbePcx(source, header) != kCodecOk) return 0;
    if ((header.version != 2 && header.version != 5) || LayoutOf(header) == Layout::Rgb24) return 0;
    const int bits = header.bitsPerPixel * header.planes;
    if (bits < 1 || bits > 8) return 0;
    const int count = 1 << bits;
    BYTE colours[768]{};
    int entries = std::min(count, 16);
    BYTE trailer[kTrailerBytes]{};
    if (count == 256 && source.SeekFromEnd(kTrailerBytes) &&
        source.ReadExact(trailer, sizeof trailer) && trailer[0] == kTrailerMark) {
        std::memcpy(colours, trailer + 1, 768);
        entries = 256;
    } else {
        source.Seek(16);
        source.Read(colours, 48);
    }
    for (int i = 0; i < entries; ++i)
        palette[i] = {colours[3 * i + 2], colours[3 * i + 1], colours[3 * i], 0};
    return entries;
}

int ReadPcx(platform::ByteSource& source, CodecImage& image, IProgressSink* sink,
            ProgressRecord* progress) {
    SetCodecProgress(sink, progress);
    if (const int code = ValidateCodecImage(image, true); code != kCodecOk) return code;
    if (image.pixels == nullptr) return kCodecBadImage;
    PcxHeader header{};
    if (const int code = ProbePcx(source, header); code != kCodecOk) return code;
    const Layout layout = LayoutOf(header);
    if (layout == Layout::Unsupported || header.width <= 0 || header.height <= 0 ||
        header.bytesPerLine < PixelBytesPerPlane(header))
        return kCodecNotPcx;
    const int wanted = layout == Layout::Rgb24 ? 24 : layout == Layout::Bits1 ? 1 : 8;
    if (image.header->biBitCount != wanted) return kCodecBadDepth;
    const LONG rows = std::min<LONG>(image.bottom - image.top + 1, header.height);
    const LONG columns = std::min<LONG>(image.right - image.left + 1, header.width);
    if (!source.Seek(kHeaderBytes)) return kCodecNotPcx;

    const std::size_t planeBytes = header.bytesPerLine;
    LineDecoder decoder(source, planeBytes * header.planes);
    const LONG imageHeight = image.header->biHeight;
    if (CodecStepCancelled()) return kCodecCancelled;
    for (LONG j = 0; j < rows; ++j) {
        if (!decoder.Next()) break;
        const LONG pictureRow = image.top + j;
        BYTE* out = image.pixels + static_cast<std::size_t>(imageHeight - 1 - pictureRow) *
                                       static_cast<std::size_t>(image.rowBytes);
        PutRow(layout, decoder.Line(), planeBytes, columns, image.left, out);
        if (CodecStepCancelled()) return kCodecCancelled;
    }

    if (image.palette != nullptr) {
        int entries = ReadPcxPalette(source, image.palette);
        // Two equal colours are no picture: a monochrome file that left its palette empty.
        if (entries == 2 && std::memcmp(&image.palette[0], &image.palette[1], 4) == 0) entries = 0;
        image.flags &= ~kGreyRampFlag;
        image.paletteEntries = entries;
        if (entries == 0 && SixteenColours(layout)) {
            for (int i = 0; i < 16; ++i)
                image.palette[i] = {kDefaultPalette[i][2], kDefaultPalette[i][1],
                                    kDefaultPalette[i][0], 0};
            image.paletteEntries = 16;
        } else if (entries == 0) {
            PutGreyRamp(image);
        }
    }
    return kCodecOk;
}

int ExpandMonochrome(const CodecImage& monochrome, CodecImage& grey) {
    if (monochrome.header == nullptr || grey.header == nullptr ||
        monochrome.header->biBitCount != 1 || grey.header->biBitCount != 8)
        return kCodecBadDepth;
    // Eight pixels of a byte at a time.
    static const auto kExpanded = [] {
        std::array<std::uint64_t, 256> table{};
        for (int b = 0; b < 256; ++b)
            for (int i = 0; i < 8; ++i)
                if ((b >> (7 - i)) & 1) table[b] |= std::uint64_t{0xFF} << (8 * i);
        return table;
    }();
    const LONG columns =
        std::min(monochrome.right - monochrome.left + 1, grey.header->biWidth - monochrome.left);
    const LONG last = std::min(monochrome.bottom, grey.header->biHeight - 1);
    for (LONG y = monochrome.top; y <= last; ++y) {
        const BYTE* in =
            monochrome.pixels + static_cast<std::size_t>(monochrome.header->biHeight - 1 - y) *
                                    static_cast<std::size_t>(monochrome.rowBytes);
        BYTE* out = grey.pixels + static_cast<std::size_t>(grey.header->biHeight - 1 - y) *
                                      static_cast<std::size_t>(grey.rowBytes);
        LONG x = monochrome.left;
        for (; x < monochrome.left + columns && x % 8 != 0; ++x)
            out[x] = BitAt(in, x) ? 255 : 0;
        for (; x + 8 <= monochrome.left + columns; x += 8)
            std::memcpy(out + x, &kExpanded[in[x >> 3]], 8);
        for (; x < monochrome.left + columns; ++x)
            out[x] = BitAt(in, x) ? 255 : 0;
    }
    grey.flags |= kGreyRampFlag;
    return kCodecOk;
}

namespace {

// One line as runs of at most 63; a run of 2 or more and a lone byte of
// 192 or more take a count byte.
BYTE* EncodeLine(const BYTE* line, std::size_t length, BYTE* out) {
    for (std::size_t i = 0; i < length;) {
        const BYTE value = line[i];
        std::size_t run = 1;
        while (run < 63 && i + run < length && line[i + run] == value)
            ++run;
        if (run > 1 || value >= 192) *out++ = static_cast<BYTE>(192 + run);
        *out++ = value;
        i += run;
    }
    return out;
}

} // namespace

int WritePcx(const char* fileName, CodecImage& image, IProgressSink* sink,
             ProgressRecord* progress) {
    SetCodecProgress(sink, progress);
    if (const int code = ValidateCodecImage(image, true); code != kCodecOk) return code;
    if (image.pixels == nullptr) return kCodecBadImage;
    const int depth = image.header->biBitCount;
    const LONG columns = image.right - image.left + 1;
    std::size_t planeBytes = depth == 1 ? (static_cast<std::size_t>(columns) + 7) / 8
                                        : static_cast<std::size_t>(columns);
    planeBytes += planeBytes & 1;
    const int planes = depth == 24 ? 3 : 1;
    const std::size_t lineBytes = planeBytes * planes;
    const std::size_t worst = 2 * lineBytes;
    CodecOutput output(fileName, kChunkBytes + 2 * worst);
    if (!output.Created()) return kCodecCannotCreate;

    BYTE head[kHeaderBytes]{};
    head[0] = 10;
    head[1] = 5;
    head[2] = 1;
    head[3] = static_cast<BYTE>(depth == 24 ? 8 : depth);
    platform::StoreU16Le(head + 4, static_cast<WORD>(image.left));
    platform::StoreU16Le(head + 6, static_cast<WORD>(image.top));
    platform::StoreU16Le(head + 8, static_cast<WORD>(image.right));
    platform::StoreU16Le(head + 10, static_cast<WORD>(image.bottom));
    platform::StoreU16Le(head + 12, 72);
    platform::StoreU16Le(head + 14, 72);
    const LONG entries = image.palette != nullptr ? image.paletteEntries : 0;
    if (depth != 24 && (depth == 1 || entries <= 16))
        for (LONG i = 0; i < std::min<LONG>(entries, 16); ++i) {
            head[16 + 3 * i] = image.palette[i].rgbRed;
            head[17 + 3 * i] = image.palette[i].rgbGreen;
            head[18 + 3 * i] = image.palette[i].rgbBlue;
        }
    head[65] = static_cast<BYTE>(planes);
    platform::StoreU16Le(head + 66, static_cast<WORD>(planeBytes));
    platform::StoreU16Le(head + 68, 1);
    std::memcpy(output.End(), head, sizeof head);
    output.Grow(sizeof head);

    std::vector<BYTE> line(lineBytes, 0);
    const LONG imageHeight = image.header->biHeight;
    for (LONG y = image.top; y <= image.bottom; ++y) {
        if (CodecStepCancelled()) return kCodecCancelled;
        if (kChunkBytes - std::min(output.Used(), kChunkBytes) <= worst && !output.Flush())
            return kCodecWriteError;
        const BYTE* in = image.pixels + static_cast<std::size_t>(imageHeight - 1 - y) *
                                            static_cast<std::size_t>(image.rowBytes);
        if (depth == 24) {
            const BYTE* p = in + 3 * static_cast<std::size_t>(image.left);
            for (LONG x = 0; x < columns; ++x, p += 3) {
                line[x] = p[2];
                line[planeBytes + x] = p[1];
                line[2 * planeBytes + x] = p[0];
            }
        } else if (depth == 8) {
            std::memcpy(line.data(), in + image.left, static_cast<std::size_t>(columns));
        } else {
            std::fill(line.begin(), line.end(), 0);
            for (LONG x = 0; x < columns; ++x)
                SetBit(line.data(), x, BitAt(in, image.left + x));
        }
        BYTE* end = output.End();
        for (int plane = 0; plane < planes; ++plane)
            end = EncodeLine(line.data() + plane * planeBytes, planeBytes, end);
        output.Grow(static_cast<std::size_t>(end - output.End()));
    }

    // Every 8-bit file gets the trailer: readers of 8-bit files look for
    // it whatever the header palette holds.
    if (depth == 8 || (depth != 24 && entries > 16)) {
        BYTE trailer[kTrailerBytes]{};
        trailer[0] = kTrailerMark;
        for (LONG i = 0; i < std::min<LONG>(entries, 256); ++i) {
            trailer[1 + 3 * i] = image.palette[i].rgbRed;
            trailer[2 + 3 * i] = image.palette[i].rgbGreen;
            trailer[3 + 3 * i] = image.palette[i].rgbBlue;
        }
        if (!output.Write(trailer, sizeof trailer)) return kCodecWriteError;
    }
    return output.Finish();
}

bool PcxSizeDescribable(platform::ByteSource& source, const PcxHeader& header) {
    std::uint64_t size = 0;
    if (!source.Size(size)) return false;
    const std::uint64_t encoded = size > kHeaderBytes ? size - kHeaderBytes : 0;
    const std::uint64_t decoded = static_cast<std::uint64_t>(header.bytesPerLine) * header.planes *
                                  static_cast<std::uint64_t>(header.height);
    return decoded <= kLargestExpansion * encoded;
}

} // namespace rastrel
