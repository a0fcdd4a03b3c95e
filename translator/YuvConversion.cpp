#include "YuvConversion.h"

#include <algorithm>

namespace rastrel {
namespace {

constexpr double kLumaCoefficients[3] = {1220790.7667968, 1221207.9951872, 1220727.7473792};
constexpr double kChromaCoefficients[6] = {1883.6619264,   1673494.6852864, 410197.0591744,
                                           853115.0372864, 2116282.5351168, 1306.3159808};
constexpr double kForwardCoefficients[9] = {2105.344, 4128.768, 802.816,  1212.416, 2383.872,
                                            3596.288, 3596.288, 3014.656, 581.632};

inline BYTE Ybyte(LONG s) {
    const LONG v = (s + 4096) >> 13;
    return static_cast<BYTE>(v < 239 ? v + 16 : 255);
}
inline BYTE Cbyte(LONG s) {
    LONG v = (s + 4096) >> 13;
    v = v < 112 ? v + 128 : 240;
    return static_cast<BYTE>(std::max<LONG>(v, 16));
}
// Channel(s) = (s + 2^19) >> 20 held to 0..255, through a table: the
// table sums stay within (-2^28, 2^29), so the shifted value lies in
// -256..511.
struct ClampTable {
    ClampTable() {
        for (int i = 0; i < 768; ++i)
            value[i] = static_cast<BYTE>(std::clamp(i - 256, 0, 255));
    }
    BYTE value[768];
};
const ClampTable kClamp;
inline BYTE Channel(LONG s) {
    const LONG v = (s + 524288) >> 20;
    return kClamp.value[v + 256];
}

} // namespace

YuvTables::YuvTables() {
    for (int i = 0; i < 256; ++i) {
        const double luma = std::clamp(i - 16, 0, 219);
        const double chroma = std::clamp(i, 16, 240) - 128;
        const double round = i < 128 ? -0.5 : 0.5;
        for (int k = 0; k < 3; ++k)
            t[k][i] = static_cast<LONG>(kLumaCoefficients[k] * luma + 0.5);
        for (int k = 0; k < 6; ++k)
            t[3 + k][i] = static_cast<LONG>(kChromaCoefficients[k] * chroma + round);
        for (int k = 0; k < 9; ++k)
            t[9 + k][i] = static_cast<LONG>(kForwardCoefficients[k] * i + 0.5);
    }
}

void RowToYuv(const YuvTables& tables, BYTE* output, bool outputAlpha, const BYTE* input,
              bool inputAlpha, LONG width) {
    const auto& t = tables.t;
    const int in = inputAlpha ? 4 : 3;
    auto luma = [&](const BYTE* p) { return Ybyte(t[9][p[2]] + t[10][p[1]] + t[11][p[0]]); };
    auto alpha = [&](const BYTE* p) { return inputAlpha ? p[3] : BYTE{255}; };
    LONG x = 0;
    for (; x + 1 < width; x += 2) {
        const BYTE* p0 = input + x * in;
        const BYTE* p1 = p0 + in;
        // The colour difference of the pair comes from its first pixel only.
        *output++ = Cbyte(t[14][p0[0]] - t[13][p0[1]] - t[12][p0[2]]);
        *output++ = luma(p0);
        if (outputAlpha) *output++ = alpha(p0);
        *output++ = Cbyte(t[15][p0[2]] - t[16][p0[1]] - t[17][p0[0]]);
        *output++ = luma(p1);
        if (outputAlpha) *output++ = alpha(p1);
    }
    if (x < width) {
        const BYTE* p0 = input + x * in;
        *output++ = Cbyte(t[14][p0[0]] - t[13][p0[1]] - t[12][p0[2]]);
        *output++ = luma(p0);
        if (outputAlpha) *output = alpha(p0);
    }
}

namespace {

// One pixel from luminance and colour difference; the chroma terms are shared
// by the three channels.
template <bool OutputAlpha>
inline BYTE* PutPixel(const YuvTables& tables, BYTE* out, int y, int cb, int cr, BYTE alpha) {
    const auto& t = tables.t;
    out[0] = Channel(t[2][y] + t[7][cb] - t[8][cr]);
    out[1] = Channel(t[1][y] - t[6][cr] - t[5][cb]);
    out[2] = Channel(t[0][y] + t[4][cr] - t[3][cb]);
    if constexpr (OutputAlpha) out[3] = alpha;
    return out + (OutputAlpha ? 4 : 3);
}

template <bool InputAlpha, bool OutputAlpha>
void FromYuv(const YuvTables& tables, BYTE* output, const BYTE* input, LONG width) {
    constexpr int pairBytes = InputAlpha ? 6 : 4;
    constexpr int crAt = InputAlpha ? 3 : 2;
    const LONG pairs = width / 2;
    for (LONG p = 0; p < pairs; ++p) {
        const BYTE* q = input + p * pairBytes;
        const int cb = q[0], cr = q[crAt];
        output = PutPixel<OutputAlpha>(tables, output, q[1], cb, cr, InputAlpha ? q[2] : BYTE{255});
        // Halfway to the next pair's colour; the last pair has none after it
        // and keeps its own.
        int cb1 = cb, cr1 = cr;
        if (p + 1 < pairs) {
            cb1 = (cb + q[pairBytes]) >> 1;
            cr1 = (cr + q[pairBytes + crAt]) >> 1;
        }
        output = PutPixel<OutputAlpha>(tables, output, q[crAt + 1], cb1, cr1,
                                       InputAlpha ? q[pairBytes - 1] : BYTE{255});
    }
    if (width % 2 != 0) {
        // A lone last pixel has a Cb but no Cr of its own: the previous
        // pair's Cr, or no colour difference in a one-pixel row.
        const BYTE* q = input + pairs * pairBytes;
        const int cr = pairs > 0 ? q[crAt - pairBytes] : 128;
        PutPixel<OutputAlpha>(tables, output, q[1], q[0], cr, InputAlpha ? q[2] : BYTE{255});
    }
}

} // namespace

void RowFromYuv(const YuvTables& tables, BYTE* output, bool outputAlpha, const BYTE* input,
                bool inputAlpha, LONG width) {
    if (inputAlpha)
        outputAlpha ? FromYuv<true, true>(tables, output, input, width)
                    : FromYuv<true, false>(tables, output, input, width);
    else
        outputAlpha ? FromYuv<false, true>(tables, output, input, width)
                    : FromYuv<false, false>(tables, output, input, width);
}

void RowToYuvQuad(const YuvTables& tables, const BYTE* input, BYTE* output, LONG count) {
    const auto& t = tables.t;
    for (LONG i = 0; i < count; ++i, input += 4, output += 4) {
        const BYTE b = input[0], g = input[1], r = input[2];
        output[0] = Ybyte(t[9][r] + t[11][b] + t[10][g]);
        output[1] = Cbyte(t[14][b] - t[13][g] - t[12][r]);
        output[2] = Cbyte(t[15][r] - t[17][b] - t[16][g]);
        output[3] = 0;
    }
}

} // namespace rastrel
