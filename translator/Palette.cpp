#include "Palette.h"

#include <algorithm>

namespace rastrel {
namespace {

constexpr RGBQUAD Rgb(int red, int green, int blue) {
    return {static_cast<BYTE>(blue), static_cast<BYTE>(green), static_cast<BYTE>(red), 0};
}

std::array<RGBQUAD, 256> MakeBuiltIn() {
    std::array<RGBQUAD, 256> palette{};
    const RGBQUAD first[10] = {Rgb(0, 0, 0),      Rgb(128, 0, 0),     Rgb(0, 128, 0),
                               Rgb(128, 128, 0),  Rgb(0, 0, 128),     Rgb(128, 0, 128),
                               Rgb(0, 128, 128),  Rgb(192, 192, 192), Rgb(192, 220, 192),
                               Rgb(166, 202, 240)};
    const RGBQUAD last[10] = {Rgb(255, 251, 240), Rgb(160, 160, 164), Rgb(128, 128, 128),
                              Rgb(255, 0, 0),     Rgb(0, 255, 0),     Rgb(255, 255, 0),
                              Rgb(0, 0, 255),     Rgb(255, 0, 255),   Rgb(0, 255, 255),
                              Rgb(255, 255, 255)};
    std::copy(first, first + 10, palette.begin());
    std::copy(last, last + 10, palette.begin() + 246);
    int at = 10;
    // Greys between the cube's steps, then the cube without its corners
    // (those are system colours already).
    for (int k = 2; k <= 29; ++k) {
        const int grey = (255 * k + 15) / 31;
        palette[at++] = Rgb(grey, grey, grey);
    }
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) {
                const bool corner = (r % 5 == 0) && (g % 5 == 0) && (b % 5 == 0);
                if (!corner) palette[at++] = Rgb(51 * r, 51 * g, 51 * b);
            }
    return palette;
}

// Stored byte order, three bytes an entry.
constexpr BYTE kSixteen[16][3] = {{0, 0, 0},       {0, 0, 128},   {0, 128, 0},   {0, 128, 128},
                                  {128, 0, 0},     {128, 0, 128}, {128, 128, 0}, {128, 128, 128},
                                  {192, 192, 192}, {0, 0, 255},   {0, 255, 0},   {0, 255, 255},
                                  {255, 0, 0},     {255, 0, 255}, {255, 255, 0}, {255, 255, 255}};

constexpr std::size_t kCacheSize = 1 << 14;

std::uint32_t Pack(BYTE blue, BYTE green, BYTE red) {
    return static_cast<std::uint32_t>(blue) | static_cast<std::uint32_t>(green) << 8 |
           static_cast<std::uint32_t>(red) << 16;
}

std::size_t Slot(std::uint32_t colour, std::size_t size) {
    return static_cast<std::size_t>((colour * 2654435761u) >> 8) & (size - 1);
}

} // namespace

ConversionState& Settings() {
    static ConversionState state;
    return state;
}

const std::array<RGBQUAD, 256>& BuiltInPalette() {
    static const std::array<RGBQUAD, 256> palette = MakeBuiltIn();
    return palette;
}

const std::array<RGBQUAD, 16>& SixteenColours() {
    static const std::array<RGBQUAD, 16> table = [] {
        std::array<RGBQUAD, 16> entries{};
        for (int i = 0; i < 16; ++i)
            entries[i] = {kSixteen[i][0], kSixteen[i][1], kSixteen[i][2], 0};
        return entries;
    }();
    return table;
}

void LoadBuiltInPalette(ConversionState& state) {
    state.palette = BuiltInPalette();
    state.count = 256;
    state.sixteen = SixteenColours();
}

BYTE NextDither() {
    std::uint32_t& s = Settings().ditherState;
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return static_cast<BYTE>(s & 7);
}

NearestColour::NearestColour(const RGBQUAD* entries, int count)
    : entries_(entries, entries + count), cacheKeys_(kCacheSize, 0xFFFFFFFF),
      cacheIndices_(kCacheSize, 0) {}

BYTE NearestColour::Search(BYTE blue, BYTE green, BYTE red) const {
    int best = 0;
    int bestDistance = 1 << 30;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const int db = entries_[i].rgbBlue - blue, dg = entries_[i].rgbGreen - green,
                  dr = entries_[i].rgbRed - red;
        const int distance = db * db + dg * dg + dr * dr;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = static_cast<int>(i);
            if (distance == 0) break;
        }
    }
    return static_cast<BYTE>(best);
}

BYTE NearestColour::Find(BYTE blue, BYTE green, BYTE red) {
    const std::uint32_t colour = Pack(blue, green, red);
    if (colour == lastColour_) return lastIndex_;
    const std::size_t slot = Slot(colour, kCacheSize);
    if (cacheKeys_[slot] != colour) {
        cacheKeys_[slot] = colour;
        cacheIndices_[slot] = Search(blue, green, red);
    }
    lastColour_ = colour;
    lastIndex_ = cacheIndices_[slot];
    return lastIndex_;
}

