#include "RowChain.h"

#include "Codec.h"
#include "Palette.h"
#include "PixelFormats.h"
#include "YuvConversion.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <iterator>
#include <memory>
#include <new>

namespace rastrel {
namespace {

// The stages, as edges between formats. Within a family every
// non-palette format repacks into every other (the 16-bit RGB form has its
// own rules); between the families the colour-space stages; palettes
// expand to and reduce from 24-bit RGB.
constexpr DWORD kYuvFormats[] = {0x4, 0x8, 0x10, 0x20, 0x40, 0x80, 0x100, 0x200};
constexpr DWORD kDibFormats[] = {0x1, 0x400, 0x2, 0x800, 0x1000, 0x2000};
struct Edge {
    DWORD from, to;
};
constexpr Edge kFixedEdges[] = {
    // The 16-bit RGB form.
    {0x8000, 0x400},
    {0x8000, 0x800},
    {0x400, 0x8000},
    {0x800, 0x8000},
    // Colour space.
    {0x400, 0x4},
    {0x400, 0x8},
    {0x800, 0x4},
    {0x800, 0x8},
    {0x4, 0x400},
    {0x8, 0x400},
    {0x4, 0x800},
    {0x8, 0x800},
    // Palettes.
    {0x4000, 0x400},
    {0x10000, 0x400},
    {0x400, 0x4000},
    {0x400, 0x10000},
};

void AddFamily(std::vector<Edge>& edges, const DWORD* begin, const DWORD* end) {
    for (const DWORD* a = begin; a != end; ++a)
        for (const DWORD* b = begin; b != end; ++b)
            if (a != b) edges.push_back({*a, *b});
}

const std::vector<Edge>& Edges() {
    static const std::vector<Edge> edges = [] {
        std::vector<Edge> all;
        AddFamily(all, std::begin(kDibFormats), std::end(kDibFormats));
        AddFamily(all, std::begin(kYuvFormats), std::end(kYuvFormats));
        all.insert(all.end(), std::begin(kFixedEdges), std::end(kFixedEdges));
        return all;
    }();
    return edges;
}

class Stage {
public:
    virtual ~Stage() = default;
    virtual void Run(const BYTE* input, BYTE* output, LONG width) = 0;
};

// One pixel of any non-palette format of a family, unpacked: blue, green,
// red or Y, Cb, Cr, then alpha, at the precision of the wider side.
struct Samples {
    unsigned c[4];
};

// 8-bit and 10-bit samples, scaled with rounding (255 <-> 1023).
inline unsigned Widen(unsigned v) {
    return (v * 1023 + 127) / 255;
}
inline unsigned Narrow(unsigned v) {
    return ((v > 1023 ? 1023 : v) * 255 + 511) / 1023;
}
inline unsigned Word(const BYTE* p) {
    return p[0] | p[1] << 8;
}
inline void PutWord(BYTE* p, unsigned v) {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}

// Between two grey or RGB formats (0x1, 0x2, 0x400, 0x800, 0x1000, 0x2000),
// as the public header lays them out. Grey is the BT.601 luma, rounded;
// alpha is kept where both sides have it, else 255 (1023).
class DibRepack final : public Stage {
public:
    DibRepack(const FormatInfo& from, const FormatInfo& to)
        : from_(from), to_(to), wide_(IsWide(from) || IsWide(to)) {}
    void Run(const BYTE* input, BYTE* output, LONG width) override {
        const unsigned top = wide_ ? 1023 : 255;
        for (LONG x = 0; x < width; ++x) {
            Samples s{{0, 0, 0, top}};
            Read(input, x, s);
            Write(output, x, s);
        }
    }

private:
    static bool IsWide(const FormatInfo& f) {
        return f.code == 0x2 || f.code == 0x1000 || f.code == 0x2000;
    }
    unsigned In(unsigned v, bool wideSample) const { return wide_ && !wideSample ? Widen(v) : v; }
    unsigned Out(unsigned v, bool wideSample) const { return wide_ && !wideSample ? Narrow(v) : v; }
    void Read(const BYTE* in, LONG x, Samples& s) const {
        switch (from_.code) {
        case 0x1:
            s.c[0] = s.c[1] = s.c[2] = In(in[x], false);
            break;
        case 0x2:
            s.c[0] = s.c[1] = s.c[2] = std::min(Word(in + 2 * x), 1023u);
            break;
        case 0x400:
        case 0x800: {
            const int n = from_.code == 0x400 ? 3 : 4;
            for (int k = 0; k < n; ++k)
                s.c[k] = In(in[n * x + k], false);
            break;
        }
        default: { // 0x1000, 0x2000: 16-bit words
            const int n = from_.code == 0x1000 ? 3 : 4;
            for (int k = 0; k < n; ++k)
                s.c[k] = std::min(Word(in + 2 * (n * x + k)), 1023u);
        }
        }
    }
    void Write(BYTE* out, LONG x, const Samples& s) const {
        switch (to_.code) {
        case 0x1:
        case 0x2: {
            const unsigned luma = (299 * s.c[2] + 587 * s.c[1] + 114 * s.c[0] + 500) / 1000;
            if (to_.code == 0x1)
                out[x] = static_cast<BYTE>(Out(luma, false));
            else
                PutWord(out + 2 * x, luma);
            break;
        }
        case 0x400:
        case 0x800: {
            const int n = to_.code == 0x400 ? 3 : 4;
            for (int k = 0; k < n; ++k)
                out[n * x + k] = static_cast<BYTE>(Out(s.c[k], false));
            break;
        }
        default: {
            const int n = to_.code == 0x1000 ? 3 : 4;
            for (int k = 0; k < n; ++k)
                PutWord(out + 2 * (n * x + k), s.c[k]);
        }
        }
    }

