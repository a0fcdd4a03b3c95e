#include "measurement/Triples.h"

#include "common/Errors.h"
#include "common/NumberText.h"
#include "measurement/FrameFile.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

namespace merkanix {

namespace {

struct Candidate {
    std::string path;
    TDateTime time;
};

// Beyond this the tolerance is plainly wrong for the folder; stop before
// the list eats the memory.
constexpr std::size_t kMaxTriples = 5'000'000;

int CameraOfName(const std::string& name) {
    // A frame name ends at its ".tif": "….tif.bak", "….tiff" or "….tif~" are
    // copies or other files, and taking them would duplicate triples.
    if (name.size() != kFrameNameLength || name.compare(27, 4, ".tif") != 0) return -1;
    if (name.compare(0, 6, "Camera") != 0) return -1;
    switch (name[6]) {
    case '1':
        return 0;
    case '2':
        return 1;
    case '3':
        return 2;
    default:
        return -1;
    }
}

} // namespace

std::int64_t MillisecondsBetween(TDateTime a, TDateTime b) {
    return static_cast<std::int64_t>(std::fabs(a - b) * kMillisecondsPerDay);
}

TripleList FindTriples(const std::string& folder, const std::vector<std::string>& names,
                       std::string_view toleranceText, char decimalSeparator) {
    std::vector<Candidate> candidates[3];
    for (const std::string& name : names) {
        const int camera = CameraOfName(name);
        if (camera < 0) continue;
        candidates[camera].push_back({folder + "/" + name, FrameTimeStamp(name)});
    }
    const double tolerance = ParseReal(toleranceText, decimalSeparator);

    TripleList triples;
    for (const Candidate& c1 : candidates[0]) {
        for (const Candidate& c2 : candidates[1]) {
            const std::int64_t d12 = MillisecondsBetween(c1.time, c2.time);
            if (!(static_cast<double>(d12) <= tolerance)) continue;
            for (const Candidate& c3 : candidates[2]) {
                const std::int64_t d23 = MillisecondsBetween(c2.time, c3.time);
                const std::int64_t d31 = MillisecondsBetween(c3.time, c1.time);
                if (!(static_cast<double>(d23) <= tolerance &&
                      static_cast<double>(d31) <= tolerance))
                    continue;
                if (triples.size() == kMaxTriples)
                    throw Error("More than " + std::to_string(kMaxTriples) +
                                " frame triples within the tolerance");
                FrameTriple& t = triples.emplace_back();
                t.time = {c1.time, c2.time, c3.time};
                t.path = {c1.path, c2.path, c3.path};
                t.span = std::max({d31, d23, d12});
            }
        }
    }
    return triples;
}

std::vector<std::string> ListFolderFiles(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) ThrowFileError("Cannot open folder", folder, ec.value());
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::error_code typeError;
        if (it->is_regular_file(typeError)) names.push_back(it->path().filename().string());
    }
    if (ec) ThrowFileError("Cannot read folder", folder, ec.value());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace merkanix