ColourCollector::ColourCollector(int limit)
    : limit_(limit), seen_(1024, 0xFFFFFFFF), bins_(1 << 15) {}

void ColourCollector::Add(BYTE blue, BYTE green, BYTE red) {
    Bin& bin = bins_[(red >> 3) << 10 | (green >> 3) << 5 | (blue >> 3)];
    ++bin.count;
    bin.blue += blue;
    bin.green += green;
    bin.red += red;
    if (overflow_) return;
    const std::uint32_t colour = Pack(blue, green, red);
    for (std::size_t slot = Slot(colour, seen_.size());; slot = (slot + 1) & (seen_.size() - 1)) {
        if (seen_[slot] == colour) return;
        if (seen_[slot] == 0xFFFFFFFF) {
            if (static_cast<int>(exact_.size()) == limit_) {
                overflow_ = true;
                return;
            }
            seen_[slot] = colour;
            exact_.push_back(colour);
            return;
        }
    }
}

void ColourCollector::Measure(Box& box) const {
    int low[3] = {31, 31, 31}, high[3] = {0, 0, 0};
    box.count = 0;
    for (int r = box.low[0]; r <= box.high[0]; ++r)
        for (int g = box.low[1]; g <= box.high[1]; ++g)
            for (int b = box.low[2]; b <= box.high[2]; ++b)
                if (const Bin& bin = BinAt(r, g, b); bin.count > 0) {
                    box.count += bin.count;
                    const int at[3] = {r, g, b};
                    for (int k = 0; k < 3; ++k) {
                        low[k] = std::min(low[k], at[k]);
                        high[k] = std::max(high[k], at[k]);
                    }
                }
    if (box.count > 0)
        for (int k = 0; k < 3; ++k) {
            box.low[k] = low[k];
            box.high[k] = high[k];
        }
}

bool ColourCollector::SplitLargest(std::vector<Box>& boxes) const {
    int pick = -1;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const Box& box = boxes[i];
        const bool splittable =
            box.low[0] < box.high[0] || box.low[1] < box.high[1] || box.low[2] < box.high[2];
        if (splittable && (pick < 0 || box.count > boxes[pick].count)) pick = static_cast<int>(i);
    }
    if (pick < 0) return false;
    Box box = boxes[pick];
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (box.high[k] - box.low[k] > box.high[axis] - box.low[axis]) axis = k;
    // The plane where half the box's pixels lie below.
    std::uint64_t below = 0;
    int cut = box.low[axis];
    for (int v = box.low[axis]; v < box.high[axis]; ++v) {
        Box slice = box;
        slice.low[axis] = slice.high[axis] = v;
        std::uint64_t sliceCount = 0;
        for (int r = slice.low[0]; r <= slice.high[0]; ++r)
            for (int g = slice.low[1]; g <= slice.high[1]; ++g)
                for (int b = slice.low[2]; b <= slice.high[2]; ++b)
                    sliceCount += BinAt(r, g, b).count;
        below += sliceCount;
        cut = v;
        if (below * 2 >= box.count) break;
    }
    Box lower = box, upper = box;
    lower.high[axis] = cut;
    upper.low[axis] = cut + 1;
    Measure(lower);
    Measure(upper);
    boxes[pick] = lower;
    boxes.push_back(upper);
    return true;
}

bool ColourCollector::MeanColour(const Box& box, RGBQUAD& colour) const {
    std::uint64_t count = 0, blue = 0, green = 0, red = 0;
    for (int r = box.low[0]; r <= box.high[0]; ++r)
        for (int g = box.low[1]; g <= box.high[1]; ++g)
            for (int b = box.low[2]; b <= box.high[2]; ++b) {
                const Bin& bin = BinAt(r, g, b);
                count += bin.count;
                blue += bin.blue;
                green += bin.green;
                red += bin.red;
            }
    if (count == 0) return false;
    colour = {static_cast<BYTE>((blue + count / 2) / count),
              static_cast<BYTE>((green + count / 2) / count),
              static_cast<BYTE>((red + count / 2) / count), 0};
    return true;
}

std::vector<RGBQUAD> ColourCollector::Palette() const {
    std::vector<RGBQUAD> palette;
    if (!overflow_) {
        for (std::uint32_t colour : exact_)
            palette.push_back({static_cast<BYTE>(colour), static_cast<BYTE>(colour >> 8),
                               static_cast<BYTE>(colour >> 16), 0});
        return palette;
    }
    // Median cut over the 15-bit histogram: split the most populous box along
    // its longest side until there are enough boxes.
    std::vector<Box> boxes{{{0, 0, 0}, {31, 31, 31}, 0}};
    Measure(boxes[0]);
    while (static_cast<int>(boxes.size()) < limit_ && SplitLargest(boxes)) {
    }
    for (const Box& box : boxes)
        if (RGBQUAD colour; MeanColour(box, colour)) palette.push_back(colour);
    return palette;
}

} // namespace rastrel
