#include "Jpeg.h"

#include "JpegDct.h"
#include "platform/OutputFile.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rastrel {
namespace {

using jpeg::ForwardDct;
using jpeg::ForwardMultipliers;
using jpeg::InverseDct;
using jpeg::InverseMultipliers;
using jpeg::kZigZag;
using jpeg::StoreSamples;

constexpr std::size_t kBufferBytes = 16192;

struct HuffmanSpec {
    bool defined = false;
    std::uint8_t counts[16]{};
    std::uint8_t values[256]{};
};

struct Component {
    int id = 0, h = 0, v = 0, quant = 0, dc = -1, ac = -1;
};

// Everything the header scan finds besides the header record.
struct Tables {
    std::uint16_t quant[4][64]{}; // natural order
    bool quantDefined[4]{};
    HuffmanSpec dc[4], ac[4];
    Component components[4];
    int scanComponents = 0;
    int restartInterval = 0;
    std::uint64_t dataStart = 0;
};

// The file a piece at a time, for the header scan.
class Cursor {
public:
    explicit Cursor(platform::ByteSource& source) : source_(source), buffer_(kBufferBytes) {
        source_.Seek(0);
    }
    bool Byte(std::uint8_t& byte) {
        if (at_ == filled_) {
            filled_ = source_.Read(buffer_.data(), buffer_.size());
            at_ = 0;
            if (filled_ == 0) return false;
        }
        byte = buffer_[at_++];
        ++position_;
        return true;
    }
    // Consumes everything up to and including the next 0xFF byte; a
    // non-JPEG file may be scanned to its end, so whole buffers are searched.
    bool SkipPastFF() {
        for (;;) {
            const void* found = std::memchr(buffer_.data() + at_, 0xFF, filled_ - at_);
            if (found != nullptr) {
                const std::size_t next =
                    static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) -
                                             buffer_.data()) +
                    1;
                position_ += next - at_;
                at_ = next;
                return true;
            }
            position_ += filled_ - at_;
            filled_ = source_.Read(buffer_.data(), buffer_.size());
            at_ = 0;
            if (filled_ == 0) return false;
        }
    }
    bool Bytes(std::uint8_t* out, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            if (!Byte(out[i])) return false;
        return true;
    }
    std::uint64_t Position() const { return position_; }

private:
    platform::ByteSource& source_;
    std::vector<std::uint8_t> buffer_;
    std::size_t at_ = 0, filled_ = 0;
    std::uint64_t position_ = 0;
};

bool IsFrameMarker(int marker) {
    return marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xC3 || marker == 0xC9 ||
           marker == 0xCA || marker == 0xCB;
}

int ReadFrame(const std::vector<std::uint8_t>& s, int marker, JpegHeader& header, Tables& t) {
    if (s.size() < 6) return kCodecNotJpeg;
    const int count = s[5];
    if (s.size() < 6 + 3 * static_cast<std::size_t>(count)) return kCodecNotJpeg;
    header.frameType = marker & 0x0F;
    header.precision = s[0];
    header.height = platform::LoadU16Be(&s[1]);
    header.width = platform::LoadU16Be(&s[3]);
    header.components = count;
    header.outputDepth = count == 1 ? 8 : 24;
    for (int i = 0; i < count && i < 4; ++i) {
        const std::uint8_t* c = &s[6 + 3 * static_cast<std::size_t>(i)];
        t.components[i] = {c[0], c[1] >> 4, c[1] & 15, c[2], -1, -1};
        header.sampling[i] = c[1];
    }
    return kCodecOk;
}

int ReadHuffman(const std::vector<std::uint8_t>& s, Tables& t) {
    for (std::size_t at = 0; at < s.size();) {
        const int type = s[at] >> 4, number = s[at] & 15;
        if (type > 1 || number > 3 || s.size() - at < 17) return kCodecNotJpeg;
        HuffmanSpec& spec = type == 0 ? t.dc[number] : t.ac[number];
        int total = 0;
        for (int i = 0; i < 16; ++i)
            total += spec.counts[i] = s[at + 1 + i];
        if (total > 256 || s.size() - at - 17 < static_cast<std::size_t>(total))
            return kCodecNotJpeg;
        std::memcpy(spec.values, &s[at + 17], static_cast<std::size_t>(total));
        spec.defined = true;
        at += 17 + static_cast<std::size_t>(total);
    }
    return kCodecOk;
}

int ReadQuantisation(const std::vector<std::uint8_t>& s, Tables& t) {
    for (std::size_t at = 0; at < s.size();) {
        const int precision = s[at] >> 4, number = s[at] & 15;
        const std::size_t bytes = precision == 0 ? 64 : 128;
        if (precision > 1 || number > 3 || s.size() - at - 1 < bytes) return kCodecNotJpeg;
        for (int k = 0; k < 64; ++k)
            t.quant[number][kZigZag[k]] =
                precision == 0 ? s[at + 1 + k] : platform::LoadU16Be(&s[at + 1 + 2 * k]);
        t.quantDefined[number] = true;
        at += 1 + bytes;
    }
    return kCodecOk;
}

