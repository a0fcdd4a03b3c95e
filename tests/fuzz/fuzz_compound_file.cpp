// The compound file reader: any file either fails to open or gives a tree
// whose streams read within bounds; what was read writes out and reads back
// the same.
#include "CompoundFile.h"

#include <cstdint>

namespace {

using platform::cfb::Entry;

// Reads every stream (one that cannot be read is written back empty);
// returns a count that tells streams from storages: two a stream, one a
// storage and what is in it.
std::size_t Walk(Entry& storage) {
    std::size_t count = 0;
    for (auto& child : storage.children) {
        if (child->type != platform::cfb::kTypeStream) {
            count += 1 + Walk(*child);
            continue;
        }
        if (FAILED(platform::cfb::LoadEntry(*child))) {
            child->data.clear();
            child->loaded = true;
            child->source.reset();
        }
        count += 2;
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::shared_ptr<Entry> root, again;
    if (FAILED(platform::cfb::Image::Parse({data, data + size}, root))) return 0;
    const std::size_t count = Walk(*root);
    // Names that two entries share would be one element after writing.
    std::vector<BYTE> image;
    if (FAILED(platform::cfb::WriteImage(*root, image)) ||
        FAILED(platform::cfb::Image::Parse(image, again)) || Walk(*again) != count)
        __builtin_trap();
    return 0;
}
