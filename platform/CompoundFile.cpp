#include "CompoundFile.h"

#include "platform/ByteSource.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

namespace platform::cfb {
namespace {

constexpr DWORD kFreeSector = 0xFFFFFFFF;
constexpr DWORD kEndOfChain = 0xFFFFFFFE;
constexpr DWORD kFatSector = 0xFFFFFFFD;
constexpr DWORD kDifatSector = 0xFFFFFFFC;
constexpr DWORD kNoStream = 0xFFFFFFFF;
constexpr std::size_t kMiniSectorSize = 64;
constexpr std::uint64_t kMiniStreamCutoff = 4096;
constexpr std::size_t kEntrySize = 128;
constexpr BYTE kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

using platform::LoadU16Le;
using platform::LoadU32Le;
using platform::LoadU64Le;
using platform::StoreU16Le;
using platform::StoreU32Le;
using platform::StoreU64Le;

char16_t Upper(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    // Latin-1 letters upper-case the same way; the division sign does not.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    return c;
}

void GetGuid(const BYTE* p, GUID& guid) {
    guid.Data1 = LoadU32Le(p);
    guid.Data2 = LoadU16Le(p + 4);
    guid.Data3 = LoadU16Le(p + 6);
    std::memcpy(guid.Data4, p + 8, 8);
}
void PutGuid(BYTE* p, const GUID& guid) {
    StoreU32Le(p, guid.Data1);
    StoreU16Le(p + 4, guid.Data2);
    StoreU16Le(p + 6, guid.Data3);
    std::memcpy(p + 8, guid.Data4, 8);
}

} // namespace

bool NamesEqual(const std::u16string& a, const std::u16string& b) {
    return CompareNames(a, b) == 0;
}

int CompareNames(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char16_t x = Upper(a[i]), y = Upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

bool IsValidName(const std::u16string& name) {
    if (name.empty() || name.size() > kMaxNameLength) return false;
    for (char16_t c : name)
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!' || c == 0) return false;
    return true;
}

std::shared_ptr<Entry> Entry::Child(const std::u16string& childName) const {
    for (const auto& child : children)
        if (!child->destroyed && NamesEqual(child->name, childName)) return child;
    return nullptr;
}

HRESULT Image::Chain(const std::vector<DWORD>& table, DWORD start, std::size_t limit,
                     std::vector<DWORD>& chain) const {
    chain.clear();
    // A chain longer than the table has a cycle.
    for (DWORD sector = start; sector != kEndOfChain; sector = table[sector]) {
        if (sector >= table.size() || sector >= limit || chain.size() >= table.size())
            return STG_E_DOCFILECORRUPT;
        chain.push_back(sector);
    }
    return S_OK;
}

HRESULT Image::ReadSectors(const std::vector<DWORD>& chain, std::vector<BYTE>& out) const {
    out.assign(chain.size() * sectorSize_, 0);
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const std::size_t offset = (static_cast<std::size_t>(chain[i]) + 1) * sectorSize_;
        if (offset >= size_) return STG_E_DOCFILECORRUPT;
        // The last sector of a file may be cut short; the rest reads as zeros.
        source_.ReadAt(offset, out.data() + i * sectorSize_, sectorSize_);
    }
    return S_OK;
}

HRESULT Image::ReadTable(DWORD start, std::vector<DWORD>& table) const {
    std::vector<DWORD> chain;
    std::vector<BYTE> bytes;
    if (const HRESULT hr = Chain(fat_, start, sectorCount_, chain); FAILED(hr)) return hr;
    if (const HRESULT hr = ReadSectors(chain, bytes); FAILED(hr)) return hr;
    table.resize(bytes.size() / 4);
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = LoadU32Le(bytes.data() + 4 * i);
    return S_OK;
}

HRESULT Image::ReadHeader(Header& header) {
    BYTE raw[512];
    if (!source_.ReadExact(raw, sizeof raw) || std::memcmp(raw, kSignature, 8) != 0)
        return STG_E_FILEALREADYEXISTS; // the platform's answer for "not a storage file"
    const WORD major = LoadU16Le(raw + 0x1A);
    const WORD sectorShift = LoadU16Le(raw + 0x1E);
    if (LoadU16Le(raw + 0x1C) != 0xFFFE || LoadU16Le(raw + 0x20) != 6 ||
        !((major == 3 && sectorShift == 9) || (major == 4 && sectorShift == 12)))
        return STG_E_INVALIDHEADER;
    version4_ = major == 4;
    sectorSize_ = std::size_t{1} << sectorShift;
    if (size_ <= sectorSize_) return STG_E_DOCFILECORRUPT;
    sectorCount_ = (size_ - sectorSize_ + sectorSize_ - 1) / sectorSize_;
    header.fatCount = LoadU32Le(raw + 0x2C);
    header.firstDirectory = LoadU32Le(raw + 0x30);
    header.firstMiniFat = LoadU32Le(raw + 0x3C);
    header.firstDifat = LoadU32Le(raw + 0x44);
    header.difatCount = LoadU32Le(raw + 0x48);
    if (header.fatCount > sectorCount_ || header.difatCount > sectorCount_)
        return STG_E_DOCFILECORRUPT;
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i)
        header.difat[i] = LoadU32Le(raw + 0x4C + 4 * i);
    return S_OK;
}

