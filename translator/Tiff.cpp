#include "Tiff.h"

#include "CodecOutput.h"
#include "SwapBytes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <numeric>
#include <vector>

namespace rastrel {
namespace {

constexpr std::size_t kBufferBytes = 24288;
// Plain rows of this many bytes or more skip the buffer.
constexpr std::size_t kDirectBytes = 4096;

// Field access in the file's byte order.
struct Order {
    bool big;
    WORD U16(const BYTE* p) const { return big ? platform::LoadU16Be(p) : platform::LoadU16Le(p); }
    DWORD U32(const BYTE* p) const { return big ? platform::LoadU32Be(p) : platform::LoadU32Le(p); }
};

int TypeBytes(WORD type) {
    switch (type) {
    case 3:
    case 8:
        return 2;
    case 4:
    case 9:
    case 11:
        return 4;
    case 5:
    case 10:
    case 12:
        return 8;
    default:
        return 1;
    }
}

// The first value of an entry, from the entry or from where it points.
bool FirstValue(platform::ByteSource& source, const Order& order, const TiffValues& values,
                DWORD& value) {
    BYTE raw[8]{}; // the widest type: RATIONAL and DOUBLE take the first 4 bytes
    const int bytes = TypeBytes(values.type);
    if (values.count == 0 || source.ReadAt(values.position, raw, bytes) != std::size_t(bytes))
        return false;
    value = bytes == 1 ? raw[0] : bytes == 2 ? order.U16(raw) : order.U32(raw);
    return true;
}

} // namespace

int ProbeTiff(platform::ByteSource& source, TiffHeader& header) {
    header = TiffHeader{};
    BYTE head[8]{};
    source.Seek(0);
    if (!source.ReadExact(head, sizeof head)) return kCodecNotTiff;
    if (head[0] != head[1] || (head[0] != 'I' && head[0] != 'M')) return kCodecNotTiff;
    const Order order{head[0] == 'M'};
    header.byteOrder = order.big ? 1 : 0;
    if (order.U16(head + 2) != 42) return kCodecNotTiff;
    const DWORD directory = order.U32(head + 4);
    BYTE countBytes[2];
    if (!source.Seek(directory) || !source.ReadExact(countBytes, 2)) return kCodecNotTiff;
    const WORD entries = order.U16(countBytes);
    std::vector<BYTE> table(static_cast<std::size_t>(entries) * 12);
    if (!source.ReadExact(table.data(), table.size())) return kCodecNotTiff;
    bool photometricGiven = false;
    for (WORD i = 0; i < entries; ++i) {
        const BYTE* entry = table.data() + 12 * static_cast<std::size_t>(i);
        TiffValues values;
        const WORD tag = order.U16(entry);
        values.type = order.U16(entry + 2);
        values.count = order.U32(entry + 4);
        const std::uint64_t bytes = std::uint64_t{values.count} * TypeBytes(values.type);
        values.position =
            bytes <= 4 ? directory + 2 + 12u * i + 8 : order.U32(entry + 8); // in the entry
        DWORD value = 0;
        const bool single = values.count == 1;
        const bool whole = values.type == 3 || values.type == 4;
        switch (tag) {
        case 256:
        case 257:
            if (!single || !whole || !FirstValue(source, order, values, value))
                return kCodecNotTiff;
            (tag == 256 ? header.width : header.height) = value;
            break;
        case 258:
            if (values.count > 3 || !FirstValue(source, order, values, value)) return kCodecNotTiff;
            header.bitsPerSample = static_cast<WORD>(value == 8 && values.count == 3 ? 24 : value);
            break;
        case 273:
            if (!whole) return kCodecNotTiff;
            header.stripOffsets = values;
            break;
        case 279:
            if (!whole) return kCodecNotTiff;
            header.stripByteCounts = values;
            break;
        case 320:
            header.colourMap = values;
            break;
        case 259:
        case 262:
        case 266:
        case 277:
        case 278:
        case 284:
        case 292:
        case 317:
            if (!FirstValue(source, order, values, value)) return kCodecNotTiff;
            if (tag == 259) header.compression = static_cast<WORD>(value);
            if (tag == 262) header.photometric = static_cast<WORD>(value), photometricGiven = true;
            if (tag == 266) header.fillOrder = static_cast<WORD>(value);
            if (tag == 277) header.samplesPerPixel = static_cast<WORD>(value);
            if (tag == 278) header.rowsPerStrip = value;
            if (tag == 284) header.planarConfiguration = static_cast<WORD>(value);
            if (tag == 292) header.t4Options = value;
            if (tag == 317) header.predictor = static_cast<WORD>(value);
            break;
        default:
            break;
        }
    }
    // Fax files without the tag are white on zero.
    const WORD c = header.compression;
    if (!photometricGiven && (c == kTiffHuffman || c == kTiffGroup3 || c == kTiffGroup4))
        header.photometric = 0;
    // Three samples of 8 are 24 bits also where BitsPerSample gives one value.
    if (header.bitsPerSample == 8 && header.samplesPerPixel == 3) header.bitsPerSample = 24;
    header.outputDepth = header.bitsPerSample == 1 ? 1 : header.bitsPerSample == 24 ? 24 : 8;
    return kCodecOk;
}

int ReadTiffPalette(platform::ByteSource& source, RGBQUAD* palette) {
    TiffHeader header;
    if (ProbeTiff(source, header) != kCodecOk) return 0;
    const TiffValues& map = header.colourMap;
    if (header.photometric != 3 || header.samplesPerPixel != 1 || map.count < 1 ||
        map.count > 768 || map.type != 3)
        return 0;
    std::vector<BYTE> raw(2 * static_cast<std::size_t>(map.count));
    if (source.ReadAt(map.position, raw.data(), raw.size()) != raw.size()) return 0;
    const Order order{header.byteOrder == 1};
    const DWORD entries = map.count / 3;
    auto high = [&](DWORD index) { return static_cast<BYTE>(order.U16(&raw[2 * index]) >> 8); };
    for (DWORD i = 0; i < entries; ++i)
        palette[i] = {high(2 * entries + i), high(entries + i), high(i), 0};
    return static_cast<int>(entries);
}

namespace {

struct Strip {
    std::uint64_t offset, bytes;
};

// The strips' places, checked against the file: every strip lies inside it
// and no two overlap.
int LocateStrips(platform::ByteSource& source, const TiffHeader& header,
                 std::vector<Strip>& strips) {
    const Order order{header.byteOrder == 1};
    std::uint64_t size = 0;
    if (!source.Size(size)) return kCodecNotTiff;
    auto readArray = [&](const TiffValues& values, std::vector<std::uint64_t>& out) {
        const int bytes = TypeBytes(values.type);
        const std::uint64_t total = std::uint64_t{values.count} * bytes;
        if (total > size) return false;
        std::vector<BYTE> raw(total);
        if (source.ReadAt(values.position, raw.data(), raw.size()) != raw.size()) return false;
        out.resize(values.count);
        for (DWORD i = 0; i < values.count; ++i)
            out[i] = bytes == 2 ? order.U16(&raw[2 * i]) : order.U32(&raw[4 * i]);
        return true;
    };
    std::vector<std::uint64_t> offsets, counts;
    if (header.stripOffsets.count == 0 || !readArray(header.stripOffsets, offsets))
        return kCodecNotTiff;
    const std::size_t n = offsets.size();
    bool counted = header.stripByteCounts.count == n && readArray(header.stripByteCounts, counts);
    if (counted && n > 1 && counts[0] > size) counted = false;
    if (!counted) {
        // Without byte counts a strip reaches to the next one, the last to the end.
        counts.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t end = i + 1 < n ? offsets[i + 1] : size;
            if (end < offsets[i]) return kCodecNotTiff;
            counts[i] = end - offsets[i];
        }
    }
    strips.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (offsets[i] > size || counts[i] > size - offsets[i]) return kCodecNotTiff;
        strips[i] = {offsets[i], counts[i]};
    }
    std::vector<std::size_t> order_(n);
    std::iota(order_.begin(), order_.end(), 0);
    std::sort(order_.begin(), order_.end(),
              [&](std::size_t a, std::size_t b) { return strips[a].offset < strips[b].offset; });
    for (std::size_t k = 1; k < n; ++k) {
        const Strip& before = strips[order_[k - 1]];
        if (before.bytes > 0 && before.offset + before.bytes > strips[order_[k]].offset)
            return kCodecNotTiff;
    }
    return kCodecOk;
}

