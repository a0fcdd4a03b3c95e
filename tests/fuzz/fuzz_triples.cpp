// Folder listings: the first line is the tolerance, the rest file names.
#include "common/Errors.h"
#include "measurement/Triples.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace merkanix;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    std::size_t start = 0;
    // Enough names for every camera, few enough that all combinations stay cheap.
    while (start <= text.size() && lines.size() < 61) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    const std::string tolerance = lines.front();
    lines.erase(lines.begin());
    try {
        const TripleList triples = FindTriples("f", lines, tolerance, ',');
        for (const FrameTriple& t : triples)
            if (t.span < 0 || t.path[0].compare(0, 9, "f/Camera1") != 0) __builtin_trap();
    } catch (const ConversionError&) {
    }
    return 0;
}