// The FAT's own sectors: 109 in the header, the rest in the DIFAT chain.
HRESULT Image::ReadFat(const Header& header) {
    std::vector<DWORD> fatSectors;
    for (std::size_t i = 0; i < kHeaderDifatEntries && fatSectors.size() < header.fatCount; ++i)
        fatSectors.push_back(header.difat[i]);
    const std::size_t perSector = sectorSize_ / 4;
    DWORD difat = header.firstDifat;
    for (DWORD seen = 0; fatSectors.size() < header.fatCount; ++seen) {
        if (seen >= header.difatCount || difat >= sectorCount_) return STG_E_DOCFILECORRUPT;
        std::vector<BYTE> sector;
        if (const HRESULT hr = ReadSectors({difat}, sector); FAILED(hr)) return hr;
        for (std::size_t i = 0; i + 1 < perSector && fatSectors.size() < header.fatCount; ++i)
            fatSectors.push_back(LoadU32Le(sector.data() + 4 * i));
        difat = LoadU32Le(sector.data() + 4 * (perSector - 1));
    }
    for (DWORD sector : fatSectors)
        if (sector >= sectorCount_) return STG_E_DOCFILECORRUPT;
    std::vector<BYTE> fatBytes;
    if (const HRESULT hr = ReadSectors(fatSectors, fatBytes); FAILED(hr)) return hr;
    fat_.resize(fatBytes.size() / 4);
    for (std::size_t i = 0; i < fat_.size(); ++i)
        fat_[i] = LoadU32Le(fatBytes.data() + 4 * i);
    return S_OK;
}

std::uint64_t Image::SizeOf(const BYTE* raw) const {
    const std::uint64_t size = LoadU64Le(raw + 0x78);
    // Version 3 writers may leave garbage in the high half.
    return version4_ ? size : size & 0xFFFFFFFF;
}

// The root entry's stream is the mini stream the small streams live in.
HRESULT Image::ReadMiniStream(const BYTE* rootRaw) {
    const std::uint64_t miniSize = SizeOf(rootRaw);
    if (miniSize == 0) return S_OK;
    if (miniSize > size_) return STG_E_DOCFILECORRUPT;
    std::vector<DWORD> chain;
    if (const HRESULT hr = Chain(fat_, LoadU32Le(rootRaw + 0x74), sectorCount_, chain); FAILED(hr))
        return hr;
    if (chain.size() * sectorSize_ < miniSize) return STG_E_DOCFILECORRUPT;
    if (const HRESULT hr = ReadSectors(chain, miniStream_); FAILED(hr)) return hr;
    miniStream_.resize(static_cast<std::size_t>(miniSize));
    return S_OK;
}

HRESULT Image::MakeEntry(const BYTE* raw, bool isRoot, std::shared_ptr<Entry>& out) const {
    const WORD nameBytes = LoadU16Le(raw + 0x40);
    if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0) return STG_E_DOCFILECORRUPT;
    auto entry = std::make_shared<Entry>();
    for (std::size_t i = 0; i + 1 < nameBytes / 2u; ++i)
        entry->name.push_back(static_cast<char16_t>(LoadU16Le(raw + 2 * i)));
    entry->type = raw[0x42];
    GetGuid(raw + 0x50, entry->clsid);
    entry->stateBits = LoadU32Le(raw + 0x60);
    entry->created = LoadU64Le(raw + 0x64);
    entry->modified = LoadU64Le(raw + 0x6C);
    if (entry->type == kTypeStream) {
        entry->startSector = LoadU32Le(raw + 0x74);
        entry->size = SizeOf(raw);
        if (entry->size > kMaxStreamSize) return STG_E_DOCFILECORRUPT;
        entry->loaded = entry->size == 0;
    } else if (entry->type != kTypeStorage && !(isRoot && entry->type == kTypeRoot)) {
        return STG_E_DOCFILECORRUPT;
    }
    out = std::move(entry);
    return S_OK;
}