    const FormatInfo &from_, &to_;
    bool wide_;
};

// Between two YUV formats. The pair formats (0x4, 0x8, 0x40, 0x10, 0x20)
// hold one colour difference a pixel, Cb on even and Cr on odd pixels; the
// others hold Y, Cb, Cr (and alpha) in every pixel. A pair's colour comes
// from its first pixel, as in the conversion from RGB.
class YuvRepack final : public Stage {
public:
    YuvRepack(const FormatInfo& from, const FormatInfo& to)
        : from_(from.code), to_(to.code), wide_(IsWide(from.code) || IsWide(to.code)) {}
    void Run(const BYTE* input, BYTE* output, LONG width) override {
        const unsigned top = wide_ ? 1023 : 255, neutral = wide_ ? 512 : 128;
        samples_.resize(static_cast<std::size_t>(width));
        for (LONG x = 0; x < width; ++x) {
            Samples& s = samples_[static_cast<std::size_t>(x)];
            s = {{0, neutral, neutral, top}};
            Read(input, x, s);
        }
        if (Paired(from_))
            for (LONG x = 0; x < width; x += 2) {
                // c[1] holds each pixel's own colour byte: the pair shares Cb, Cr.
                Samples& even = samples_[static_cast<std::size_t>(x)];
                const unsigned cr = x + 1 < width ? samples_[static_cast<std::size_t>(x) + 1].c[1]
                                    : x > 0       ? samples_[static_cast<std::size_t>(x) - 1].c[2]
                                                  : neutral;
                even.c[2] = cr;
                if (x + 1 < width) {
                    samples_[static_cast<std::size_t>(x) + 1].c[1] = even.c[1];
                    samples_[static_cast<std::size_t>(x) + 1].c[2] = cr;
                }
            }
        for (LONG x = 0; x < width; ++x) {
            Samples s = samples_[static_cast<std::size_t>(x)];
            if (Paired(to_) && x % 2 == 1) s.c[1] = samples_[static_cast<std::size_t>(x) - 1].c[2];
            Write(output, x, s);
        }
    }

private:
    static bool IsWide(DWORD f) { return f == 0x10 || f == 0x20 || f == 0x100 || f == 0x200; }
    static bool Paired(DWORD f) { return f != 0x80 && f != 0x100 && f != 0x200; }
    unsigned In(unsigned v) const { return wide_ ? Widen(v) : v; }
    unsigned Out(unsigned v) const { return wide_ ? Narrow(v) : v; }
    // Samples: c[0] Y, c[1] Cb (or the pixel's own colour byte), c[2] Cr, c[3] alpha.
    void Read(const BYTE* in, LONG x, Samples& s) const {
        switch (from_) {
        case 0x4:
            s.c[1] = In(in[2 * x]), s.c[0] = In(in[2 * x + 1]);
            break;
        case 0x8:
        case 0x40:
            s.c[1] = In(in[3 * x]), s.c[0] = In(in[3 * x + 1]);
            if (from_ == 0x8) s.c[3] = In(in[3 * x + 2]);
            break;
        case 0x10:
        case 0x20: {
            const BYTE* p = in + (from_ == 0x10 ? 3 : 4) * x;
            const std::uint32_t v = p[0] | p[1] << 8 | p[2] << 16 |
                                    (from_ == 0x20 ? static_cast<std::uint32_t>(p[3]) << 24 : 0);
            s.c[1] = v & 1023, s.c[0] = v >> 10 & 1023;
            if (from_ == 0x20) s.c[3] = v >> 20 & 1023;
            break;
        }
        case 0x80:
            for (int k = 0; k < 4; ++k)
                s.c[k] = In(in[4 * x + k]);
            break;
        default: { // 0x100, 0x200: 16-bit words
            const int n = from_ == 0x100 ? 3 : 4;
            for (int k = 0; k < n; ++k)
                s.c[k] = std::min(Word(in + 2 * (n * x + k)), 1023u);
        }
        }
    }
    void Write(BYTE* out, LONG x, const Samples& s) const {
        auto byte = [&](unsigned v) { return static_cast<BYTE>(Out(v)); };
        switch (to_) {
        case 0x4:
            out[2 * x] = byte(s.c[1]), out[2 * x + 1] = byte(s.c[0]);
            break;
        case 0x8:
        case 0x40:
            out[3 * x] = byte(s.c[1]), out[3 * x + 1] = byte(s.c[0]);
            out[3 * x + 2] = to_ == 0x8 ? byte(s.c[3]) : BYTE{255};
            break;
        case 0x10:
        case 0x20: {
            const std::uint32_t v = s.c[1] | s.c[0] << 10 | (to_ == 0x20 ? s.c[3] << 20 : 0);
            const int n = to_ == 0x10 ? 3 : 4;
            for (int k = 0; k < n; ++k)
                out[n * x + k] = static_cast<BYTE>(v >> (8 * k));
            break;
        }
        case 0x80:
            for (int k = 0; k < 4; ++k)
                out[4 * x + k] = byte(s.c[k]);
            break;
        default: {
            const int n = to_ == 0x100 ? 3 : 4;
            for (int k = 0; k < n; ++k)
                PutWord(out + 2 * (n * x + k), s.c[k]);
        }
        }
    }