const std::array<BYTE, 256> kReversed = [] {
    std::array<BYTE, 256> table{};
    for (int b = 0; b < 256; ++b) {
        int r = 0;
        for (int i = 0; i < 8; ++i)
            r |= ((b >> i) & 1) << (7 - i);
        table[b] = static_cast<BYTE>(r);
    }
    return table;
}();

// The encoded bytes of the strips through one buffer: either one strip at
// a time or all of them as one stream.
class StripReader {
public:
    StripReader(platform::ByteSource& source, const std::vector<Strip>& strips, bool reverse,
                bool continuous)
        : source_(source), strips_(strips), reverse_(reverse), continuous_(continuous),
          buffer_(kBufferBytes) {
        Begin(0);
    }
    void Begin(std::size_t strip) {
        strip_ = strip;
        done_ = 0;
        position_ = size_ = 0;
    }
    int Get() {
        if (position_ < size_ || Refill()) return buffer_[position_++];
        return -1;
    }
    // Up to `count` bytes; fewer only at the end.
    std::size_t Take(BYTE* out, std::size_t count) {
        std::size_t got = 0;
        // With nothing buffered, whole rows of plain data are read straight
        // into place: the buffer would only add a copy.
        while (!reverse_ && position_ >= size_ && count - got >= kDirectBytes &&
               strip_ < strips_.size()) {
            const Strip& strip = strips_[strip_];
            const std::size_t want =
                static_cast<std::size_t>(std::min<std::uint64_t>(count - got, strip.bytes - done_));
            const std::size_t read =
                want == 0 ? 0 : source_.ReadAt(strip.offset + done_, out + got, want);
            done_ += read;
            got += read;
            if (read == want && done_ < strip.bytes) continue;
            if (read < want || !continuous_) return got; // the data ends early
            ++strip_;
            done_ = 0;
        }
        while (got < count && (position_ < size_ || Refill())) {
            const std::size_t n = std::min(count - got, size_ - position_);
            std::memcpy(out + got, buffer_.data() + position_, n);
            position_ += n;
            got += n;
        }
        return got;
    }
    // What is buffered of the strip, all taken at once; false at the end.
    bool TakeBuffered(const BYTE*& data, std::size_t& size) {
        if (position_ >= size_ && !Refill()) return false;
        data = buffer_.data() + position_;
        size = size_ - position_;
        position_ = size_;
        return true;
    }
    void Skip(std::size_t count) {
        while (count > 0 && (position_ < size_ || Refill())) {
            const std::size_t n = std::min(count, size_ - position_);
            position_ += n;
            count -= n;
        }
    }

private:
    bool Refill() {
        while (strip_ < strips_.size()) {
            const Strip& strip = strips_[strip_];
            if (done_ < strip.bytes) {
                const std::size_t want = static_cast<std::size_t>(
                    std::min<std::uint64_t>(kBufferBytes, strip.bytes - done_));
                const std::size_t got = source_.ReadAt(strip.offset + done_, buffer_.data(), want);
                if (got > 0) {
                    done_ += got;
                    position_ = 0;
                    size_ = got;
                    if (reverse_)
                        for (std::size_t i = 0; i < got; ++i)
                            buffer_[i] = kReversed[buffer_[i]];
                    return true;
                }
            }
            if (!continuous_) return false;
            ++strip_;
            done_ = 0;
        }
        return false;
    }

    platform::ByteSource& source_;
    const std::vector<Strip>& strips_;
    bool reverse_, continuous_;
    std::vector<BYTE> buffer_;
    std::size_t strip_ = 0;
    std::uint64_t done_ = 0;
    std::size_t position_ = 0, size_ = 0;
};

// ---- CCITT ----------------------------------------------------------------

struct Code {
    const char* bits;
    int run;
};

