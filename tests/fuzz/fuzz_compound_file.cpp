// The compound file reader: any file either fails to open or gives a tree
// whose streams read within bounds; what was read writes out and reads back
// the same.
#include "CompoundFile.h"

#include <cstdint>
#include <functional>

namespace {

using platform::cfb::Entry;

// Reads every stream; returns the streams' sizes and first bytes in order.
void Walk(Entry& storage, std::vector<std::uint64_t>& digest) {
    for (auto& child : storage.children) {
        if (child->type == platform::cfb::kTypeStream) {
            if (FAILED(platform::cfb::LoadEntry(*child))) {
                child->data.clear(); // unreadable: written back empty
                child->loaded = true;
                child->source.reset();
            }
            digest.push_back(child->data.size());
            digest.push_back(child->data.empty() ? 256 : child->data.front());
        } else {
            digest.push_back(~std::uint64_t{0});
            Walk(*child, digest);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::shared_ptr<Entry> root;
    if (FAILED(platform::cfb::Image::Parse({data, data + size}, root))) return 0;
    std::vector<std::uint64_t> digest;
    Walk(*root, digest);
    // Names that two entries share would be one element after writing.
    std::vector<BYTE> image;
    if (FAILED(platform::cfb::WriteImage(*root, image))) __builtin_trap();
    std::shared_ptr<Entry> again;
    if (FAILED(platform::cfb::Image::Parse(image, again))) __builtin_trap();
    std::vector<std::uint64_t> digestAgain;
    Walk(*again, digestAgain);
    if (digest.size() != digestAgain.size()) __builtin_trap();
    return 0;
}