    DWORD from_, to_;
    bool wide_;
    std::vector<Samples> samples_;
};

class DibDepth final : public Stage {
public:
    DibDepth(int fromBits, int toBits) : from_(fromBits), to_(toBits) {}
    void Run(const BYTE* input, BYTE* output, LONG width) override {
        const bool dither = Settings().paletteMode != 0;
        for (LONG x = 0; x < width; ++x) {
            if (from_ == 16) {
                const unsigned v = input[2 * x] | input[2 * x + 1] << 8;
                BYTE* out = output + x * (to_ / 8);
                out[0] = static_cast<BYTE>(v << 3);
                out[1] = static_cast<BYTE>((v >> 2) & 0xF8);
                out[2] = static_cast<BYTE>((v >> 7) & 0xF8);
                if (to_ == 32) out[3] = 255;
            } else { // to 16 bits
                const BYTE* in = input + x * (from_ / 8);
                unsigned c[3];
                for (int k = 0; k < 3; ++k) {
                    unsigned value = in[k];
                    if (dither) value += NextDither();
                    c[k] = value > 255 ? 31 : value >> 3;
                }
                const unsigned v = c[0] | c[1] << 5 | c[2] << 10;
                output[2 * x] = static_cast<BYTE>(v);
                output[2 * x + 1] = static_cast<BYTE>(v >> 8);
            }
        }
    }

private:
    int from_, to_;
};

class ToYuv final : public Stage {
public:
    ToYuv(bool inputAlpha, bool outputAlpha) : inputAlpha_(inputAlpha), outputAlpha_(outputAlpha) {}
    void Run(const BYTE* input, BYTE* output, LONG width) override {
        RowToYuv(tables_, output, outputAlpha_, input, inputAlpha_, width);
    }

private:
    YuvTables tables_;
    bool inputAlpha_, outputAlpha_;
};

class FromYuv final : public Stage {
public:
    FromYuv(bool inputAlpha, bool outputAlpha)
        : inputAlpha_(inputAlpha), outputAlpha_(outputAlpha) {}
    void Run(const BYTE* input, BYTE* output, LONG width) override {
        RowFromYuv(tables_, output, outputAlpha_, input, inputAlpha_, width);
    }

private:
    YuvTables tables_;
    bool inputAlpha_, outputAlpha_;
};

class Expand final : public Stage {
public:
    Expand(const RGBQUAD* palette, int bits) : palette_(palette), bits_(bits) {}
    void Run(const BYTE* input, BYTE* output, LONG width) override {
        for (LONG x = 0; x < width; ++x) {
            const int index =
                bits_ == 8 ? input[x] : (x % 2 == 0 ? input[x / 2] >> 4 : input[x / 2] & 15);
            output[3 * x] = palette_[index].rgbBlue;
            output[3 * x + 1] = palette_[index].rgbGreen;
            output[3 * x + 2] = palette_[index].rgbRed;
        }
    }

private:
    const RGBQUAD* palette_;
    int bits_;
};

class Reduce final : public Stage {
public:
    Reduce(const std::vector<RGBQUAD>& palette, int bits)
        : nearest_(palette.data(), static_cast<int>(palette.size())), bits_(bits) {}
    void Run(const BYTE* input, BYTE* output, LONG width) override {
        if (bits_ == 4) std::memset(output, 0, static_cast<std::size_t>(width + 1) / 2);
        for (LONG x = 0; x < width; ++x) {
            const BYTE index = nearest_.Find(input[3 * x], input[3 * x + 1], input[3 * x + 2]);
            if (bits_ == 8)
                output[x] = index;
            else
                output[x / 2] |= static_cast<BYTE>(x % 2 == 0 ? index << 4 : index);
        }
    }

private:
    NearestColour nearest_;
    int bits_;
};

HRESULT StepRow(IProgressSink* sink, ProgressRecord& progress) {
    if (sink == nullptr) return S_OK;
    const HRESULT hr = sink->Step(&progress);
    ++progress.step;
    return hr == S_FALSE ? E_ABORT : S_OK;
}

} // namespace

std::vector<DWORD> PlanConversion(DWORD source, DWORD target) {
    if (source == target || FindFormat(source) == nullptr || FindFormat(target) == nullptr)
        return {};
    const bool keepAlpha = FindFormat(source)->alpha && FindFormat(target)->alpha;
    // Breadth first, so the chain has as few stages as possible.
    std::vector<std::pair<DWORD, DWORD>> cameFrom{{source, 0}};
    std::deque<DWORD> queue{source};
    while (!queue.empty()) {
        const DWORD at = queue.front();
        queue.pop_front();
        for (const Edge& edge : Edges()) {
            // Alpha on both ends is never dropped on the way.
            if (keepAlpha && !FindFormat(edge.to)->alpha) continue;
            if (edge.from != at) continue;
            bool seen = false;
            for (const auto& [format, previous] : cameFrom)
                seen = seen || format == edge.to;
            if (seen) continue;
            cameFrom.push_back({edge.to, at});
            if (edge.to == target) {
                std::vector<DWORD> path{target};
                for (DWORD step = at; step != source;) {
                    path.insert(path.begin(), step);
                    for (const auto& [format, previous] : cameFrom)
                        if (format == step) {
                            step = previous;
                            break;
                        }
                }
                path.insert(path.begin(), source);
                return path;
            }
            queue.push_back(edge.to);
        }
    }
    return {};
}

namespace {

// The reduction palette of the fixed mode (mode 1): 16 colours for the
// 16-colour format, else the palette set or the built-in one.
std::vector<RGBQUAD> FixedReductionPalette(const FormatInfo& to) {
    const ConversionState& settings = Settings();
    if (to.paletteEntries == 16) {
        const auto& table = SixteenColours();
        return {table.begin(), table.end()};
    }
    if (settings.paletteSet)
        return {settings.palette.begin(), settings.palette.begin() + settings.count};
    const auto& builtIn = BuiltInPalette();
    return {builtIn.begin(), builtIn.end()};
}

// The stages of one conversion and the row buffer after each.
class Chain {
public:
    Chain(const BitmapImage& source, LONG width, LONG height)
        : source_(source), width_(width), height_(height),
          sourceRowBytes_(static_cast<std::size_t>(
              RowBytes(*FindFormat(source.format), static_cast<std::uint64_t>(width)))) {}

