#include "CompoundFile.h"

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
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr BYTE kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

DWORD Get32(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 |
           static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[3]) << 24;
}
WORD Get16(const BYTE* p) {
    return static_cast<WORD>(p[0] | p[1] << 8);
}
std::uint64_t Get64(const BYTE* p) {
    return static_cast<std::uint64_t>(Get32(p)) | static_cast<std::uint64_t>(Get32(p + 4)) << 32;
}
void Put32(BYTE* p, DWORD v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<BYTE>(v >> (8 * i));
}
void Put16(BYTE* p, WORD v) {
    p[0] = static_cast<BYTE>(v);
    p[1] = static_cast<BYTE>(v >> 8);
}
void Put64(BYTE* p, std::uint64_t v) {
    Put32(p, static_cast<DWORD>(v));
    Put32(p + 4, static_cast<DWORD>(v >> 32));
}

char16_t Upper(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    // Latin-1 letters upper-case the same way; the division sign does not.
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    return c;
}

void GetGuid(const BYTE* p, GUID& guid) {
    guid.Data1 = Get32(p);
    guid.Data2 = Get16(p + 4);
    guid.Data3 = Get16(p + 6);
    std::memcpy(guid.Data4, p + 8, 8);
}
void PutGuid(BYTE* p, const GUID& guid) {
    Put32(p, guid.Data1);
    Put16(p + 4, guid.Data2);
    Put16(p + 6, guid.Data3);
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
        if (offset >= bytes_.size()) return STG_E_DOCFILECORRUPT;
        // The last sector of a file may be cut short; the rest reads as zeros.
        const std::size_t count = std::min(sectorSize_, bytes_.size() - offset);
        std::memcpy(out.data() + i * sectorSize_, bytes_.data() + offset, count);
    }
    return S_OK;
}