int ReadScan(const std::vector<std::uint8_t>& s, const JpegHeader& header, Tables& t) {
    if (s.empty()) return kCodecNotJpeg;
    const int count = s[0];
    if (count < 1 || count > 4 || s.size() < 4 + 2 * static_cast<std::size_t>(count))
        return kCodecNotJpeg;
    t.scanComponents = count;
    for (int i = 0; i < count; ++i) {
        const int id = s[1 + 2 * i], selectors = s[2 + 2 * i];
        // Components are found by identifier, whatever identifiers the file uses.
        Component* found = nullptr;
        for (int c = 0; c < std::min(header.components, 4); ++c)
            if (t.components[c].id == id) found = &t.components[c];
        if (found == nullptr) return kCodecNotJpeg;
        found->dc = selectors >> 4;
        found->ac = selectors & 15;
    }
    return kCodecOk;
}

// The markers up to the start of the scan.
int ScanHeaders(platform::ByteSource& source, JpegHeader& header, Tables& t) {
    std::memset(&header, 0, sizeof header);
    header.frameType = -1;
    t = Tables{};
    Cursor in(source);
    bool started = false, frame = false, jfif = false;
    std::vector<std::uint8_t> segment;
    for (;;) {
        std::uint8_t marker = 0;
        if (!in.SkipPastFF() || !in.Byte(marker)) return kCodecNotJpeg;
        if (!started) {
            if (marker != 0xD8) return kCodecNotJpeg;
            started = true;
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8) ||
            marker == 0xFF)
            continue;
        if (marker == 0xD9) return kCodecNotJpeg;
        std::uint8_t length[2];
        if (!in.Bytes(length, 2)) return kCodecNotJpeg;
        const int bytes = platform::LoadU16Be(length);
        if (bytes < 2) return kCodecNotJpeg;
        segment.resize(static_cast<std::size_t>(bytes - 2));
        if (!in.Bytes(segment.data(), segment.size())) return kCodecNotJpeg;
        int code = kCodecOk;
        if (IsFrameMarker(marker)) {
            code = ReadFrame(segment, marker, header, t);
            frame = true;
        } else if (marker == 0xE0) {
            // A JFIF extension segment may follow the JFIF one.
            const bool isJfif = segment.size() >= 4 && std::memcmp(segment.data(), "JFIF", 4) == 0;
            const bool isExtension =
                jfif && segment.size() >= 4 && std::memcmp(segment.data(), "JFXX", 4) == 0;
            if (!isJfif && !isExtension) return kCodecNotJpeg;
            jfif = true;
        } else if (marker == 0xC4) {
            code = ReadHuffman(segment, t);
        } else if (marker == 0xDB) {
            code = ReadQuantisation(segment, t);
        } else if (marker == 0xDD) {
            if (segment.size() < 2) return kCodecNotJpeg;
            t.restartInterval = platform::LoadU16Be(segment.data());
        } else if (marker == 0xDA) {
            if (!frame) return kCodecNotJpeg;
            code = ReadScan(segment, header, t);
            t.dataStart = in.Position();
            return code;
        }
        if (code != kCodecOk) return code;
    }
}

// A Huffman table for decoding: codes of up to 9 bits in one look-up,
// longer ones by their length.
struct DecodeTable {
    std::uint16_t fast[512]; // length << 8 | symbol; 0 for longer codes
    // For AC codes whose value fits in the same 9 bits: value * 65536 |
    // run << 8 | bits used; 0 otherwise.
    std::int32_t fastAc[512];
    std::int32_t maxCode[18];
    std::int32_t valueOffset[18];
    std::uint8_t values[256];
};

bool BuildDecodeTable(const HuffmanSpec& spec, DecodeTable& table) {
    std::memset(&table, 0, sizeof table);
    std::memcpy(table.values, spec.values, sizeof table.values);
    int code = 0, k = 0;
    for (int length = 1; length <= 16; ++length) {
        table.valueOffset[length] = k - code;
        for (int i = 0; i < spec.counts[length - 1]; ++i, ++code, ++k) {
            if (code >= (1 << length)) return false;
            if (length <= 9) {
                const int first = code << (9 - length), count = 1 << (9 - length);
                for (int j = 0; j < count; ++j)
                    table.fast[first + j] =
                        static_cast<std::uint16_t>(length << 8 | spec.values[k]);
            }
        }
        table.maxCode[length] = spec.counts[length - 1] != 0 ? code - 1 : -1;
        code <<= 1;
    }
    for (int i = 0; i < 512; ++i) {
        const int length = table.fast[i] >> 8, symbol = table.fast[i] & 0xFF;
        const int run = symbol >> 4, size = symbol & 15;
        if (length == 0 || size == 0 || length + size > 9) continue;
        int value = (i >> (9 - length - size)) & ((1 << size) - 1);
        if (value < (1 << (size - 1))) value += 1 - (1 << size);
        table.fastAc[i] = value * 65536 | run << 8 | (length + size);
    }
    return true;
}