// Walks each storage's sibling tree without recursion, so that no file can
// exhaust the stack; an entry reached twice means a cycle.
HRESULT Image::BuildTree(const std::shared_ptr<const Image>& self,
                         const std::vector<BYTE>& directory, std::shared_ptr<Entry>& root) const {
    const std::size_t entryCount = directory.size() / kEntrySize;
    auto entryAt = [&](std::size_t index) { return directory.data() + index * kEntrySize; };
    if (const HRESULT hr = MakeEntry(entryAt(0), true, root); FAILED(hr)) return hr;
    std::vector<bool> visited(entryCount, false);
    visited[0] = true;
    struct Pending {
        std::shared_ptr<Entry> storage;
        DWORD index;
    };
    std::vector<Pending> work{{root, LoadU32Le(entryAt(0) + 0x4C)}};
    while (!work.empty()) {
        Pending item = work.back();
        work.pop_back();
        if (item.index == kNoStream) continue;
        if (item.index >= entryCount || visited[item.index]) return STG_E_DOCFILECORRUPT;
        visited[item.index] = true;
        const BYTE* raw = entryAt(item.index);
        std::shared_ptr<Entry> entry;
        if (const HRESULT hr = MakeEntry(raw, false, entry); FAILED(hr)) return hr;
        if (entry->type == kTypeRoot) return STG_E_DOCFILECORRUPT;
        entry->source = self;
        work.push_back({item.storage, LoadU32Le(raw + 0x44)});
        work.push_back({item.storage, LoadU32Le(raw + 0x48)});
        if (entry->type == kTypeStorage) work.push_back({entry, LoadU32Le(raw + 0x4C)});
        item.storage->children.push_back(std::move(entry));
    }
    root->source = self;
    return S_OK;
}

HRESULT Image::Parse(std::vector<BYTE> bytes, std::shared_ptr<Entry>& root) {
    auto image = std::make_shared<Image>();
    image->size_ = bytes.size();
    image->source_ = platform::ByteSource(std::move(bytes));
    Header header;
    if (const HRESULT hr = image->ReadHeader(header); FAILED(hr)) return hr;
    if (const HRESULT hr = image->ReadFat(header); FAILED(hr)) return hr;

    std::vector<DWORD> chain;
    std::vector<BYTE> directory;
    if (HRESULT hr = image->Chain(image->fat_, header.firstDirectory, image->sectorCount_, chain);
        FAILED(hr) || chain.empty())
        return STG_E_DOCFILECORRUPT;
    if (const HRESULT hr = image->ReadSectors(chain, directory); FAILED(hr)) return hr;
    if (header.firstMiniFat != kEndOfChain)
        if (const HRESULT hr = image->ReadTable(header.firstMiniFat, image->miniFat_); FAILED(hr))
            return hr;
    const BYTE* rootRaw = directory.data();
    if (rootRaw[0x42] != kTypeRoot) return STG_E_DOCFILECORRUPT;
    if (const HRESULT hr = image->ReadMiniStream(rootRaw); FAILED(hr)) return hr;
    return image->BuildTree(image, directory, root);
}

HRESULT Image::ReadStream(const Entry& entry, std::vector<BYTE>& data) const {
    const auto size = static_cast<std::size_t>(entry.size);
    std::vector<DWORD> chain;
    if (entry.size < kMiniStreamCutoff) {
        const std::size_t miniSectors = miniStream_.size() / kMiniSectorSize;
        if (const HRESULT hr = Chain(miniFat_, entry.startSector, miniSectors, chain); FAILED(hr))
            return hr;
        if (chain.size() * kMiniSectorSize < size) return STG_E_DOCFILECORRUPT;
        data.resize(size);
        for (std::size_t i = 0, done = 0; done < size; ++i) {
            const std::size_t count = std::min(kMiniSectorSize, size - done);
            std::memcpy(data.data() + done, miniStream_.data() + chain[i] * kMiniSectorSize, count);
            done += count;
        }
        return S_OK;
    }
    if (const HRESULT hr = Chain(fat_, entry.startSector, sectorCount_, chain); FAILED(hr))
        return hr;
    if (chain.size() * sectorSize_ < size) return STG_E_DOCFILECORRUPT;
    chain.resize((size + sectorSize_ - 1) / sectorSize_);
    if (const HRESULT hr = ReadSectors(chain, data); FAILED(hr)) return hr;
    data.resize(size);
    return S_OK;
}

