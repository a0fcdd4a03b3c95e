#pragma once
// Grouping the frames of the three cameras into triples taken at one moment.
#include "common/DateTime.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace merkanix {

struct FrameTriple {
    std::array<TDateTime, 3> time{};
    std::array<std::string, 3> path; // folder + "/" + file name
    std::int64_t span = 0;           // largest pairwise difference, whole ms
};

using TripleList = std::vector<FrameTriple>;

// |a - b| in whole milliseconds, truncated toward zero.
std::int64_t MillisecondsBetween(TDateTime a, TDateTime b);

// Every combination of one frame per camera whose pairwise differences are
// within the tolerance, camera 1 outermost, each camera in list order.
// `names` are the folder's file names in list order; frames are the names of
// exactly 31 characters, "Camera1".."Camera3" to ".tif". Throws
// ConversionError for a bad frame name or tolerance text.
TripleList FindTriples(const std::string& folder, const std::vector<std::string>& names,
                       std::string_view toleranceText, char decimalSeparator);

// The regular files of a folder, sorted by name. Throws InOutError.
std::vector<std::string> ListFolderFiles(const std::string& folder);

} // namespace merkanix