constexpr Code kWhiteCodes[] = {
    {"00110101", 0},     {"000111", 1},       {"0111", 2},         {"1000", 3},
    {"1011", 4},         {"1100", 5},         {"1110", 6},         {"1111", 7},
    {"10011", 8},        {"10100", 9},        {"00111", 10},       {"01000", 11},
    {"001000", 12},      {"000011", 13},      {"110100", 14},      {"110101", 15},
    {"101010", 16},      {"101011", 17},      {"0100111", 18},     {"0001100", 19},
    {"0001000", 20},     {"0010111", 21},     {"0000011", 22},     {"0000100", 23},
    {"0101000", 24},     {"0101011", 25},     {"0010011", 26},     {"0100100", 27},
    {"0011000", 28},     {"00000010", 29},    {"00000011", 30},    {"00011010", 31},
    {"00011011", 32},    {"00010010", 33},    {"00010011", 34},    {"00010100", 35},
    {"00010101", 36},    {"00010110", 37},    {"00010111", 38},    {"00101000", 39},
    {"00101001", 40},    {"00101010", 41},    {"00101011", 42},    {"00101100", 43},
    {"00101101", 44},    {"00000100", 45},    {"00000101", 46},    {"00001010", 47},
    {"00001011", 48},    {"01010010", 49},    {"01010011", 50},    {"01010100", 51},
    {"01010101", 52},    {"00100100", 53},    {"00100101", 54},    {"01011000", 55},
    {"01011001", 56},    {"01011010", 57},    {"01011011", 58},    {"01001010", 59},
    {"01001011", 60},    {"00110010", 61},    {"00110011", 62},    {"00110100", 63},
    {"11011", 64},       {"10010", 128},      {"010111", 192},     {"0110111", 256},
    {"00110110", 320},   {"00110111", 384},   {"01100100", 448},   {"01100101", 512},
    {"01101000", 576},   {"01100111", 640},   {"011001100", 704},  {"011001101", 768},
    {"011010010", 832},  {"011010011", 896},  {"011010100", 960},  {"011010101", 1024},
    {"011010110", 1088}, {"011010111", 1152}, {"011011000", 1216}, {"011011001", 1280},
    {"011011010", 1344}, {"011011011", 1408}, {"010011000", 1472}, {"010011001", 1536},
    {"010011010", 1600}, {"011000", 1664},    {"010011011", 1728},
};

constexpr Code kBlackCodes[] = {
    {"0000110111", 0},
    {"010", 1},
    {"11", 2},
    {"10", 3},
    {"011", 4},
    {"0011", 5},
    {"0010", 6},
    {"00011", 7},
    {"000101", 8},
    {"000100", 9},
    {"0000100", 10},
    {"0000101", 11},
    {"0000111", 12},
    {"00000100", 13},
    {"00000111", 14},
    {"000011000", 15},
    {"0000010111", 16},
    {"0000011000", 17},
    {"0000001000", 18},
    {"00001100111", 19},
    {"00001101000", 20},
    {"00001101100", 21},
    {"00000110111", 22},
    {"00000101000", 23},
    {"00000010111", 24},
    {"00000011000", 25},
    {"000011001010", 26},
    {"000011001011", 27},
    {"000011001100", 28},
    {"000011001101", 29},
    {"000001101000", 30},
    {"000001101001", 31},
    {"000001101010", 32},
    {"000001101011", 33},
    {"000011010010", 34},
    {"000011010011", 35},
    {"000011010100", 36},
    {"000011010101", 37},
    {"000011010110", 38},
    {"000011010111", 39},
    {"000001101100", 40},
    {"000001101101", 41},
    {"000011011010", 42},
    {"000011011011", 43},
    {"000001010100", 44},
    {"000001010101", 45},
    {"000001010110", 46},
    {"000001010111", 47},
    {"000001100100", 48},
    {"000001100101", 49},
    {"000001010010", 50},
    {"000001010011", 51},
    {"000000100100", 52},
    {"000000110111", 53},
    {"000000111000", 54},
    {"000000100111", 55},
    {"000000101000", 56},
    {"000001011000", 57},
    {"000001011001", 58},
    {"000000101011", 59},
    {"000000101100", 60},
    {"000001011010", 61},
    {"000001100110", 62},
    {"000001100111", 63},
    {"0000001111", 64},
    {"000011001000", 128},
    {"000011001001", 192},
    {"000001011011", 256},
    {"000000110011", 320},
    {"000000110100", 384},
    {"000000110101", 448},
    {"0000001101100", 512},
    {"0000001101101", 576},
    {"0000001001010", 640},
    {"0000001001011", 704},
    {"0000001001100", 768},
    {"0000001001101", 832},
    {"0000001110010", 896},
    {"0000001110011", 960},
    {"0000001110100", 1024},
    {"0000001110101", 1088},
    {"0000001110110", 1152},
    {"0000001110111", 1216},
    {"0000001010010", 1280},
    {"0000001010011", 1344},
    {"0000001010100", 1408},
    {"0000001010101", 1472},
    {"0000001011010", 1536},
    {"0000001011011", 1600},
    {"0000001100100", 1664},
    {"0000001100101", 1728},
};

// Make-up codes both colours share, and the end of line.
constexpr Code kCommonCodes[] = {
    {"00000001000", 1792},  {"00000001100", 1856},  {"00000001101", 1920},  {"000000010010", 1984},
    {"000000010011", 2048}, {"000000010100", 2112}, {"000000010101", 2176}, {"000000010110", 2240},
    {"000000010111", 2304}, {"000000011100", 2368}, {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560}, {"000000000001", -2},
};

enum Mode2D : int {
    kPass = 0,
    kHorizontal,
    kV0,
    kVR1,
    kVR2,
    kVR3,
    kVL1,
    kVL2,
    kVL3,
    kExtension,
    kEol
};

constexpr Code kModeCodes[] = {
    {"0001", kPass},         {"001", kHorizontal},   {"1", kV0},
    {"011", kVR1},           {"000011", kVR2},       {"0000011", kVR3},
    {"010", kVL1},           {"000010", kVL2},       {"0000010", kVL3},
    {"0000001", kExtension}, {"000000000001", kEol},
};