// Entropy-coded bits: stuffed zero bytes dropped, a marker ends the data
// (zeros follow it, counted, so that reading past the data is seen).
class BitReader {
public:
    BitReader(const std::uint8_t* data, std::size_t size) : at_(data), end_(data + size) {}

    void Fill() {
        while (bits_ <= 56) {
            std::uint64_t byte = 0;
            if (!ended_ && at_ < end_) {
                byte = *at_;
                if (byte != 0xFF) {
                    ++at_;
                } else if (end_ - at_ >= 2 && at_[1] == 0) {
                    at_ += 2;
                } else {
                    ended_ = true;
                    byte = 0;
                    phantom_ += 8;
                }
            } else {
                ended_ = true;
                phantom_ += 8;
            }
            acc_ |= byte << (56 - bits_);
            bits_ += 8;
        }
    }
    void Refill() {
        if (bits_ < 32) Fill();
    }
    unsigned Peek9() const { return static_cast<unsigned>(acc_ >> 55); }
    void Consume(int count) {
        acc_ <<= count;
        bits_ -= count;
    }
    // A Huffman symbol, or -1 for a code the table does not have.
    int Decode(const DecodeTable& table) {
        if (bits_ < 32) Fill();
        const std::uint16_t entry = table.fast[acc_ >> 55];
        if (entry != 0) {
            Consume(entry >> 8);
            return entry & 0xFF;
        }
        const auto code16 = static_cast<std::int32_t>(acc_ >> 48);
        for (int length = 10; length <= 16; ++length) {
            const std::int32_t code = code16 >> (16 - length);
            if (code <= table.maxCode[length]) {
                Consume(length);
                return table.values[(table.valueOffset[length] + code) & 0xFF];
            }
        }
        return -1;
    }
    // `size` bits as a signed value (T.81's EXTEND); size at most 16.
    int Receive(int size) {
        if (size == 0) return 0;
        const auto value = static_cast<int>(acc_ >> (64 - size));
        Consume(size);
        return value < (1 << (size - 1)) ? value - (1 << size) + 1 : value;
    }
    // True when bits past the end of the data were used.
    bool Overrun() const { return phantom_ > bits_; }
    // Past a restart marker: false when the data does not hold one here.
    bool Restart() {
        if (Overrun()) return false;
        acc_ = 0;
        bits_ = 0;
        phantom_ = 0;
        ended_ = false;
        while (at_ < end_ && *at_ == 0xFF && end_ - at_ >= 2 && at_[1] == 0xFF)
            ++at_;
        if (end_ - at_ < 2 || at_[0] != 0xFF || (at_[1] & 0xF8) != 0xD0) return false;
        at_ += 2;
        return true;
    }

private:
    const std::uint8_t* at_;
    const std::uint8_t* end_;
    std::uint64_t acc_ = 0;
    int bits_ = 0;
    int phantom_ = 0;
    bool ended_ = false;
};

// The reader's colour tables, indexed by the chroma sample. Chroma is
// centred on 128, as JFIF and our writer have it, and the offsets round to
// nearest on both sides of it: centred on 127.5 and cut toward zero, a
// neutral grey would load tinted (red and blue one level up, green one
// down), also from our own files.
struct ColourTables {
    int red[256], blue[256], greenCb[256], greenCr[256];
    ColourTables() {
        for (int c = 0; c < 256; ++c) {
            const int d = 2 * c - 256;
            red[c] = (d * 22970 / 2 + 8192) >> 14;
            blue[c] = (d * 29032 / 2 + 8192) >> 14;
            greenCb[c] = d * 5638 / -2;
            greenCr[c] = d * 11700 / -2 + 8192;
        }
    }
};
const ColourTables& Colours() {
    static const ColourTables tables;
    return tables;
}

inline std::uint8_t Clamp(int value) {
    return static_cast<std::uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// Each of `count` samples twice over.
void Widen(const std::uint8_t* in, LONG count, std::uint8_t* out) {
    LONG x = 0;
#if defined(__SSE2__)
    for (; x + 16 <= count; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x), _mm_unpacklo_epi8(v, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x + 16), _mm_unpackhi_epi8(v, v));
    }
#endif
    for (; x < count; ++x)
        out[2 * x] = out[2 * x + 1] = in[x];
}

struct ScanComponent {
    int h, v;
    const DecodeTable* dc;
    const DecodeTable* ac;
    alignas(32) float multipliers[64];
    int prediction = 0;
    std::vector<std::uint8_t> plane; // one unit row
    std::size_t stride = 0;
    std::vector<int> columns; // picture column -> plane column
};