HRESULT Image::Parse(std::vector<BYTE> bytes, std::shared_ptr<Entry>& root) {
    auto image = std::make_shared<Image>();
    if (bytes.size() < 512 || std::memcmp(bytes.data(), kSignature, 8) != 0)
        return STG_E_FILEALREADYEXISTS; // the platform's answer for "not a storage file"
    const BYTE* header = bytes.data();
    const WORD major = Get16(header + 0x1A);
    const WORD sectorShift = Get16(header + 0x1E);
    if (Get16(header + 0x1C) != 0xFFFE || Get16(header + 0x20) != 6 ||
        !((major == 3 && sectorShift == 9) || (major == 4 && sectorShift == 12)))
        return STG_E_INVALIDHEADER;
    image->version4_ = major == 4;
    image->sectorSize_ = std::size_t{1} << sectorShift;
    if (bytes.size() <= image->sectorSize_) return STG_E_DOCFILECORRUPT;
    image->sectorCount_ =
        (bytes.size() - image->sectorSize_ + image->sectorSize_ - 1) / image->sectorSize_;
    const std::size_t perSector = image->sectorSize_ / 4;
    const DWORD fatCount = Get32(header + 0x2C);
    const DWORD firstDirectory = Get32(header + 0x30);
    const DWORD firstMiniFat = Get32(header + 0x3C);
    const DWORD firstDifat = Get32(header + 0x44);
    const DWORD difatCount = Get32(header + 0x48);
    if (fatCount > image->sectorCount_ || difatCount > image->sectorCount_)
        return STG_E_DOCFILECORRUPT;

    // The FAT's own sectors: 109 in the header, the rest in the DIFAT chain.
    std::vector<DWORD> fatSectors;
    for (std::size_t i = 0; i < kHeaderDifatEntries && fatSectors.size() < fatCount; ++i)
        fatSectors.push_back(Get32(header + 0x4C + 4 * i));
    image->bytes_ = std::move(bytes);
    DWORD difat = firstDifat;
    for (DWORD seen = 0; fatSectors.size() < fatCount; ++seen) {
        if (seen >= difatCount || difat >= image->sectorCount_) return STG_E_DOCFILECORRUPT;
        std::vector<BYTE> sector;
        if (const HRESULT hr = image->ReadSectors({difat}, sector); FAILED(hr)) return hr;
        for (std::size_t i = 0; i + 1 < perSector && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(Get32(sector.data() + 4 * i));
        difat = Get32(sector.data() + 4 * (perSector - 1));
    }
    for (DWORD sector : fatSectors)
        if (sector >= image->sectorCount_) return STG_E_DOCFILECORRUPT;
    std::vector<BYTE> fatBytes;
    if (const HRESULT hr = image->ReadSectors(fatSectors, fatBytes); FAILED(hr)) return hr;
    image->fat_.resize(fatBytes.size() / 4);
    for (std::size_t i = 0; i < image->fat_.size(); ++i)
        image->fat_[i] = Get32(fatBytes.data() + 4 * i);

    std::vector<DWORD> chain;
    std::vector<BYTE> directory;
    if (HRESULT hr = image->Chain(image->fat_, firstDirectory, image->sectorCount_, chain);
        FAILED(hr) || chain.empty())
        return STG_E_DOCFILECORRUPT;
    if (const HRESULT hr = image->ReadSectors(chain, directory); FAILED(hr)) return hr;
    const std::size_t entryCount = directory.size() / kEntrySize;

    if (firstMiniFat != kEndOfChain) {
        std::vector<BYTE> miniFatBytes;
        if (const HRESULT hr = image->Chain(image->fat_, firstMiniFat, image->sectorCount_, chain);
            FAILED(hr))
            return hr;
        if (const HRESULT hr = image->ReadSectors(chain, miniFatBytes); FAILED(hr)) return hr;
        image->miniFat_.resize(miniFatBytes.size() / 4);
        for (std::size_t i = 0; i < image->miniFat_.size(); ++i)
            image->miniFat_[i] = Get32(miniFatBytes.data() + 4 * i);
    }

    auto entryAt = [&](std::size_t index) { return directory.data() + index * kEntrySize; };
    auto sizeOf = [&](const BYTE* raw) {
        const std::uint64_t size = Get64(raw + 0x78);
        // Version 3 writers may leave garbage in the high half.
        return image->version4_ ? size : size & 0xFFFFFFFF;
    };
    const BYTE* rootRaw = entryAt(0);
    if (rootRaw[0x42] != kTypeRoot) return STG_E_DOCFILECORRUPT;
    {
        const std::uint64_t miniSize = sizeOf(rootRaw);
        const DWORD miniStart = Get32(rootRaw + 0x74);
        if (miniSize > 0) {
            if (miniSize > image->bytes_.size()) return STG_E_DOCFILECORRUPT;
            if (const HRESULT hr = image->Chain(image->fat_, miniStart, image->sectorCount_, chain);
                FAILED(hr))
                return hr;
            if (chain.size() * image->sectorSize_ < miniSize) return STG_E_DOCFILECORRUPT;
            if (const HRESULT hr = image->ReadSectors(chain, image->miniStream_); FAILED(hr))
                return hr;
            image->miniStream_.resize(static_cast<std::size_t>(miniSize));
        }
    }

    std::vector<bool> visited(entryCount, false);
    auto makeEntry = [&](std::size_t index, std::shared_ptr<Entry>& out) -> HRESULT {
        const BYTE* raw = entryAt(index);
        const WORD nameBytes = Get16(raw + 0x40);
        if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0) return STG_E_DOCFILECORRUPT;
        auto entry = std::make_shared<Entry>();
        for (std::size_t i = 0; i + 1 < nameBytes / 2u; ++i)
            entry->name.push_back(static_cast<char16_t>(Get16(raw + 2 * i)));
        entry->type = raw[0x42];
        GetGuid(raw + 0x50, entry->clsid);
        entry->stateBits = Get32(raw + 0x60);
        entry->created = Get64(raw + 0x64);
        entry->modified = Get64(raw + 0x6C);
        if (entry->type == kTypeStream) {
            entry->startSector = Get32(raw + 0x74);
            entry->size = sizeOf(raw);
            if (entry->size > kMaxStreamSize) return STG_E_DOCFILECORRUPT;
            entry->loaded = entry->size == 0;
        } else if (entry->type != kTypeStorage && !(index == 0 && entry->type == kTypeRoot)) {
            return STG_E_DOCFILECORRUPT;
        }
        out = std::move(entry);
        return S_OK;
    };

    if (const HRESULT hr = makeEntry(0, root); FAILED(hr)) return hr;
    visited[0] = true;
    // Walk each storage's sibling tree without recursion, so that no file can
    // exhaust the stack; an entry reached twice means a cycle.
    struct Pending {
        std::shared_ptr<Entry> storage;
        DWORD index;
    };
    std::vector<Pending> work{{root, Get32(rootRaw + 0x4C)}};
    while (!work.empty()) {
        Pending item = work.back();
        work.pop_back();
        if (item.index == kNoStream) continue;
        if (item.index >= entryCount || visited[item.index]) return STG_E_DOCFILECORRUPT;
        visited[item.index] = true;
        std::shared_ptr<Entry> entry;
        if (const HRESULT hr = makeEntry(item.index, entry); FAILED(hr)) return hr;
        if (entry->type == kTypeRoot) return STG_E_DOCFILECORRUPT;
        const BYTE* raw = entryAt(item.index);
        entry->source = image;
        work.push_back({item.storage, Get32(raw + 0x44)});
        work.push_back({item.storage, Get32(raw + 0x48)});
        if (entry->type == kTypeStorage) work.push_back({entry, Get32(raw + 0x4C)});
        item.storage->children.push_back(std::move(entry));
    }
    root->source = image;
    return S_OK;
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

} // namespace

