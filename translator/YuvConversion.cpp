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
inline BYTE Channel(LONG s) {
    const LONG v = (s + 524288) >> 20;
    return static_cast<BYTE>(std::clamp<LONG>(v, 0, 255));
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

void RowFromYuv(const YuvTables& tables, BYTE* output, bool outputAlpha, const BYTE* input,
                bool inputAlpha, LONG width) {
    const auto& t = tables.t;
    const int pairBytes = inputAlpha ? 6 : 4;
    const int crAt = inputAlpha ? 3 : 2;
    const LONG pairs = width / 2;
    auto put = [&](BYTE y, int cb, int cr, BYTE a) {
        *output++ = Channel(t[2][y] + t[7][cb] - t[8][cr]);
        *output++ = Channel(t[1][y] - t[6][cr] - t[5][cb]);
        *output++ = Channel(t[0][y] + t[4][cr] - t[3][cb]);
        if (outputAlpha) *output++ = a;
    };
    for (LONG p = 0; p < pairs; ++p) {
        const BYTE* q = input + p * pairBytes;
        const int cb = q[0], cr = q[crAt];
        put(q[1], cb, cr, inputAlpha ? q[2] : BYTE{255});
        // Halfway to the next pair's colour; the last pair has none after it
        // and keeps its own.
        int cb1 = cb, cr1 = cr;
        if (p + 1 < pairs) {
            cb1 = (cb + q[pairBytes]) >> 1;
            cr1 = (cr + q[pairBytes + crAt]) >> 1;
        }
        put(q[crAt + 1], cb1, cr1, inputAlpha ? q[5] : BYTE{255});
    }
    if (width % 2 != 0) {
        // A lone last pixel has a Cb but no Cr of its own: the previous
        // pair's Cr, or no colour difference in a one-pixel row.
        const BYTE* q = input + pairs * pairBytes;
        const int cr = pairs > 0 ? q[crAt - pairBytes] : 128;
        put(q[1], q[0], cr, inputAlpha ? q[2] : BYTE{255});
    }
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