// One block into `out`: false for data the tables cannot decode.
bool DecodeBlock(BitReader& bits, ScanComponent& c, std::uint8_t* out) {
    alignas(32) float block[64];
    const int size = bits.Decode(*c.dc);
    // Eight-bit samples have differences of at most 11 bits and values of
    // at most 12; more is damage (and would overflow over many blocks).
    if (size < 0 || size > 11) return false;
    c.prediction += bits.Receive(size);
    if (c.prediction < -4096 || c.prediction > 4096) return false;
    const float dc = static_cast<float>(c.prediction) * c.multipliers[0];
    bool onlyDc = true;
    for (int k = 1; k < 64;) {
        bits.Refill();
        if (const std::int32_t fast = c.ac->fastAc[bits.Peek9()]; fast != 0) {
            bits.Consume(fast & 0xFF);
            k += (fast >> 8) & 0xFF;
            if (k > 63) return false;
            if (onlyDc) {
                std::memset(block, 0, sizeof block);
                onlyDc = false;
            }
            const int at = kZigZag[k];
            block[at] = static_cast<float>(fast >> 16) * c.multipliers[at];
            ++k;
            continue;
        }
        const int symbol = bits.Decode(*c.ac);
        if (symbol < 0) return false;
        const int run = symbol >> 4, bitsOfValue = symbol & 15;
        if (bitsOfValue == 0) {
            if (run != 15) break;
            k += 16;
            continue;
        }
        k += run;
        if (k > 63) return false;
        if (onlyDc) {
            std::memset(block, 0, sizeof block);
            onlyDc = false;
        }
        const int at = kZigZag[k];
        block[at] = static_cast<float>(bits.Receive(bitsOfValue)) * c.multipliers[at];
        ++k;
    }
    if (onlyDc) {
        const std::uint8_t level = Clamp(static_cast<int>(dc + 128.5f));
        for (int y = 0; y < 8; ++y)
            std::memset(out + y * c.stride, level, 8);
        return true;
    }
    block[0] = dc;
    InverseDct(block);
    StoreSamples(block, out, c.stride);
    return true;
}

bool StepCancelled(IProgressSink* sink, ProgressRecord* progress, LONG row) {
    if (sink == nullptr || progress == nullptr) return false;
    progress->step = row;
    return sink->Step(progress) == S_FALSE;
}

} // namespace

int ProbeJpeg(platform::ByteSource& source, JpegHeader& header) {
    Tables tables;
    return ScanHeaders(source, header, tables);
}