constexpr int kLookBits = 13;

struct Entry {
    std::int16_t run = -1; // -1: no code; -2: end of line
    std::uint8_t length = 0;
};

struct Tables {
    std::vector<Entry> white, black, modes;
    bool sound = true;

    Tables() : white(1 << kLookBits), black(1 << kLookBits), modes(1 << kLookBits) {
        for (const Code& code : kWhiteCodes)
            Put(white, code);
        for (const Code& code : kBlackCodes)
            Put(black, code);
        for (const Code& code : kCommonCodes) {
            Put(white, code);
            Put(black, code);
        }
        for (const Code& code : kModeCodes)
            Put(modes, code);
    }
    void Put(std::vector<Entry>& table, const Code& code) {
        const int length = static_cast<int>(std::strlen(code.bits));
        int value = 0;
        for (int i = 0; i < length; ++i)
            value = value << 1 | (code.bits[i] == '1');
        const int spread = 1 << (kLookBits - length);
        for (int s = 0; s < spread; ++s) {
            Entry& entry = table[static_cast<std::size_t>(value << (kLookBits - length) | s)];
            if (entry.length != 0) sound = false; // one code is the prefix of another
            entry = {static_cast<std::int16_t>(code.run), static_cast<std::uint8_t>(length)};
        }
    }
};

const Tables& CcittTables() {
    static const Tables tables;
    return tables;
}

// Bits most significant first; past the end of the data come zeros, and
// Ended tells that a code reached into them.
class BitReader {
public:
    explicit BitReader(StripReader& in) : in_(in) {}
    std::uint32_t Peek(int n) {
        if (bits_ < n) Fill();
        return static_cast<std::uint32_t>(acc_ >> (64 - n));
    }
    void Skip(int n) {
        acc_ <<= n;
        bits_ -= n;
    }
    bool Ended() const { return bits_ < padding_; }
    bool AtEnd() {
        Fill();
        return bits_ <= padding_;
    }
    void AlignToByte() { Skip(bits_ % 8); }
    void Reset() { acc_ = 0, bits_ = 0, padding_ = 0; }

private:
    void Fill() {
        while (bits_ <= 56) {
            int b = in_.Get();
            if (b < 0) {
                b = 0;
                padding_ += 8;
            }
            acc_ |= std::uint64_t(b) << (56 - bits_);
            bits_ += 8;
        }
    }
    StripReader& in_;
    std::uint64_t acc_ = 0;
    int bits_ = 0, padding_ = 0;
};

constexpr int kRowDone = 1, kRowEnded = 0;

// One run of a colour: make-up codes, then a terminating code.
int ReadRun(BitReader& in, const std::vector<Entry>& table, int& run) {
    run = 0;
    for (;;) {
        const Entry entry = table[in.Peek(kLookBits)];
        if (entry.length == 0 || entry.run < 0) return in.Ended() ? kRowEnded : kCodecNotTiff;
        in.Skip(entry.length);
        if (in.Ended()) return kRowEnded;
        run += entry.run;
        if (entry.run < 64) return kRowDone;
    }
}

// The changes of colour along a row (first white to black), and the
// entries that close it for the look-ups of the next row.
class Changes {
public:
    void Clear() { list_.clear(); }
    void Add(int x) {
        // Two changes at one place cancel: a run of no pixels.
        if (!list_.empty() && list_.back() == x)
            list_.pop_back();
        else
            list_.push_back(x);
    }
    void Close(int width) {
        closed_ = list_.size();
        list_.insert(list_.end(), {width, width, width});
    }
    const std::vector<int>& List() const { return list_; }
    std::size_t Size() const { return closed_; }

private:
    std::vector<int> list_;
    std::size_t closed_ = 0;
};

int DecodeRow1D(BitReader& in, int width, Changes& row) {
    const Tables& tables = CcittTables();
    row.Clear();
    int x = 0, colour = 0;
    while (x < width) {
        int run = 0;
        const int result = ReadRun(in, colour == 0 ? tables.white : tables.black, run);
        if (result != kRowDone) return result;
        x += run;
        if (x > width) return kCodecNotTiff;
        row.Add(x);
        colour ^= 1;
    }
    return kRowDone;
}

int DecodeRow2D(BitReader& in, int width, const std::vector<int>& ref, Changes& row) {
    const Tables& tables = CcittTables();
    row.Clear();
    int a0 = -1, colour = 0;
    std::size_t b = 0;
    while (a0 < width) {
        // b1: the first change on the reference row right of a0 to the
        // other colour; the closing entries stop the walk.
        if (b > 0) --b;
        while (ref[b] <= a0 || static_cast<int>(b & 1) != colour)
            ++b;
        const int b1 = ref[b], b2 = ref[b + 1];
        const Entry mode = tables.modes[in.Peek(kLookBits)];
        if (mode.length == 0) return in.Ended() ? kRowEnded : kCodecNotTiff;
        in.Skip(mode.length);
        if (in.Ended()) return kRowEnded;
        const int start = std::max(a0, 0);
        switch (mode.run) {
        case kPass:
            a0 = b2;
            break;
        case kHorizontal: {
            int first = 0, second = 0;
            int result = ReadRun(in, colour == 0 ? tables.white : tables.black, first);
            if (result == kRowDone)
                result = ReadRun(in, colour == 0 ? tables.black : tables.white, second);
            if (result != kRowDone) return result;
            const int a1 = start + first, a2 = a1 + second;
            if (a2 > width) return kCodecNotTiff;
            row.Add(a1);
            row.Add(a2);
            a0 = a2;
            break;
        }
        case kEol:
            return kRowEnded;
        case kExtension:
            return kCodecUnsupported;
        default: {
            static constexpr int kShift[] = {0, 0, 0, 1, 2, 3, -1, -2, -3};
            const int a1 = b1 + kShift[mode.run];
            if (a1 < start || a1 > width) return kCodecNotTiff;
            row.Add(a1);
            a0 = a1;
            colour ^= 1;
            break;
        }
        }
    }
    return kRowDone;
}