    // One stage per step of the path; a reduction to a palette made from
    // the image's colours stays empty until the colours are collected.
    HRESULT Build(const std::vector<DWORD>& path) {
        for (std::size_t i = 0; i + 1 < path.size(); ++i) {
            const FormatInfo& from = *FindFormat(path[i]);
            const FormatInfo& to = *FindFormat(path[i + 1]);
            std::unique_ptr<Stage> stage;
            if (from.family == Family::Yuv && to.family == Family::Yuv) {
                stage = std::make_unique<YuvRepack>(from, to);
            } else if (from.family == Family::Yuv || to.family == Family::Yuv) {
                if (height_ % 2 != 0) return E_INVALIDARG;
                reorder_ = true;
                toYuv_ = to.family == Family::Yuv;
                if (toYuv_)
                    stage = std::make_unique<ToYuv>(from.alpha, to.alpha);
                else
                    stage = std::make_unique<FromYuv>(from.alpha, to.alpha);
            } else if (from.paletteEntries > 0) {
                stage = std::make_unique<Expand>(PaletteOf(source_.header), from.bits);
            } else if (to.paletteEntries > 0) {
                reduceAt_ = i + 1;
                if (Settings().mode == 1) {
                    palette_ = FixedReductionPalette(to);
                    if (palette_.empty()) return E_FAIL;
                    stage = std::make_unique<Reduce>(palette_, to.bits);
                }
            } else if (from.code == 0x8000 || to.code == 0x8000) {
                stage = std::make_unique<DibDepth>(from.bits, to.bits);
            } else {
                stage = std::make_unique<DibRepack>(from, to);
            }
            stages_.push_back(std::move(stage));
            buffers_.emplace_back(
                static_cast<std::size_t>(RowBytes(to, static_cast<std::uint64_t>(width_))) + 8, 0);
        }
        return S_OK;
    }