int ReadJpeg(platform::ByteSource& source, CodecImage& image, IProgressSink* sink,
             ProgressRecord* progress) {
    SetCodecProgress(sink, progress);
    if (const int code = ValidateCodecImage(image); code != kCodecOk) return code;
    if (image.pixels == nullptr) return kCodecBadImage;
    JpegHeader header{};
    Tables t;
    if (const int code = ScanHeaders(source, header, t); code != kCodecOk) return code;

    if (header.frameType != 0 && header.frameType != 1) return kCodecNotJpeg;
    if (header.width < 1 || header.width > 8095 || header.height < 1 || header.height > 32767)
        return kCodecBadImage;
    if (header.components != 1 && header.components != 3) return kCodecNotJpeg;
    if (header.precision != 8) return kCodecNotJpeg;
    const int count = header.components;
    // A single component is coded one block at a time, whatever its factors.
    int blocks = 0;
    for (int i = 0; i < count; ++i)
        blocks += count == 1 ? 1 : t.components[i].h * t.components[i].v;
    if (blocks > 10) return kCodecNotJpeg;
    for (int i = 0; i < count; ++i) {
        const Component& c = t.components[i];
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4 || c.quant < 0 || c.quant > 3 ||
            !t.quantDefined[c.quant] || c.dc < 0 || c.dc > 3 || c.ac < 0 || c.ac > 3 ||
            !t.dc[c.dc].defined || !t.ac[c.ac].defined)
            return kCodecNotJpeg;
    }
    // Scans of some of the components are not this codec's.
    if (t.scanComponents != count) return kCodecNotJpeg;
    if (image.header->biBitCount != (count == 1 ? 8 : 24)) return kCodecBadDepth;

    std::vector<DecodeTable> dcTables(4), acTables(4);
    for (int i = 0; i < count; ++i) {
        const Component& c = t.components[i];
        if (!BuildDecodeTable(t.dc[c.dc], dcTables[c.dc]) ||
            !BuildDecodeTable(t.ac[c.ac], acTables[c.ac]))
            return kCodecNotJpeg;
    }

    int hMax = 1, vMax = 1;
    for (int i = 0; i < count && count > 1; ++i) {
        hMax = std::max(hMax, t.components[i].h);
        vMax = std::max(vMax, t.components[i].v);
    }
    const int unitWidth = 8 * hMax, unitHeight = 8 * vMax;
    const int unitsAcross = (header.width + unitWidth - 1) / unitWidth;
    const int unitRows = (header.height + unitHeight - 1) / unitHeight;
    const LONG columns = std::min<LONG>(image.right - image.left + 1, header.width);
    const LONG rows = std::min<LONG>(image.bottom - image.top + 1, header.height);

    std::vector<ScanComponent> parts(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const Component& c = t.components[i];
        ScanComponent& p = parts[static_cast<std::size_t>(i)];
        p.h = count == 1 ? 1 : c.h;
        p.v = count == 1 ? 1 : c.v;
        p.dc = &dcTables[c.dc];
        p.ac = &acTables[c.ac];
        InverseMultipliers(t.quant[c.quant], p.multipliers);
        p.stride = static_cast<std::size_t>(unitsAcross) * p.h * 8;
        p.plane.assign(p.stride * static_cast<std::size_t>(p.v) * 8, 0);
        p.columns.resize(static_cast<std::size_t>(columns));
        for (LONG x = 0; x < columns; ++x)
            p.columns[static_cast<std::size_t>(x)] = static_cast<int>(x * p.h / hMax);
    }

    std::uint64_t size = 0;
    if (!source.Size(size) || size < t.dataStart) return kCodecNotJpeg;
    std::vector<std::uint8_t> data;
    try {
        data.resize(static_cast<std::size_t>(size - t.dataStart));
    } catch (...) {
        return kCodecNoMemory;
    }
    source.Seek(t.dataStart);
    data.resize(source.Read(data.data(), data.size()));
    BitReader bits(data.data(), data.size());

    const ColourTables& colour = Colours();
    int halving = -1;
    std::vector<std::uint8_t> cbWide(static_cast<std::size_t>(columns) + 1),
        crWide(static_cast<std::size_t>(columns) + 1);
    if (count == 3 && parts[0].h == hMax && parts[1].h == parts[2].h)
        halving = parts[1].h == hMax ? 0 : 2 * parts[1].h == hMax ? 1 : -1;
    const LONG imageHeight = image.header->biHeight;
    long units = 0;
    for (int unitRow = 0; unitRow < unitRows; ++unitRow) {
        const LONG firstRow = static_cast<LONG>(unitRow) * unitHeight;
        if (firstRow >= rows) break;
        if (StepCancelled(sink, progress, firstRow)) return kCodecCancelled;
        for (int unit = 0; unit < unitsAcross; ++unit, ++units) {
            if (t.restartInterval != 0 && units != 0 && units % t.restartInterval == 0) {
                if (!bits.Restart()) return kCodecNotJpeg;
                for (ScanComponent& p : parts)
                    p.prediction = 0;
            }
            for (ScanComponent& p : parts)
                for (int v = 0; v < p.v; ++v)
                    for (int h = 0; h < p.h; ++h) {
                        std::uint8_t* out = p.plane.data() +
                                            static_cast<std::size_t>(v) * 8 * p.stride +
                                            (static_cast<std::size_t>(unit) * p.h + h) * 8;
                        if (!DecodeBlock(bits, p, out)) return kCodecNotJpeg;
                    }
        }
        // Data that ends early is a damaged file, not a grey picture.
        if (bits.Overrun()) return kCodecNotJpeg;
        const LONG last = std::min<LONG>(rows, firstRow + unitHeight);
        for (LONG row = firstRow; row < last; ++row) {
            const int r = static_cast<int>(row - firstRow);
            BYTE* out =
                image.pixels + static_cast<std::size_t>(imageHeight - 1 - (image.top + row)) *
                                   static_cast<std::size_t>(image.rowBytes);
            const std::uint8_t* y =
                parts[0].plane.data() +
                static_cast<std::size_t>(r * parts[0].v / vMax) * parts[0].stride;
            if (count == 1) {
                std::memcpy(out + image.left, y, static_cast<std::size_t>(columns));
                continue;
            }
            const std::uint8_t* cb =
                parts[1].plane.data() +
                static_cast<std::size_t>(r * parts[1].v / vMax) * parts[1].stride;
            const std::uint8_t* cr =
                parts[2].plane.data() +
                static_cast<std::size_t>(r * parts[2].v / vMax) * parts[2].stride;
            const int* yAt = parts[0].columns.data();
            const int* cbAt = parts[1].columns.data();
            const int* crAt = parts[2].columns.data();
            out += static_cast<std::size_t>(image.left) * 3;
            if (halving >= 0) {
                // Full luminance, chrominance whole or halved across: whole
                // rows through the vector conversion.
                if (halving == 1) {
                    std::uint8_t* wideCb = cbWide.data();
                    std::uint8_t* wideCr = crWide.data();
                    Widen(cb, (columns + 1) / 2, wideCb);
                    Widen(cr, (columns + 1) / 2, wideCr);
                    cb = wideCb;
                    cr = wideCr;
                }
                jpeg::YccToBgr(y, cb, cr, static_cast<int>(columns), out);
                continue;
            }
            for (LONG x = 0; x < columns; ++x, out += 3) {
                const int luma = y[yAt[x]], blue = cb[cbAt[x]], red = cr[crAt[x]];
                out[0] = Clamp(luma + colour.blue[blue]);
                out[1] = Clamp(luma + ((colour.greenCb[blue] + colour.greenCr[red]) >> 14));
                out[2] = Clamp(luma + colour.red[red]);
            }
        }
    }
    if (StepCancelled(sink, progress, rows)) return kCodecCancelled;
    if (count == 1) PutGreyRamp(image);
    return kCodecOk;
}