// Sets the bits of the black runs (set = the code's black).
void FillBlack(const Changes& row, int width, BYTE* bits) {
    std::memset(bits, 0, (static_cast<std::size_t>(width) + 7) / 8);
    const std::vector<int>& list = row.List();
    for (std::size_t i = 0; i < row.Size(); i += 2) {
        const int from = list[i];
        const int to = i + 1 < row.Size() ? std::min(list[i + 1], width) : width;
        if (to <= from) continue;
        const int first = from >> 3, last = (to - 1) >> 3;
        const BYTE head = static_cast<BYTE>(0xFF >> (from & 7));
        const BYTE tail = static_cast<BYTE>(0xFF << (7 - ((to - 1) & 7)));
        if (first == last) {
            bits[first] = static_cast<BYTE>(bits[first] | (head & tail));
            continue;
        }
        bits[first] = static_cast<BYTE>(bits[first] | head);
        std::memset(bits + first + 1, 0xFF, static_cast<std::size_t>(last - first - 1));
        bits[last] = static_cast<BYTE>(bits[last] | tail);
    }
}

// ---- LZW ------------------------------------------------------------------

// Decodes one strip into `out`; returns the bytes made or a codec error.
// Every string of the table is already in the output, where it was first
// made: a code's string is copied from there.
long DecodeLzw(StripReader& in, BYTE* out, std::size_t capacity) {
    constexpr std::size_t kShortString = 16;
    static thread_local std::vector<std::uint32_t> offsets(4096), lengths(4096);
    // Looked up once: every use of a thread-local in a library is a call.
    std::uint32_t* const offset = offsets.data();
    std::uint32_t* const length = lengths.data();
    std::uint64_t acc = 0;
    int bits = 0, width = 9, next = 258, old = -1;
    std::size_t made = 0, oldAt = 0, oldLength = 0;
    const BYTE* data = nullptr;
    std::size_t left = 0;
    if (!in.TakeBuffered(data, left)) return 0;
    if (data[0] == 0) return kCodecUnsupported; // the old bit order
    while (made < capacity) {
        if (bits < width && left >= 8) {
            // As many whole bytes as the accumulator holds, in one load.
            const int take = (63 - bits) / 8;
            acc = acc << (8 * take) | platform::LoadU64Be(data) >> (64 - 8 * take);
            data += take;
            left -= static_cast<std::size_t>(take);
            bits += 8 * take;
        }
        while (bits < width) {
            if (left == 0 && !in.TakeBuffered(data, left)) break;
            acc = acc << 8 | *data++;
            --left;
            bits += 8;
        }
        if (bits < width) break;
        const int code = static_cast<int>(acc >> (bits - width)) & ((1 << width) - 1);
        bits -= width;
        if (code == 257) break;
        if (code == 256) {
            width = 9;
            next = 258;
            old = -1;
            continue;
        }
        const std::size_t at = made;
        std::size_t n = 1;
        if (code < 256) {
            out[made] = static_cast<BYTE>(code);
        } else if (old >= 0 && code < next) {
            n = length[code];
            if (n <= kShortString && capacity - made >= kShortString) {
                // Short strings, the usual kind, as two fixed moves: the
                // bytes past the string are written over by the next code
                // or cleared at the end.
                std::uint64_t first, second;
                std::memcpy(&first, out + offset[code], 8);
                std::memcpy(&second, out + offset[code] + 8, 8);
                std::memcpy(out + made, &first, 8);
                std::memcpy(out + made + 8, &second, 8);
            } else {
                std::memcpy(out + made, out + offset[code], std::min(n, capacity - made));
            }
        } else if (old >= 0 && code == next && next < 4096) {
            // The string of the previous code and its own first byte.
            n = oldLength + 1;
            const std::size_t keep = std::min(oldLength, capacity - made);
            std::memcpy(out + made, out + oldAt, keep);
            if (keep < capacity - made) out[made + oldLength] = out[oldAt];
        } else {
            return kCodecNotTiff;
        }
        if (old >= 0 && next < 4096) {
            offset[next] = static_cast<std::uint32_t>(oldAt);
            length[next] = static_cast<std::uint32_t>(oldLength + 1);
            ++next;
            if (next == (1 << width) - 1 && width < 12) ++width;
        }
        old = code;
        oldAt = at;
        oldLength = n;
        made = std::min(capacity, made + n);
    }
    std::memset(out + made, 0, std::min(kShortString, capacity - made));
    return static_cast<long>(made);
}

// ---- Rows -----------------------------------------------------------------

// The file's rows, decoded, one at a time.
class RowDecoder {
public:
    RowDecoder(platform::ByteSource& source, const TiffHeader& header,
               const std::vector<Strip>& strips, std::size_t rowBytes)
        : header_(header), rowBytes_(rowBytes),
          rowsPerStrip_(header.rowsPerStrip == 0 || header.rowsPerStrip > header.height
                            ? header.height
                            : header.rowsPerStrip),
          reader_(source, strips, header.fillOrder == 2,
                  header.compression == kTiffNone || header.compression == kTiffPackBits),
          bits_(reader_), strips_(static_cast<DWORD>(strips.size())) {}

    // Next row into `row` (rowBytes): kRowDone, kRowEnded or an error.
    int Next(BYTE* row) {
        const DWORD index = row_++;
        switch (header_.compression) {
        case kTiffNone: {
            const std::size_t got = reader_.Take(row, rowBytes_);
            if (got == 0) return kRowEnded;
            std::memset(row + got, 0, rowBytes_ - got);
            return kRowDone;
        }
        case kTiffPackBits:
            return PackBits(row);
        case kTiffLzw:
            return Lzw(index, row);
        default:
            return Ccitt(index, row);
        }
    }

private:
    int PackBits(BYTE* row) {
        std::size_t x = 0;
        while (x < rowBytes_) {
            const int n = reader_.Get();
            if (n < 0) break;
            if (n < 128) {
                const std::size_t count = static_cast<std::size_t>(n) + 1;
                const std::size_t keep = std::min(count, rowBytes_ - x);
                const std::size_t got = reader_.Take(row + x, keep);
                x += got;
                if (got < keep) break;
                reader_.Skip(count - keep); // cut at the row's end
            } else if (n > 128) {
                const int value = reader_.Get();
                if (value < 0) break;
                const std::size_t count = std::min<std::size_t>(257 - n, rowBytes_ - x);
                std::memset(row + x, value, count);
                x += count;
            }
        }
        if (x == 0) return kRowEnded;
        std::memset(row + x, 0, rowBytes_ - x);
        return kRowDone;
    }