    // A palette made from the image's own colours needs a first pass.
    bool CollectsColours() const { return reduceAt_ > 0 && stages_[reduceAt_ - 1] == nullptr; }

    // The first pass: the colours the reduction stage sees, then that stage.
    HRESULT CollectColours(const FormatInfo& target, IProgressSink* sink,
                           ProgressRecord& progress) {
        auto collector = std::make_unique<ColourCollector>(target.paletteEntries);
        for (LONG row = 0; row < height_; ++row) {
            const BYTE* rgb = Run(row, reduceAt_ - 1, nullptr);
            for (LONG x = 0; x < width_; ++x)
                collector->Add(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]);
            if (const HRESULT hr = StepRow(sink, progress); FAILED(hr)) return hr;
        }
        palette_ = collector->Palette();
        if (palette_.empty()) palette_.push_back({0, 0, 0, 0});
        stages_[reduceAt_ - 1] = std::make_unique<Reduce>(palette_, target.bits);
        return S_OK;
    }

    // The target's palette when the chain reduces to one.
    void StorePalette(const BitmapImage& target, const FormatInfo& targetFormat) const {
        if (reduceAt_ == 0) return;
        RGBQUAD* palette = PaletteOf(target.header);
        std::memset(palette, 0, 1024);
        std::memcpy(palette, palette_.data(), palette_.size() * sizeof(RGBQUAD));
        target.header->biClrUsed =
            palette_.size() < static_cast<std::size_t>(targetFormat.paletteEntries)
                ? static_cast<DWORD>(palette_.size())
                : 0;
    }