HRESULT LoadEntry(Entry& entry) {
    if (entry.loaded) return S_OK;
    if (!entry.source) return STG_E_DOCFILECORRUPT;
    std::vector<BYTE> data;
    try {
        if (const HRESULT hr = entry.source->ReadStream(entry, data); FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    }
    entry.data = std::move(data);
    entry.loaded = true;
    entry.source.reset();
    return S_OK;
}

namespace {

struct Placed {
    Entry* entry;
    DWORD left = kNoStream, right = kNoStream, child = kNoStream;
    BYTE colour = 1; // black
    DWORD start = kEndOfChain;
    std::uint64_t size = 0;
};

// Lays a storage's children out as a balanced binary tree in name order.
// Nodes on the deepest level of an incomplete tree are red, the others
// black: every path then passes the same number of black nodes.
DWORD PlaceSiblings(std::vector<DWORD>& sorted, std::size_t from, std::size_t to, int depth,
                    int deepest, bool perfect, std::vector<Placed>& placed) {
    if (from >= to) return kNoStream;
    const std::size_t middle = from + (to - from) / 2;
    const DWORD index = sorted[middle];
    placed[index].colour = (!perfect && depth == deepest) ? 0 : 1;
    placed[index].left = PlaceSiblings(sorted, from, middle, depth + 1, deepest, perfect, placed);
    placed[index].right =
        PlaceSiblings(sorted, middle + 1, to, depth + 1, deepest, perfect, placed);
    return index;
}

int DeepestLevel(std::size_t count) {
    int depth = -1;
    while (count > 0) {
        count = (count - 1) / 2 + ((count - 1) % 2); // the larger half below the middle
        ++depth;
    }
    return depth;
}

constexpr std::size_t kSector = 512;
constexpr std::size_t kPerSector = kSector / 4;

std::size_t SectorsFor(std::size_t bytes) {
    return (bytes + kSector - 1) / kSector;
}

// Directory order: the root, then every storage's children depth first,
// each storage's children laid out as a tree in name order.
HRESULT PlaceEntries(Entry& root, std::vector<Placed>& placed) {
    std::vector<std::pair<Entry*, DWORD>> storages{{&root, 0}};
    placed.push_back({&root});
    for (std::size_t s = 0; s < storages.size(); ++s) {
        std::vector<DWORD> sorted;
        for (const auto& child : storages[s].first->children) {
            if (child->destroyed) continue;
            if (child->type == kTypeStream)
                if (const HRESULT hr = LoadEntry(*child); FAILED(hr)) return hr;
            sorted.push_back(static_cast<DWORD>(placed.size()));
            placed.push_back({child.get()});
            if (child->type != kTypeStream)
                storages.push_back({child.get(), static_cast<DWORD>(placed.size() - 1)});
        }
        std::sort(sorted.begin(), sorted.end(), [&](DWORD a, DWORD b) {
            return CompareNames(placed[a].entry->name, placed[b].entry->name) < 0;
        });
        const std::size_t n = sorted.size();
        const bool perfect = ((n + 1) & n) == 0;
        placed[storages[s].second].child =
            PlaceSiblings(sorted, 0, n, 0, DeepestLevel(n), perfect, placed);
    }
    return S_OK;
}

// Where everything goes: the sector counts of each part and their first sectors.
struct Layout {
    std::vector<DWORD> miniFat;
    std::vector<BYTE> miniStream;
    std::size_t directorySectors = 0, miniFatSectors = 0, miniStreamSectors = 0;
    std::size_t fatSectors = 0, difatSectors = 0, totalSectors = 0;
    std::vector<DWORD> fat;
    DWORD firstFat = kEndOfChain, firstDifat = kEndOfChain, firstDirectory = kEndOfChain,
          firstMiniFat = kEndOfChain, firstMiniStream = kEndOfChain;
};

// Small streams go to the mini stream; returns the sectors the large ones take.
std::size_t LayMiniStream(std::vector<Placed>& placed, Layout& layout) {
    std::size_t streamSectors = 0;
    for (Placed& item : placed) {
        if (item.entry->type != kTypeStream) continue;
        item.size = item.entry->data.size();
        if (item.size == 0) continue;
        if (item.size < kMiniStreamCutoff) {
            const auto first = static_cast<DWORD>(layout.miniFat.size());
            const std::size_t count = (item.size + kMiniSectorSize - 1) / kMiniSectorSize;
            for (std::size_t i = 0; i < count; ++i)
                layout.miniFat.push_back(i + 1 < count ? first + static_cast<DWORD>(i) + 1
                                                       : kEndOfChain);
            item.start = first;
            layout.miniStream.insert(layout.miniStream.end(), item.entry->data.begin(),
                                     item.entry->data.end());
            layout.miniStream.resize(layout.miniFat.size() * kMiniSectorSize, 0);
        } else {
            streamSectors += SectorsFor(item.size);
        }
    }
    return streamSectors;
}

// The FAT covers every sector including its own and the DIFAT's: grown
// until it no longer needs to.
void CountFatSectors(std::size_t contentSectors, Layout& layout) {
    std::size_t fatSectors = 0, difatSectors = 0;
    while (true) {
        const std::size_t total = contentSectors + fatSectors + difatSectors;
        const std::size_t needFat = (total + kPerSector - 1) / kPerSector;
        const std::size_t needDifat =
            needFat > kHeaderDifatEntries
                ? (needFat - kHeaderDifatEntries + kPerSector - 2) / (kPerSector - 1)
                : 0;
        if (needFat == fatSectors && needDifat == difatSectors) break;
        fatSectors = needFat;
        difatSectors = needDifat;
    }
    layout.fatSectors = fatSectors;
    layout.difatSectors = difatSectors;
    layout.totalSectors = contentSectors + fatSectors + difatSectors;
}

// Sectors in file order: FAT, DIFAT, directory, mini FAT, mini stream, the
// large streams; each part a chain of consecutive sectors.
void AllocateSectors(std::vector<Placed>& placed, Layout& layout) {
    layout.fat.assign(layout.fatSectors * kPerSector, kFreeSector);
    DWORD next = 0;
    auto allocate = [&](std::size_t count, DWORD mark) {
        const DWORD first = count == 0 ? kEndOfChain : next;
        for (std::size_t i = 0; i < count; ++i, ++next)
            layout.fat[next] = mark != 0 ? mark : (i + 1 < count ? next + 1 : kEndOfChain);
        return first;
    };
    layout.firstFat = allocate(layout.fatSectors, kFatSector);
    layout.firstDifat = allocate(layout.difatSectors, kDifatSector);
    layout.firstDirectory = allocate(layout.directorySectors, 0);
    layout.firstMiniFat = allocate(layout.miniFatSectors, 0);
    layout.firstMiniStream = allocate(layout.miniStreamSectors, 0);
    placed[0].start = layout.firstMiniStream;
    placed[0].size = layout.miniStream.size();
    for (Placed& item : placed)
        if (item.entry->type == kTypeStream && item.size >= kMiniStreamCutoff)
            item.start = allocate(SectorsFor(static_cast<std::size_t>(item.size)), 0);
}

BYTE* SectorAt(std::vector<BYTE>& out, DWORD sector) {
    return out.data() + (static_cast<std::size_t>(sector) + 1) * kSector;
}

// The header with the first 109 FAT sectors, the DIFAT sectors with the
// rest, and the FAT itself.
void WriteAllocation(const Layout& layout, std::vector<BYTE>& out) {
    BYTE* header = out.data();
    std::memcpy(header, kSignature, 8);
    StoreU16Le(header + 0x18, 0x003E);
    StoreU16Le(header + 0x1A, 3);
    StoreU16Le(header + 0x1C, 0xFFFE);
    StoreU16Le(header + 0x1E, 9);
    StoreU16Le(header + 0x20, 6);
    StoreU32Le(header + 0x2C, static_cast<DWORD>(layout.fatSectors));
    StoreU32Le(header + 0x30, layout.firstDirectory);
    StoreU32Le(header + 0x38, static_cast<DWORD>(kMiniStreamCutoff));
    StoreU32Le(header + 0x3C, layout.firstMiniFat);
    StoreU32Le(header + 0x40, static_cast<DWORD>(layout.miniFatSectors));
    StoreU32Le(header + 0x44, layout.firstDifat);
    StoreU32Le(header + 0x48, static_cast<DWORD>(layout.difatSectors));
    auto fatSector = [&](std::size_t index) {
        return index < layout.fatSectors ? layout.firstFat + static_cast<DWORD>(index)
                                         : kFreeSector;
    };
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i)
        StoreU32Le(header + 0x4C + 4 * i, fatSector(i));
    for (std::size_t d = 0; d < layout.difatSectors; ++d) {
        BYTE* sector = SectorAt(out, layout.firstDifat + static_cast<DWORD>(d));
        for (std::size_t i = 0; i + 1 < kPerSector; ++i)
            StoreU32Le(sector + 4 * i, fatSector(kHeaderDifatEntries + d * (kPerSector - 1) + i));
        StoreU32Le(sector + 4 * (kPerSector - 1),
                   d + 1 < layout.difatSectors ? layout.firstDifat + static_cast<DWORD>(d) + 1
                                               : kEndOfChain);
    }
    for (std::size_t i = 0; i < layout.fat.size(); ++i)
        StoreU32Le(SectorAt(out, layout.firstFat) + 4 * i, layout.fat[i]);
}

void WriteDirectoryEntry(const Placed& item, bool isRoot, BYTE* raw) {
    const Entry& entry = *item.entry;
    const std::u16string name = isRoot ? u"Root Entry" : entry.name;
    for (std::size_t c = 0; c < name.size() && c < kMaxNameLength; ++c)
        StoreU16Le(raw + 2 * c, name[c]);
    StoreU16Le(raw + 0x40, static_cast<WORD>(2 * (std::min(name.size(), kMaxNameLength) + 1)));
    raw[0x42] = isRoot ? kTypeRoot : entry.type;
    raw[0x43] = item.colour;
    StoreU32Le(raw + 0x44, item.left);
    StoreU32Le(raw + 0x48, item.right);
    StoreU32Le(raw + 0x4C, item.child);
    PutGuid(raw + 0x50, entry.clsid);
    StoreU32Le(raw + 0x60, entry.stateBits);
    if (entry.type != kTypeStream) {
        StoreU64Le(raw + 0x64, entry.created);
        StoreU64Le(raw + 0x6C, entry.modified);
    }
    const bool hasContent = isRoot || entry.type == kTypeStream;
    StoreU32Le(raw + 0x74, hasContent ? item.start : 0);
    StoreU64Le(raw + 0x78, hasContent ? item.size : 0);
    if (hasContent && item.size == 0) StoreU32Le(raw + 0x74, kEndOfChain);
}

// The directory (unused entries with no siblings or child), the mini FAT,
// the mini stream and the large streams.
void WriteContent(const std::vector<Placed>& placed, const Layout& layout, std::vector<BYTE>& out) {
    BYTE* directory = SectorAt(out, layout.firstDirectory);
    for (std::size_t i = 0; i < layout.directorySectors * kSector / kEntrySize; ++i) {
        BYTE* raw = directory + i * kEntrySize;
        StoreU32Le(raw + 0x44, kNoStream);
        StoreU32Le(raw + 0x48, kNoStream);
        StoreU32Le(raw + 0x4C, kNoStream);
        if (i < placed.size()) WriteDirectoryEntry(placed[i], i == 0, raw);
    }
    for (std::size_t i = 0; i < layout.miniFatSectors * kPerSector; ++i)
        StoreU32Le(SectorAt(out, layout.firstMiniFat) + 4 * i,
                   i < layout.miniFat.size() ? layout.miniFat[i] : kFreeSector);
    if (!layout.miniStream.empty())
        std::memcpy(SectorAt(out, layout.firstMiniStream), layout.miniStream.data(),
                    layout.miniStream.size());
    for (const Placed& item : placed)
        if (item.entry->type == kTypeStream && item.size >= kMiniStreamCutoff)
            std::memcpy(SectorAt(out, item.start), item.entry->data.data(), item.size);
}

} // namespace

HRESULT WriteImage(Entry& root, std::vector<BYTE>& out) {
    std::vector<Placed> placed;
    if (const HRESULT hr = PlaceEntries(root, placed); FAILED(hr)) return hr;
    Layout layout;
    std::size_t contentSectors = LayMiniStream(placed, layout);
    layout.directorySectors = SectorsFor(placed.size() * kEntrySize);
    layout.miniFatSectors = SectorsFor(layout.miniFat.size() * 4);
    layout.miniStreamSectors = SectorsFor(layout.miniStream.size());
    contentSectors += layout.directorySectors + layout.miniFatSectors + layout.miniStreamSectors;
    CountFatSectors(contentSectors, layout);
    if (layout.totalSectors >= 0xFFFFFFF0) return STG_E_MEDIUMFULL;
    AllocateSectors(placed, layout);
    out.assign(kSector + layout.totalSectors * kSector, 0);
    WriteAllocation(layout, out);
    WriteContent(placed, layout, out);
    return S_OK;
}

} // namespace platform::cfb