    int Lzw(DWORD index, BYTE* row) {
        const DWORD strip = index / rowsPerStrip_;
        if (strip >= strips_) return kRowEnded;
        if (index % rowsPerStrip_ == 0) {
            const DWORD rows = std::min(rowsPerStrip_, header_.height - index);
            decoded_.assign(static_cast<std::size_t>(rows) * rowBytes_, 0);
            reader_.Begin(strip);
            const long made = DecodeLzw(reader_, decoded_.data(), decoded_.size());
            if (made < 0) return static_cast<int>(made);
        }
        const std::size_t at = static_cast<std::size_t>(index % rowsPerStrip_) * rowBytes_;
        if (at + rowBytes_ > decoded_.size()) return kRowEnded;
        std::memcpy(row, decoded_.data() + at, rowBytes_);
        return kRowDone;
    }

    int Ccitt(DWORD index, BYTE* row) {
        const DWORD strip = index / rowsPerStrip_;
        if (strip >= strips_) return kRowEnded;
        const int width = static_cast<int>(header_.width);
        if (index % rowsPerStrip_ == 0) {
            // Each strip is coded on its own, from a white row.
            reader_.Begin(strip);
            bits_.Reset();
            reference_.Clear();
            reference_.Close(width);
            stripEnded_ = false;
        }
        std::memset(row, 0, rowBytes_);
        if (stripEnded_) return kRowDone;
        int result = kRowDone;
        if (header_.compression == kTiffHuffman) {
            result = DecodeRow1D(bits_, width, current_);
            bits_.AlignToByte();
        } else if (header_.compression == kTiffGroup4) {
            result = DecodeRow2D(bits_, width, reference_.List(), current_);
        } else {
            // Group 3: an end of line (after fill bits) before each row, then
            // with two-dimensional coding a bit that says which coding follows.
            if (bits_.Peek(11) == 0) {
                while (bits_.Peek(1) == 0 && !bits_.AtEnd())
                    bits_.Skip(1);
                bits_.Skip(1);
            }
            bool oneDimensional = true;
            if (header_.t4Options & 1) {
                oneDimensional = bits_.Peek(1) == 1;
                bits_.Skip(1);
            }
            result = oneDimensional ? DecodeRow1D(bits_, width, current_)
                                    : DecodeRow2D(bits_, width, reference_.List(), current_);
        }
        if (result < 0) return result;
        if (result == kRowEnded) {
            stripEnded_ = true;
            return kRowDone;
        }
        current_.Close(width);
        FillBlack(current_, width, row);
        std::swap(reference_, current_);
        return kRowDone;
    }

    const TiffHeader& header_;
    std::size_t rowBytes_;
    DWORD rowsPerStrip_;
    StripReader reader_;
    BitReader bits_;
    DWORD strips_;
    DWORD row_ = 0;
    std::vector<BYTE> decoded_;
    Changes reference_, current_;
    bool stripEnded_ = false;
};

struct Plan {
    std::size_t rowBytes;
    int imageBits;
};

// Checks what the file holds against what is decoded.
int PlanRead(const TiffHeader& header, Plan& plan) {
    const int bits = header.bitsPerSample;
    const WORD c = header.compression;
    const bool small = bits >= 4 && bits <= 6;
    if (bits != 1 && !small && bits != 8 && bits != 16 && bits != 24) return kCodecNotTiff;
    if (header.stripOffsets.count == 0) return kCodecNotTiff;
    const bool bytes = c == kTiffNone || c == kTiffPackBits || c == kTiffLzw;
    const bool fax = c == kTiffHuffman || c == kTiffGroup3 || c == kTiffGroup4;
    if (!bytes && !(fax && bits == 1)) return kCodecUnsupported;
    if (bits == 24 &&
        (header.samplesPerPixel != 3 || header.photometric != 2 || header.planarConfiguration != 1))
        return kCodecUnsupported;
    if (bits != 24 && header.samplesPerPixel != 1) return kCodecUnsupported;
    if (header.predictor != 1 &&
        !(header.predictor == 2 && c == kTiffLzw && (bits == 8 || bits == 16 || bits == 24)))
        return kCodecUnsupported;
    if (header.width == 0 || header.height == 0) return kCodecNotTiff;
    // A palette file's colour map has an entry for every sample value.
    if (header.photometric == 3 && header.colourMap.count != 0 &&
        (bits > 8 || header.colourMap.count != 3u << bits))
        return kCodecNotTiff;
    plan.rowBytes = (static_cast<std::size_t>(header.width) * bits + 7) / 8;
    plan.imageBits = bits == 1 ? 1 : bits == 24 ? 24 : 8;
    return kCodecOk;
}

// Undoes horizontal differencing in place.
void Undifference(BYTE* row, std::size_t rowBytes, int bits, bool big) {
    if (bits == 16) {
        for (std::size_t i = 2; i + 1 < rowBytes; i += 2) {
            const int hi = big ? 0 : 1, lo = 1 - hi;
            const unsigned previous = row[i - 2 + hi] << 8 | row[i - 2 + lo];
            const unsigned value = ((row[i + hi] << 8 | row[i + lo]) + previous) & 0xFFFF;
            row[i + hi] = static_cast<BYTE>(value >> 8);
            row[i + lo] = static_cast<BYTE>(value);
        }
        return;
    }
    const std::size_t step = bits == 24 ? 3 : 1;
    for (std::size_t i = step; i < rowBytes; ++i)
        row[i] = static_cast<BYTE>(row[i] + row[i - step]);
}

} // namespace