namespace {

// The example tables of T.81 Annex K.
constexpr std::uint8_t kLuminanceQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::uint8_t kChrominanceQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

constexpr std::uint8_t kDcLuminanceCounts[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kDcChrominanceCounts[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr std::uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
constexpr std::uint8_t kAcLuminanceCounts[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D};
constexpr std::uint8_t kAcLuminanceValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52,
    0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2A, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6,
    0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3,
    0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8,
    0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};
constexpr std::uint8_t kAcChrominanceCounts[16] = {0, 2, 1, 2, 4, 4, 3, 4,
                                                   7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr std::uint8_t kAcChrominanceValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33,
    0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1, 0x17, 0x18,
    0x19, 0x1A, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9A, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4,
    0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA,
    0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7,
    0xE8, 0xE9, 0xEA, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};

// Code and length of each symbol.
struct EncodeTable {
    std::uint16_t code[256]{};
    std::uint8_t length[256]{};
    EncodeTable(const std::uint8_t* counts, const std::uint8_t* values) {
        int next = 0, k = 0;
        for (int bits = 1; bits <= 16; ++bits, next <<= 1)
            for (int i = 0; i < counts[bits - 1]; ++i, ++k, ++next) {
                code[values[k]] = static_cast<std::uint16_t>(next);
                length[values[k]] = static_cast<std::uint8_t>(bits);
            }
    }
};

// Output through one buffer; stuffed bytes go in as the bits are put.
class BitWriter {
public:
    explicit BitWriter(platform::OutputFile& file) : file_(file), buffer_(kBufferBytes) {}
    void Raw(const std::uint8_t* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            if (used_ == buffer_.size()) Flush();
            buffer_[used_++] = bytes[i];
        }
    }
    // Up to 32 bits at a time; whole 32-bit words go out at once unless a
    // byte of them needs its stuffed zero.
    void Put(std::uint32_t value, int length) {
        acc_ = acc_ << length | (value & ((std::uint64_t{1} << length) - 1));
        bits_ += length;
        if (bits_ < 32) return;
        bits_ -= 32;
        const auto word = static_cast<std::uint32_t>(acc_ >> bits_);
        const std::uint32_t inverse = ~word;
        if (((inverse - 0x01010101u) & word & 0x80808080u) == 0) {
            buffer_[used_] = static_cast<std::uint8_t>(word >> 24);
            buffer_[used_ + 1] = static_cast<std::uint8_t>(word >> 16);
            buffer_[used_ + 2] = static_cast<std::uint8_t>(word >> 8);
            buffer_[used_ + 3] = static_cast<std::uint8_t>(word);
            used_ += 4;
            return;
        }
        for (int shift = 24; shift >= 0; shift -= 8)
            Byte(static_cast<std::uint8_t>(word >> shift));
    }
    // Room for one more block's worst case.
    void MakeRoom() {
        if (buffer_.size() - used_ < 1024) Flush();
    }
    // The last byte filled with 1-bits, then the end-of-image marker.
    bool Finish() {
        MakeRoom();
        const int fill = (8 - bits_ % 8) % 8;
        acc_ = acc_ << fill | ((1u << fill) - 1);
        for (bits_ += fill; bits_ > 0;) {
            bits_ -= 8;
            Byte(static_cast<std::uint8_t>(acc_ >> bits_));
        }
        buffer_[used_++] = 0xFF;
        buffer_[used_++] = 0xD9;
        Flush();
        return ok_;
    }
    bool Flush() {
        if (used_ > 0 && !file_.Write(buffer_.data(), used_)) ok_ = false;
        used_ = 0;
        return ok_;
    }
    bool Ok() const { return ok_; }

private:
    void Byte(std::uint8_t byte) {
        buffer_[used_++] = byte;
        if (byte == 0xFF) buffer_[used_++] = 0;
    }

    platform::OutputFile& file_;
    std::vector<std::uint8_t> buffer_;
    std::size_t used_ = 0;
    std::uint64_t acc_ = 0;
    int bits_ = 0;
    bool ok_ = true;
};

int BitsOf(int value) {
    const auto magnitude = static_cast<unsigned>(value < 0 ? -value : value);
    return magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude);
}

struct EncodeComponent {
    const EncodeTable* dc;
    const EncodeTable* ac;
    alignas(32) float multipliers[64];
    int prediction = 0;
};

