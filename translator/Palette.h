#pragma once
// The module-wide conversion settings, the built-in palettes, and reduction
// of colours to a palette.
#include "rastrel.h"

#include <array>
#include <cstdint>
#include <vector>

namespace rastrel {

struct ConversionState {
    LONG mode = 0;        // 0: a palette made from the image's colours; 1: the reduction palette
    LONG paletteMode = 0; // non-zero: reductions to 16 bits are dithered
    std::array<RGBQUAD, 256> palette{};
    LONG count = 0;
    bool paletteSet = false;
    std::array<RGBQUAD, 16> sixteen{};
    std::uint32_t ditherState = 0x2545F491;
};
// Shared by every object of the library, unguarded.
ConversionState& Settings();

const std::array<RGBQUAD, 256>& BuiltInPalette();
const std::array<RGBQUAD, 16>& SixteenColours();
// Loads the built-in 256 entries and the 16-entry table.
void LoadBuiltInPalette(ConversionState& state);
// The dither value 0..7 of the module's shift-and-xor generator.
BYTE NextDither();

// Nearest palette entry by the sum of squared component differences, the
// first entry on ties; remembers the last colour and a cache of recent ones.
class NearestColour {
public:
    NearestColour(const RGBQUAD* entries, int count);
    BYTE Find(BYTE blue, BYTE green, BYTE red);

private:
    BYTE Search(BYTE blue, BYTE green, BYTE red) const;
    std::vector<RGBQUAD> entries_;
    std::uint32_t lastColour_ = 0xFFFFFFFF;
    BYTE lastIndex_ = 0;
    std::vector<std::uint32_t> cacheKeys_;
    std::vector<BYTE> cacheIndices_;
};

// Gathers an image's colours for a palette of at most `limit` entries: the
// exact colours when there are few enough, else a median cut.
class ColourCollector {
public:
    explicit ColourCollector(int limit);
    void Add(BYTE blue, BYTE green, BYTE red);
    std::vector<RGBQUAD> Palette() const;

private:
    int limit_;
    std::vector<std::uint32_t> exact_; // in order of first appearance
    std::vector<std::uint32_t> seen_;  // open-addressing set of exact_, while it is small
    bool overflow_ = false;
    struct Bin {
        std::uint32_t count = 0;
        std::uint64_t blue = 0, green = 0, red = 0;
    };
    std::vector<Bin> bins_; // 5 bits per component

    // A box of the histogram for the median cut: bin ranges, inclusive.
    struct Box {
        int low[3], high[3]; // red, green, blue
        std::uint64_t count;
    };
    const Bin& BinAt(int r, int g, int b) const { return bins_[r << 10 | g << 5 | b]; }
    // The pixels of a box, which shrinks to the bins that hold any.
    void Measure(Box& box) const;
    // The box split in two where half its pixels lie below; false when no
    // box can be split any more.
    bool SplitLargest(std::vector<Box>& boxes) const;
    // The box's mean colour, false for an empty box.
    bool MeanColour(const Box& box, RGBQUAD& colour) const;
};

} // namespace rastrel
