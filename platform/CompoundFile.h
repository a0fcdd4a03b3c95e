#pragma once
// The Compound File Binary format: a file image parsed into a tree of
// storages and streams, and a tree written back as a version 3 image.
#include "platform/Types.h"

#include <memory>
#include <string>
#include <vector>

namespace platform::cfb {

inline constexpr BYTE kTypeStorage = 1;
inline constexpr BYTE kTypeStream = 2;
inline constexpr BYTE kTypeRoot = 5;
inline constexpr std::size_t kMaxNameLength = 31;
inline constexpr std::uint64_t kMaxStreamSize = 0x7FFFFFFF;

class Image;

struct Entry {
    std::u16string name;
    BYTE type = kTypeStream;
    CLSID clsid{};
    DWORD stateBits = 0;
    std::uint64_t created = 0;
    std::uint64_t modified = 0;
    // Stream content; read from the source image when first needed.
    std::vector<BYTE> data;
    bool loaded = true;
    DWORD startSector = 0;
    std::uint64_t size = 0;
    std::shared_ptr<const Image> source;
    bool destroyed = false;
    std::vector<std::shared_ptr<Entry>> children;

    std::shared_ptr<Entry> Child(const std::u16string& childName) const;
    std::uint64_t Size() const { return loaded ? data.size() : size; }
};

// Element names compare as the format orders them: by length, then by
// upper-cased characters.
bool NamesEqual(const std::u16string& a, const std::u16string& b);
int CompareNames(const std::u16string& a, const std::u16string& b);
bool IsValidName(const std::u16string& name);

class Image {
public:
    // Parses the file's structure; streams are read later by Load.
    static HRESULT Parse(std::vector<BYTE> bytes, std::shared_ptr<Entry>& root);
    HRESULT ReadStream(const Entry& entry, std::vector<BYTE>& data) const;

private:
    HRESULT Chain(const std::vector<DWORD>& table, DWORD start, std::size_t limit,
                  std::vector<DWORD>& chain) const;
    HRESULT ReadSectors(const std::vector<DWORD>& chain, std::vector<BYTE>& out) const;
    std::vector<BYTE> bytes_;
    std::size_t sectorSize_ = 512;
    std::size_t sectorCount_ = 0;
    bool version4_ = false;
    std::vector<DWORD> fat_;
    std::vector<DWORD> miniFat_;
    std::vector<BYTE> miniStream_;
};

// Reads the content of an entry that still refers to its source image.
HRESULT LoadEntry(Entry& entry);
// Loads every stream of the tree, then writes the tree as a version 3 image.
HRESULT WriteImage(Entry& root, std::vector<BYTE>& out);

} // namespace platform::cfb