    // Runs the stages up to (not including) `end` over one row; the last
    // stage of the chain writes straight into `into` when given.
    const BYTE* Run(LONG row, std::size_t end, BYTE* into) {
        const BYTE* data =
            source_.pixels + static_cast<std::size_t>(SourceRowFor(row)) * sourceRowBytes_;
        for (std::size_t s = 0; s < end; ++s) {
            BYTE* out = (into != nullptr && s + 1 == stages_.size()) ? into : buffers_[s].data();
            stages_[s]->Run(data, out, width_);
            data = out;
        }
        return data;
    }
    std::size_t Size() const { return stages_.size(); }

private:
    // YUV rows pair up differently from DIB rows.
    LONG SourceRowFor(LONG row) const {
        if (!reorder_) return row;
        return toYuv_ ? DibRowForYuvRow(row, height_) : YuvRowForDibRow(row, height_);
    }

    const BitmapImage& source_;
    LONG width_, height_;
    std::size_t sourceRowBytes_;
    std::vector<std::unique_ptr<Stage>> stages_;
    std::vector<std::vector<BYTE>> buffers_;
    bool reorder_ = false, toYuv_ = false;
    std::size_t reduceAt_ = 0; // index of the reduction stage + 1, or 0
    std::vector<RGBQUAD> palette_;
};

} // namespace

HRESULT RunConversion(const BitmapImage& source, const BitmapImage& target, IProgressSink* sink) {
    const std::vector<DWORD> path = PlanConversion(source.format, target.format);
    if (path.size() < 2) return E_FAIL;
    const LONG width = source.header->biWidth;
    const LONG height = source.header->biHeight;
    Chain chain(source, width, height);
    try {
        if (const HRESULT hr = chain.Build(path); FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const FormatInfo& targetFormat = *FindFormat(target.format);
    const auto targetRowBytes =
        static_cast<std::size_t>(RowBytes(targetFormat, static_cast<std::uint64_t>(width)));
    const bool collect = chain.CollectsColours();
    // Inside a load or save the record carries that operation's phases.
    const LONG phases = OperationPhases();
    ProgressRecord progress{0, height, 0, phases > 0 ? phases : (collect ? 2 : 1)};
    if (collect) {
        if (const HRESULT hr = chain.CollectColours(targetFormat, sink, progress); FAILED(hr))
            return hr;
        progress.step = 0;
        progress.pass = 1;
    }
    chain.StorePalette(target, targetFormat);
    for (LONG row = 0; row < height; ++row) {
        chain.Run(row, chain.Size(),
                  target.pixels + static_cast<std::size_t>(row) * targetRowBytes);
        if (const HRESULT hr = StepRow(sink, progress); FAILED(hr)) return hr;
    }
    return S_OK;
}

} // namespace rastrel
