// Any file must load as a frame without a fault, and its edges stay in the frame.
#include "measurement/Edges.h"
#include "measurement/FrameFile.h"
#include "support/FuzzSupport.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace merkanix;
    const fuzzing::MemoryFile file(data, size);
    Picture view;
    LoadFrame(file.path(), view);
    if (view.width != kFrameWidth || view.height != kFrameHeight) __builtin_trap();
    const EdgePair e = ShowMeanEdges41(view);
    if (!(e.top >= 0 && e.top <= 491 && e.bottom >= 0 && e.bottom <= 491)) __builtin_trap();
    return 0;
}