// Level-shifted samples of one block (8 rows of `stride`) transformed,
// quantised and coded.
void EncodeBlock(BitWriter& out, EncodeComponent& c, const std::uint8_t* samples,
                 std::size_t stride) {
    jpeg::CodedBlock block;
    jpeg::PrepareBlock(samples, stride, c.multipliers, block);
    out.MakeRoom();
    const int difference = block.value[0] - c.prediction;
    c.prediction = block.value[0];
    const int size = BitsOf(difference);
    out.Put(c.dc->code[size], c.dc->length[size]);
    if (size != 0)
        out.Put(static_cast<std::uint32_t>(difference < 0 ? difference - 1 : difference), size);
    // The runs of zeros come from the mask, not from a scan.
    int last = 0;
    for (std::uint64_t nonZero = block.nonZero & ~std::uint64_t{1}; nonZero != 0;
         nonZero &= nonZero - 1) {
        const int k = __builtin_ctzll(nonZero);
        int run = k - last - 1;
        last = k;
        for (; run > 15; run -= 16)
            out.Put(c.ac->code[0xF0], c.ac->length[0xF0]);
        const int symbol = run << 4 | block.size[k];
        out.Put(static_cast<std::uint32_t>(c.ac->code[symbol]) << block.size[k] | block.bits[k],
                c.ac->length[symbol] + block.size[k]);
    }
    if (last < 63) out.Put(c.ac->code[0], c.ac->length[0]);
}

void PutU16(std::vector<std::uint8_t>& out, int value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void PutHuffman(std::vector<std::uint8_t>& out, int classAndNumber, const std::uint8_t* counts,
                const std::uint8_t* values, int total) {
    out.insert(out.end(), {0xFF, 0xC4});
    PutU16(out, 2 + 1 + 16 + total);
    out.push_back(static_cast<std::uint8_t>(classAndNumber));
    out.insert(out.end(), counts, counts + 16);
    out.insert(out.end(), values, values + total);
}

} // namespace

void MakeQuantisationTable(int quality, int table, std::uint16_t* out) {
    if (quality <= 0) quality = 1;
    if (quality > 100) quality = 100;
    const long scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    const std::uint8_t* base = table == 0 ? kLuminanceQuant : kChrominanceQuant;
    for (int i = 0; i < 64; ++i)
        out[i] =
            static_cast<std::uint16_t>(std::clamp<long>((scale * base[i] + 50) / 100, 1, 32767));
}

