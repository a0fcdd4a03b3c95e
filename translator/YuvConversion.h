#pragma once
// Fixed-point conversion between DIB rows (blue, green, red[, alpha]) and
// YUV rows (pairs of Cb Y0 Cr Y1, an alpha byte after each Y when present).
#include "rastrel.h"

namespace rastrel {

struct YuvTables {
    YuvTables(); // builds the eighteen tables
    LONG t[18][256];
};

void RowToYuv(const YuvTables& tables, BYTE* output, bool outputAlpha, const BYTE* input,
              bool inputAlpha, LONG width);
void RowFromYuv(const YuvTables& tables, BYTE* output, bool outputAlpha, const BYTE* input,
                bool inputAlpha, LONG width);
void RowToYuvQuad(const YuvTables& tables, const BYTE* input, BYTE* output, LONG count);

// The stored row order: a YUV image stores the odd picture lines, then the
// even ones; a DIB stores the bottom line first. Both map a target row to
// the source row it is made from (height even).
inline LONG DibRowForYuvRow(LONG yuvRow, LONG height) {
    return yuvRow < height / 2 ? height - 2 - 2 * yuvRow : height - 1 - 2 * (yuvRow - height / 2);
}
inline LONG YuvRowForDibRow(LONG dibRow, LONG height) {
    return dibRow % 2 == 0 ? (height - 2 - dibRow) / 2 : height / 2 + (height - 1 - dibRow) / 2;
}

} // namespace rastrel