HRESULT WriteImage(Entry& root, std::vector<BYTE>& out) {
    constexpr std::size_t kSector = 512;
    constexpr std::size_t kPerSector = kSector / 4;
    // Directory order: the root, then every storage's children depth first.
    std::vector<Placed> placed;
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

    // Small streams go to the mini stream, the rest to sectors of their own.
    std::vector<DWORD> miniFat;
    std::vector<BYTE> miniStream;
    std::size_t contentSectors = 0;
    for (Placed& item : placed) {
        if (item.entry->type != kTypeStream) continue;
        item.size = item.entry->data.size();
        if (item.size == 0) continue;
        if (item.size < kMiniStreamCutoff) {
            const auto first = static_cast<DWORD>(miniFat.size());
            const std::size_t count = (item.size + kMiniSectorSize - 1) / kMiniSectorSize;
            for (std::size_t i = 0; i < count; ++i)
                miniFat.push_back(i + 1 < count ? first + static_cast<DWORD>(i) + 1 : kEndOfChain);
            item.start = first;
            miniStream.insert(miniStream.end(), item.entry->data.begin(), item.entry->data.end());
            miniStream.resize(miniFat.size() * kMiniSectorSize, 0);
        } else {
            contentSectors += (item.size + kSector - 1) / kSector;
        }
    }
    const std::size_t directorySectors = (placed.size() * kEntrySize + kSector - 1) / kSector;
    const std::size_t miniFatSectors = (miniFat.size() * 4 + kSector - 1) / kSector;
    const std::size_t miniStreamSectors = (miniStream.size() + kSector - 1) / kSector;
    contentSectors += directorySectors + miniFatSectors + miniStreamSectors;
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
    const std::size_t totalSectors = contentSectors + fatSectors + difatSectors;
    if (totalSectors >= 0xFFFFFFF0) return STG_E_MEDIUMFULL;

    std::vector<DWORD> fat(fatSectors * kPerSector, kFreeSector);
    DWORD next = 0;
    auto allocate = [&](std::size_t count, DWORD mark) {
        const DWORD first = count == 0 ? kEndOfChain : next;
        for (std::size_t i = 0; i < count; ++i, ++next)
            fat[next] = mark != 0 ? mark : (i + 1 < count ? next + 1 : kEndOfChain);
        return first;
    };
    const DWORD firstFat = allocate(fatSectors, kFatSector);
    const DWORD firstDifat = allocate(difatSectors, kDifatSector);
    const DWORD firstDirectory = allocate(directorySectors, 0);
    const DWORD firstMiniFat = allocate(miniFatSectors, 0);
    const DWORD firstMiniStream = allocate(miniStreamSectors, 0);
    placed[0].start = firstMiniStream;
    placed[0].size = miniStream.size();
    for (Placed& item : placed)
        if (item.entry->type == kTypeStream && item.size >= kMiniStreamCutoff)
            item.start = allocate((item.size + kSector - 1) / kSector, 0);

    out.assign(kSector + totalSectors * kSector, 0);
    auto sectorAt = [&](DWORD sector) { return out.data() + (sector + 1) * kSector; };
    BYTE* header = out.data();
    std::memcpy(header, kSignature, 8);
    Put16(header + 0x18, 0x003E);
    Put16(header + 0x1A, 3);
    Put16(header + 0x1C, 0xFFFE);
    Put16(header + 0x1E, 9);
    Put16(header + 0x20, 6);
    Put32(header + 0x2C, static_cast<DWORD>(fatSectors));
    Put32(header + 0x30, firstDirectory);
    Put32(header + 0x38, static_cast<DWORD>(kMiniStreamCutoff));
    Put32(header + 0x3C, firstMiniFat);
    Put32(header + 0x40, static_cast<DWORD>(miniFatSectors));
    Put32(header + 0x44, firstDifat);
    Put32(header + 0x48, static_cast<DWORD>(difatSectors));
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i)
        Put32(header + 0x4C + 4 * i,
              i < fatSectors ? firstFat + static_cast<DWORD>(i) : kFreeSector);
    for (std::size_t d = 0; d < difatSectors; ++d) {
        BYTE* sector = sectorAt(firstDifat + static_cast<DWORD>(d));
        for (std::size_t i = 0; i + 1 < kPerSector; ++i) {
            const std::size_t fatIndex = kHeaderDifatEntries + d * (kPerSector - 1) + i;
            Put32(sector + 4 * i,
                  fatIndex < fatSectors ? firstFat + static_cast<DWORD>(fatIndex) : kFreeSector);
        }
        Put32(sector + 4 * (kPerSector - 1),
              d + 1 < difatSectors ? firstDifat + static_cast<DWORD>(d) + 1 : kEndOfChain);
    }
    for (std::size_t i = 0; i < fat.size(); ++i)
        Put32(sectorAt(firstFat) + 4 * i, fat[i]);

    BYTE* directory = sectorAt(firstDirectory);
    for (std::size_t i = 0; i < directorySectors * kSector / kEntrySize; ++i) {
        BYTE* raw = directory + i * kEntrySize;
        Put32(raw + 0x44, kNoStream);
        Put32(raw + 0x48, kNoStream);
        Put32(raw + 0x4C, kNoStream);
        if (i >= placed.size()) continue;
        const Placed& item = placed[i];
        const Entry& entry = *item.entry;
        const std::u16string name = i == 0 ? u"Root Entry" : entry.name;
        for (std::size_t c = 0; c < name.size() && c < kMaxNameLength; ++c)
            Put16(raw + 2 * c, name[c]);
        Put16(raw + 0x40, static_cast<WORD>(2 * (std::min(name.size(), kMaxNameLength) + 1)));
        raw[0x42] = i == 0 ? kTypeRoot : entry.type;
        raw[0x43] = item.colour;
        Put32(raw + 0x44, item.left);
        Put32(raw + 0x48, item.right);
        Put32(raw + 0x4C, item.child);
        PutGuid(raw + 0x50, entry.clsid);
        Put32(raw + 0x60, entry.stateBits);
        if (entry.type != kTypeStream) {
            Put64(raw + 0x64, entry.created);
            Put64(raw + 0x6C, entry.modified);
        }
        const bool hasContent = i == 0 || entry.type == kTypeStream;
        Put32(raw + 0x74, hasContent ? item.start : 0);
        Put64(raw + 0x78, hasContent ? item.size : 0);
        if (hasContent && item.size == 0) Put32(raw + 0x74, kEndOfChain);
    }
    for (std::size_t i = 0; i < miniFat.size(); ++i)
        Put32(sectorAt(firstMiniFat) + 4 * i, miniFat[i]);
    for (std::size_t i = miniFat.size(); i < miniFatSectors * kPerSector; ++i)
        Put32(sectorAt(firstMiniFat) + 4 * i, kFreeSector);
    if (!miniStream.empty())
        std::memcpy(sectorAt(firstMiniStream), miniStream.data(), miniStream.size());
    for (const Placed& item : placed)
        if (item.entry->type == kTypeStream && item.size >= kMiniStreamCutoff)
            std::memcpy(sectorAt(item.start), item.entry->data.data(), item.size);
    return S_OK;
}

} // namespace platform::cfb
