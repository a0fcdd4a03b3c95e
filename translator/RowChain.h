#pragma once
// Convert's chain of row stages: colour-space conversion between the DIB and
// YUV families, the depth changes within a family, reduction to a palette
// and palette expansion. Each row goes through every stage in turn.
#include "rastrel.h"

#include <vector>

namespace rastrel {

// The formats a conversion passes through, source first; empty when no
// chain of stages joins the two.
std::vector<DWORD> PlanConversion(DWORD source, DWORD target);

// Converts the image into target (already created at the same size in the
// target format). Step is called once per row and pass.
HRESULT RunConversion(const BitmapImage& source, const BitmapImage& target, IProgressSink* sink);

} // namespace rastrel
