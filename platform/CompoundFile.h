#pragma once
// The Compound File Binary format: a file image parsed into a tree of
// storages and streams, and a tree written back as a version 3 image.
#include "platform/ByteSource.h"
#include "platform/Storage.h"
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
// FAT sectors the header lists; the DIFAT sectors list the rest.
inline constexpr std::size_t kHeaderDifatEntries = 109;

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
    struct Header {
        DWORD fatCount = 0, firstDirectory = 0, firstMiniFat = 0, firstDifat = 0, difatCount = 0;
        DWORD difat[kHeaderDifatEntries]{};
    };
    // The steps of Parse, in order.
    HRESULT ReadHeader(Header& header);
    HRESULT ReadFat(const Header& header);
    HRESULT ReadTable(DWORD start, std::vector<DWORD>& table) const;
    HRESULT ReadMiniStream(const BYTE* rootRaw);
    HRESULT BuildTree(const std::shared_ptr<const Image>& self, const std::vector<BYTE>& directory,
                      std::shared_ptr<Entry>& root) const;
    HRESULT MakeEntry(const BYTE* raw, bool isRoot, std::shared_ptr<Entry>& out) const;
    std::uint64_t SizeOf(const BYTE* raw) const;

    HRESULT Chain(const std::vector<DWORD>& table, DWORD start, std::size_t limit,
                  std::vector<DWORD>& chain) const;
    HRESULT ReadSectors(const std::vector<DWORD>& chain, std::vector<BYTE>& out) const;
    // The file's bytes; sectors are read at their offsets, so streams of one
    // open file may be read from several threads.
    platform::ByteSource source_;
    std::size_t size_ = 0;
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
// The root storage of a file image read as StgOpenStorage reads a file;
// `path` is the name it writes back to when opened for writing.
HRESULT OpenImage(const std::string& path, std::vector<BYTE> bytes, DWORD mode, IStorage** storage);

} // namespace platform::cfb