int WriteJpeg(const char* fileName, CodecImage& image, int quality, IProgressSink* sink,
              ProgressRecord* progress) {
    SetCodecProgress(sink, progress);
    const bool grey = image.header != nullptr && image.header->biBitCount == 8 &&
                      (image.flags & kGreyRampFlag) != 0;
    const int count = grey ? 1 : 3;
    if (const int code = ValidateCodecImage(image); code != kCodecOk) return code;
    if (image.pixels == nullptr) return kCodecBadImage;
    // Written beside the name and renamed when complete: a failed or
    // cancelled write leaves what was there.
    platform::OutputFile file;
    if (!file.Create(fileName)) return kCodecCannotCreate;

    std::uint16_t quant[2][64];
    MakeQuantisationTable(quality, 0, quant[0]);
    MakeQuantisationTable(quality, 1, quant[1]);
    bool wide[2] = {false, false};
    for (int t = 0; t < 2; ++t)
        for (int i = 0; i < 64; ++i)
            wide[t] = wide[t] || quant[t][i] > 255;

    const LONG columns = image.right - image.left + 1, rows = image.bottom - image.top + 1;
    std::vector<std::uint8_t> head = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F',
                                      0,    1,    1,    0,    0, 1,  0,   1,   0,   0};
    for (int t = 0; t < 2; ++t) {
        head.insert(head.end(), {0xFF, 0xDB});
        PutU16(head, wide[t] ? 131 : 67);
        head.push_back(static_cast<std::uint8_t>((wide[t] ? 0x10 : 0) | t));
        for (int k = 0; k < 64; ++k) {
            const int value = quant[t][kZigZag[k]];
            if (wide[t]) head.push_back(static_cast<std::uint8_t>(value >> 8));
            head.push_back(static_cast<std::uint8_t>(value));
        }
    }
    head.insert(head.end(), {0xFF, static_cast<std::uint8_t>(wide[0] || wide[1] ? 0xC1 : 0xC0)});
    PutU16(head, 8 + 3 * count);
    head.push_back(8);
    PutU16(head, rows);
    PutU16(head, columns);
    head.push_back(static_cast<std::uint8_t>(count));
    for (int i = 0; i < count; ++i)
        head.insert(head.end(), {static_cast<std::uint8_t>(i + 1),
                                 static_cast<std::uint8_t>(i == 0 && count == 3 ? 0x22 : 0x11),
                                 static_cast<std::uint8_t>(i == 0 ? 0 : 1)});
    PutHuffman(head, 0x00, kDcLuminanceCounts, kDcValues, 12);
    PutHuffman(head, 0x10, kAcLuminanceCounts, kAcLuminanceValues, 162);
    PutHuffman(head, 0x01, kDcChrominanceCounts, kDcValues, 12);
    PutHuffman(head, 0x11, kAcChrominanceCounts, kAcChrominanceValues, 162);
    head.insert(head.end(), {0xFF, 0xDA});
    PutU16(head, 6 + 2 * count);
    head.push_back(static_cast<std::uint8_t>(count));
    for (int i = 0; i < count; ++i)
        head.insert(head.end(), {static_cast<std::uint8_t>(i + 1),
                                 static_cast<std::uint8_t>(i == 0 ? 0 : 0x11)});
    head.insert(head.end(), {0, 63, 0});

    static const EncodeTable dcLuminance(kDcLuminanceCounts, kDcValues),
        acLuminance(kAcLuminanceCounts, kAcLuminanceValues),
        dcChrominance(kDcChrominanceCounts, kDcValues),
        acChrominance(kAcChrominanceCounts, kAcChrominanceValues);
    EncodeComponent parts[3] = {{&dcLuminance, &acLuminance, {}, 0},
                                {&dcChrominance, &acChrominance, {}, 0},
                                {&dcChrominance, &acChrominance, {}, 0}};
    for (int i = 0; i < count; ++i)
        ForwardMultipliers(quant[i == 0 ? 0 : 1], parts[i].multipliers);

    BitWriter out(file);
    out.Raw(head.data(), head.size());

    // One unit row: luminance at full size, chrominance at full size and
    // then halved, all padded to whole units by repeating the edges.
    const int unit = count == 3 ? 16 : 8;
    const std::size_t width = (static_cast<std::size_t>(columns) + unit - 1) / unit * unit;
    std::vector<std::uint8_t> luma(width * unit), cbFull, crFull, cb, cr;
    if (count == 3) {
        cbFull.resize(width * unit);
        crFull.resize(width * unit);
        cb.resize(width / 2 * 8);
        cr.resize(width / 2 * 8);
    }
    const LONG imageHeight = image.header->biHeight;
    const bool palette = image.header->biBitCount == 8;
    std::vector<BYTE> bgr(palette ? static_cast<std::size_t>(columns) * 3 : 0);
    for (LONG firstRow = 0; firstRow < rows; firstRow += unit) {
        if (StepCancelled(sink, progress, firstRow)) return kCodecCancelled;
        for (int r = 0; r < unit; ++r) {
            const LONG row = std::min<LONG>(firstRow + r, rows - 1);
            const BYTE* in =
                image.pixels + static_cast<std::size_t>(imageHeight - 1 - (image.top + row)) *
                                   static_cast<std::size_t>(image.rowBytes);
            std::uint8_t* y = luma.data() + static_cast<std::size_t>(r) * width;
            std::uint8_t* cbRow = count == 3 ? cbFull.data() + r * width : nullptr;
            std::uint8_t* crRow = count == 3 ? crFull.data() + r * width : nullptr;
            const BYTE* pixel = in + static_cast<std::size_t>(image.left) * (palette ? 1 : 3);
            if (palette) {
                for (LONG x = 0; x < columns; ++x) {
                    const RGBQUAD& entry = image.palette[pixel[x]];
                    bgr[3 * x] = entry.rgbBlue;
                    bgr[3 * x + 1] = entry.rgbGreen;
                    bgr[3 * x + 2] = entry.rgbRed;
                }
                pixel = bgr.data();
            }
            jpeg::BgrToYcc(pixel, static_cast<int>(columns), y, cbRow, crRow);
            // The last column repeated to fill the last unit.
            for (std::size_t x = static_cast<std::size_t>(columns); x < width; ++x) {
                y[x] = y[columns - 1];
                if (count == 3) {
                    cbRow[x] = cbRow[columns - 1];
                    crRow[x] = crRow[columns - 1];
                }
            }
        }
        if (count == 3) {
            const std::size_t half = width / 2;
            for (std::size_t r = 0; r < 8; ++r)
                for (std::size_t x = 0; x < half; ++x) {
                    const std::size_t a = 2 * r * width + 2 * x, b = a + width;
                    cb[r * half + x] = static_cast<std::uint8_t>(
                        (cbFull[a] + cbFull[a + 1] + cbFull[b] + cbFull[b + 1] + 2) / 4);
                    cr[r * half + x] = static_cast<std::uint8_t>(
                        (crFull[a] + crFull[a + 1] + crFull[b] + crFull[b + 1] + 2) / 4);
                }
        }
        for (std::size_t x = 0; x < width; x += unit) {
            if (count == 1) {
                EncodeBlock(out, parts[0], luma.data() + x, width);
                continue;
            }
            EncodeBlock(out, parts[0], luma.data() + x, width);
            EncodeBlock(out, parts[0], luma.data() + x + 8, width);
            EncodeBlock(out, parts[0], luma.data() + 8 * width + x, width);
            EncodeBlock(out, parts[0], luma.data() + 8 * width + x + 8, width);
            EncodeBlock(out, parts[1], cb.data() + x / 2, width / 2);
            EncodeBlock(out, parts[2], cr.data() + x / 2, width / 2);
        }
        if (!out.Ok()) return kCodecWriteError;
    }
    if (StepCancelled(sink, progress, rows)) return kCodecCancelled;
    if (!out.Finish() || !file.Commit()) return kCodecWriteError;
    return kCodecOk;
}

} // namespace rastrel