int ReadTiff(platform::ByteSource& source, CodecImage& image, IProgressSink* sink,
             ProgressRecord* progress) {
    SetCodecProgress(sink, progress);
    if (const int code = ValidateCodecImage(image, true); code != kCodecOk) return code;
    if (image.pixels == nullptr) return kCodecBadImage;
    TiffHeader header;
    if (const int code = ProbeTiff(source, header); code != kCodecOk) return code;
    Plan plan{};
    if (const int code = PlanRead(header, plan); code != kCodecOk) return code;
    if (image.header->biBitCount != plan.imageBits) return kCodecBadDepth;
    std::vector<Strip> strips;
    if (const int code = LocateStrips(source, header, strips); code != kCodecOk) return code;

    const LONG rows =
        std::min<LONG>(image.bottom - image.top + 1, static_cast<LONG>(header.height));
    const LONG columns =
        std::min<LONG>(image.right - image.left + 1, static_cast<LONG>(header.width));
    const int bits = header.bitsPerSample;
    const bool big = header.byteOrder == 1;
    const bool hasMap = header.photometric == 3 && header.colourMap.count != 0;
    // Pixel values are what the photometric interpretation says: white is
    // zero gets turned round, for fax codes as for any other.
    const bool invert = header.photometric == 0;
    std::array<BYTE, 64> levels{};
    if (bits >= 4 && bits <= 6)
        for (int v = 0; v < (1 << bits); ++v)
            levels[v] = hasMap
                            ? static_cast<BYTE>(v)
                            : static_cast<BYTE>((invert ? (1 << bits) - 1 - v : v) << (8 - bits));

    RowDecoder decoder(source, header, strips, plan.rowBytes);
    std::vector<BYTE> row(plan.rowBytes + 8, 0);
    const LONG imageHeight = image.header->biHeight;
    for (LONG j = 0; j < rows; ++j) {
        if (CodecStepCancelled()) return kCodecCancelled;
        const int result = decoder.Next(row.data());
        if (result < 0) return result;
        if (result == kRowEnded) break;
        if (header.predictor == 2) Undifference(row.data(), plan.rowBytes, bits, big);
        BYTE* out = image.pixels + static_cast<std::size_t>(imageHeight - 1 - (image.top + j)) *
                                       static_cast<std::size_t>(image.rowBytes);
        const BYTE* in = row.data();
        if (bits == 1) {
            if (invert)
                for (std::size_t i = 0; i < plan.rowBytes; ++i)
                    row[i] = static_cast<BYTE>(~row[i]);
            if (image.left % 8 == 0) {
                std::memcpy(out + image.left / 8, in, (static_cast<std::size_t>(columns) + 7) / 8);
            } else {
                for (LONG x = 0; x < columns; ++x) {
                    const LONG at = image.left + x;
                    const BYTE mask = static_cast<BYTE>(0x80 >> (at & 7));
                    if ((in[x >> 3] >> (7 - (x & 7))) & 1)
                        out[at >> 3] = static_cast<BYTE>(out[at >> 3] | mask);
                    else
                        out[at >> 3] = static_cast<BYTE>(out[at >> 3] & ~mask);
                }
            }
        } else if (bits == 24) {
            SwapOuterBytes(in, out + 3 * static_cast<std::size_t>(image.left),
                           static_cast<std::size_t>(columns));
        } else if (bits == 8 || bits == 16) {
            BYTE* p = out + image.left;
            const BYTE flip = invert && !hasMap ? 0xFF : 0;
            const int step = bits / 8, high = bits == 16 && !big ? 1 : 0;
            for (LONG x = 0; x < columns; ++x)
                p[x] = static_cast<BYTE>(in[step * x + high] ^ flip);
        } else {
            BYTE* p = out + image.left;
            std::uint64_t bit = 0;
            for (LONG x = 0; x < columns; ++x, bit += static_cast<std::uint64_t>(bits)) {
                // Samples of up to 6 bits span at most two bytes.
                const unsigned pair = static_cast<unsigned>(in[bit >> 3]) << 8 | in[(bit >> 3) + 1];
                const unsigned shift =
                    16 - static_cast<unsigned>(bit & 7) - static_cast<unsigned>(bits);
                p[x] = levels[(pair >> shift) & ((1u << bits) - 1)];
            }
        }
    }

    if (image.palette != nullptr) {
        const int entries = hasMap ? ReadTiffPalette(source, image.palette) : 0;
        image.flags &= ~kGreyRampFlag;
        image.paletteEntries = entries;
        if (entries == 0) PutGreyRamp(image);
    }
    return kCodecOk;
}

bool TiffSizeDescribable(platform::ByteSource& source, const TiffHeader& header) {
    std::uint64_t size = 0;
    if (!source.Size(size)) return false;
    const std::uint64_t rowBytes = (std::uint64_t{header.width} * header.bitsPerSample + 7) / 8;
    const std::uint64_t rows = header.height;
    switch (header.compression) {
    case kTiffNone:
        return rowBytes * rows <= size;
    case kTiffPackBits:
        return rowBytes * rows <= 64 * size; // 128 bytes from two
    case kTiffLzw:
        return rowBytes * rows <= 2731 * size; // 4096 bytes from 12 bits
    default:
        return rows <= 8 * size; // a row from one bit
    }
}

bool CcittTablesSound() {
    return CcittTables().sound;
}

// ---- Writing --------------------------------------------------------------

namespace {

constexpr std::size_t kHeaderBlock = 268;
constexpr char kDocumentName[] = "Korvane";

void Entry12(BYTE* at, WORD tag, WORD type, DWORD count, DWORD value) {
    platform::StoreU16Le(at, tag);
    platform::StoreU16Le(at + 2, type);
    platform::StoreU32Le(at + 4, count);
    if (type == 3 && count == 1)
        platform::StoreU16Le(at + 8, static_cast<WORD>(value));
    else
        platform::StoreU32Le(at + 8, value);
}

} // namespace

