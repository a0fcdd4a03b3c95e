#include "RowChain.h"

#include "Palette.h"
#include "PixelFormats.h"
#include "YuvConversion.h"

#include <cstring>
#include <deque>
#include <memory>
#include <new>

namespace rastrel {
namespace {

// The stages, as edges between formats.
struct Edge {
    DWORD from, to;
};
constexpr Edge kEdges[] = {
    // Depth changes within the YUV family (24 <-> 16 bits).
    {0x8, 0x4},
    {0x40, 0x4},
    {0x4, 0x8},
    {0x4, 0x40},
    // Depth changes within the DIB family.
    {0x800, 0x400},
    {0x400, 0x800},
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

class Stage {
public:
    virtual ~Stage() = default;
    virtual void Run(const BYTE* input, BYTE* output, LONG width) = 0;
};

class YuvDepth final : public Stage {
public:
    explicit YuvDepth(bool widen) : widen_(widen) {}
    void Run(const BYTE* input, BYTE* output, LONG width) override {
        for (LONG x = 0; x < width; ++x) {
            if (widen_) {
                output[3 * x] = input[2 * x];
                output[3 * x + 1] = input[2 * x + 1];
                output[3 * x + 2] = 255;
            } else {
                output[2 * x] = input[3 * x];
                output[2 * x + 1] = input[3 * x + 1];
            }
        }
    }

private:
    bool widen_;
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
            } else if (to_ == 16) {
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
            } else if (to_ == 24) {
                std::memcpy(output + 3 * x, input + 4 * x, 3);
            } else {
                std::memcpy(output + 4 * x, input + 3 * x, 3);
                output[4 * x + 3] = 255;
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
    if (source == target) return {};
    // Breadth first, so the chain has as few stages as possible.
    std::vector<std::pair<DWORD, DWORD>> cameFrom{{source, 0}};
    std::deque<DWORD> queue{source};
    while (!queue.empty()) {
        const DWORD at = queue.front();
        queue.pop_front();
        for (const Edge& edge : kEdges) {
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
                stage = std::make_unique<YuvDepth>(to.bits > from.bits);
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
            } else {
                stage = std::make_unique<DibDepth>(from.bits, to.bits);
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
    ProgressRecord progress{0, height, 0, collect ? 2 : 1};
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