int WriteTiff(const char* fileName, CodecImage& image, int compressionIndex, IProgressSink* sink,
              ProgressRecord* progress) {
    SetCodecProgress(sink, progress);
    if (const int code = ValidateCodecImage(image); code != kCodecOk) return code;
    if (image.pixels == nullptr) return kCodecBadImage;
    if (compressionIndex != 0) return kCodecUnsupported;
    const int depth = image.header->biBitCount;
    const bool rgb = depth == 24;
    const LONG columns = image.right - image.left + 1;
    const LONG rows = image.bottom - image.top + 1;
    const std::size_t rowBytes = static_cast<std::size_t>(columns) * (rgb ? 3 : 1);
    std::size_t rowsPerStrip = static_cast<std::size_t>(rows), strips = 1;
    if (rowBytes * static_cast<std::size_t>(rows) > kBufferBytes) {
        rowsPerStrip = kBufferBytes / rowBytes;
        strips = (static_cast<std::size_t>(rows) + rowsPerStrip - 1) / rowsPerStrip;
    }
    const bool colourMap = !rgb && image.palette != nullptr && !(image.flags & kGreyRampFlag);
    const std::size_t arrays = strips > 1 ? 8 * strips : 0;
    const std::size_t mapValues = colourMap ? 3 * 256 : 0;
    const std::size_t dataStart = kHeaderBlock + arrays + 2 * mapValues;

    // Rows go out a megabyte at a time: a write call per 24288 bytes costs more
    // than the bytes.
    CodecOutput output(fileName, std::max<std::size_t>(1 << 20, kBufferBytes + rowBytes));
    if (!output.Created()) return kCodecCannotCreate;

    // The header block, the strip arrays and the colour map first; every
    // strip's place and size follow from the rows.
    std::vector<BYTE> head(dataStart, 0);
    head[0] = head[1] = 'I';
    platform::StoreU16Le(&head[2], 42);
    platform::StoreU32Le(&head[4], 8);
    platform::StoreU16Le(&head[8], colourMap ? 18 : 17);
    auto stripBytes = [&](std::size_t s) {
        return std::min(rowsPerStrip, static_cast<std::size_t>(rows) - s * rowsPerStrip) * rowBytes;
    };
    BYTE* e = &head[10];
    Entry12(e, 254, 4, 1, 0);
    Entry12(e + 12, 255, 3, 1, 1);
    Entry12(e + 24, 256, 3, 1, static_cast<DWORD>(columns));
    Entry12(e + 36, 257, 3, 1, static_cast<DWORD>(rows));
    Entry12(e + 48, 258, 3, rgb ? 3 : 1, rgb ? 246 : 8);
    Entry12(e + 60, 259, 3, 1, 1);
    Entry12(e + 72, 262, 3, 1, rgb ? 2 : colourMap ? 3 : 1);
    Entry12(e + 84, 269, 2, 16, 252);
    Entry12(e + 96, 273, 4, static_cast<DWORD>(strips),
            static_cast<DWORD>(strips > 1 ? kHeaderBlock : dataStart));
    Entry12(e + 108, 277, 3, 1, rgb ? 3 : 1);
    Entry12(e + 120, 278, 4, 1, static_cast<DWORD>(rowsPerStrip));
    Entry12(e + 132, 279, 4, static_cast<DWORD>(strips),
            static_cast<DWORD>(strips > 1 ? kHeaderBlock + 4 * strips : stripBytes(0)));
    Entry12(e + 144, 282, 5, 1, 230);
    Entry12(e + 156, 283, 5, 1, 238);
    Entry12(e + 168, 284, 3, 1, 1);
    Entry12(e + 180, 296, 3, 1, 2);
    Entry12(e + 192, 317, 3, 1, 1);
    if (colourMap)
        Entry12(e + 204, 320, 3, static_cast<DWORD>(mapValues),
                static_cast<DWORD>(kHeaderBlock + arrays));
    platform::StoreU32Le(&head[230], 300);
    platform::StoreU32Le(&head[234], 1);
    platform::StoreU32Le(&head[238], 300);
    platform::StoreU32Le(&head[242], 1);
    for (int i = 0; i < 3; ++i)
        platform::StoreU16Le(&head[246 + 2 * i], 8);
    std::memcpy(&head[252], kDocumentName, sizeof kDocumentName - 1);
    if (strips > 1)
        for (std::size_t s = 0; s < strips; ++s) {
            platform::StoreU32Le(&head[kHeaderBlock + 4 * s],
                                 static_cast<DWORD>(dataStart + s * rowsPerStrip * rowBytes));
            platform::StoreU32Le(&head[kHeaderBlock + 4 * strips + 4 * s],
                                 static_cast<DWORD>(stripBytes(s)));
        }
    if (colourMap) {
        // A full 256-entry map, as readers require for 8 bits. Each level
        // times 257, so that 255 is 65535: readers scale by 65535, and
        // times 256 would darken every colour a step.
        const LONG entries = std::min<LONG>(image.paletteEntries, 256);
        BYTE* map = &head[kHeaderBlock + arrays];
        for (LONG i = 0; i < entries; ++i) {
            platform::StoreU16Le(map + 2 * i, static_cast<WORD>(image.palette[i].rgbRed * 257));
            platform::StoreU16Le(map + 512 + 2 * i,
                                 static_cast<WORD>(image.palette[i].rgbGreen * 257));
            platform::StoreU16Le(map + 1024 + 2 * i,
                                 static_cast<WORD>(image.palette[i].rgbBlue * 257));
        }
    }
    if (!output.Write(head.data(), head.size())) return kCodecWriteError;

    const LONG imageHeight = image.header->biHeight;
    for (LONG j = 0; j < rows; ++j) {
        if (progress) progress->step = j;
        if (CodecStepCancelled()) return kCodecCancelled;
        if (output.Room() < rowBytes + 1 && !output.Flush()) return kCodecWriteError;
        const BYTE* in = image.pixels +
                         static_cast<std::size_t>(imageHeight - 1 - (image.top + j)) *
                             static_cast<std::size_t>(image.rowBytes) +
                         static_cast<std::size_t>(image.left) * (rgb ? 3 : 1);
        BYTE* out = output.End();
        if (rgb)
            SwapOuterBytes(in, out, static_cast<std::size_t>(columns));
        else
            std::memcpy(out, in, rowBytes);
        output.Grow(rowBytes);
    }
    if (progress) progress->step = rows;
    if (CodecStepCancelled()) return kCodecCancelled;
    return output.Finish();
}

} // namespace rastrel
