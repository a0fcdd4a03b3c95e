// Compound files: what we write reads back and opens in olefile, files of
// gsf open, damage gives errors, streams and storages behave as the
// platform's do.
#include "support/RastrelTesting.h"

#include <numeric>
#include <random>
#include <tuple>

using namespace rastrel::testing;

namespace {

using CompoundFile = ScratchTest;

constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kReadOnly = STGM_READ | STGM_SHARE_EXCLUSIVE;

ComPtr<IStorage> Open(const std::string& path, DWORD mode = kReadOnly) {
    ComPtr<IStorage> root;
    EXPECT_EQ(StgOpenStorage(Wide(path).c_str(), nullptr, mode, nullptr, 0, &root), S_OK);
    return root;
}

void PutStream(IStorage* storage, const char16_t* name, const std::vector<BYTE>& data) {
    ComPtr<IStream> stream;
    ASSERT_EQ(storage->CreateStream(name, kCreate, 0, 0, &stream), S_OK);
    ULONG written = 0;
    ASSERT_EQ(stream->Write(data.data(), static_cast<ULONG>(data.size()), &written), S_OK);
    EXPECT_EQ(written, data.size());
}

std::vector<BYTE> GetStream(IStorage* storage, const char16_t* name) {
    ComPtr<IStream> stream;
    EXPECT_EQ(storage->OpenStream(name, nullptr, kReadOnly, 0, &stream), S_OK);
    if (!stream) return {};
    STATSTG status{};
    EXPECT_EQ(stream->Stat(&status, STATFLAG_NONAME), S_OK);
    std::vector<BYTE> data(static_cast<std::size_t>(status.cbSize.QuadPart));
    ULONG read = 0;
    EXPECT_EQ(stream->Read(data.data(), static_cast<ULONG>(data.size()), &read), S_OK);
    EXPECT_EQ(read, data.size());
    return data;
}

// Streams on both sides of the 4096-byte mini-stream limit, in the root and
// in a nested storage, enough to need several directory and FAT sectors;
// `extra` streams after them.
using Sample = std::pair<std::u16string, std::vector<BYTE>>; // name, bytes
std::vector<Sample> WriteSample(const std::string& path, std::size_t manyStreams,
                                std::vector<Sample> extra = {}) {
    std::vector<Sample> samples = {{u"NTSC601", Random(699840, 1)},
                                   {u"Small", Random(100, 2)},
                                   {u"Edge4095", Random(4095, 3)},
                                   {u"Edge4096", Random(4096, 4)},
                                   {u"Empty", {}}};
    for (std::size_t i = 0; i < manyStreams; ++i)
        samples.push_back({u"S" + Wide(std::to_string(i)), Random(i * 37, 10 + unsigned(i))});
    samples.insert(samples.end(), extra.begin(), extra.end());
    ComPtr<IStorage> root, nested;
    EXPECT_EQ(StgCreateDocfile(Wide(path).c_str(), kCreate, 0, &root), S_OK);
    for (const auto& [name, data] : samples)
        PutStream(root.get(), name.c_str(), data);
    EXPECT_EQ(root->CreateStorage(u"Inner", kCreate, 0, 0, &nested), S_OK);
    PutStream(nested.get(), u"Deep", Random(5000, 99));
    nested.Reset();
    EXPECT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    return samples;
}

// Over 109 FAT sectors, a file of more than 7 MB, need the DIFAT.
TEST_F(CompoundFile, WhatWeWriteReadsBackAndOpensInOlefile) {
    const std::string path = scratch / "sample.cfb";
    auto samples = WriteSample(path, 40, {{u"Big", Random(8 << 20, 7)}});
    EXPECT_EQ(ReadFile(path).size() % 512, 0u);
    ComPtr<IStorage> root = Open(path, STGM_PRIORITY | kReadOnly), nested;
    for (const auto& [name, data] : samples)
        EXPECT_EQ(GetStream(root.get(), name.c_str()), data);
    EXPECT_EQ(GetStream(root.get(), u"ntsc601"), samples[0].second); // names ignore case
    ASSERT_EQ(root->OpenStorage(u"Inner", nullptr, kReadOnly, nullptr, 0, &nested), S_OK);
    EXPECT_EQ(GetStream(nested.get(), u"Deep"), Random(5000, 99));

    // The independent reader sees the same streams, sizes and bytes.
    samples.push_back({u"Inner/Deep", Random(5000, 99)});
    std::vector<std::string> lines;
    for (const auto& [name, data] : samples) {
        WriteFile(scratch / "s", data);
        lines.push_back(std::string(name.begin(), name.end()) + ' ' + std::to_string(data.size()) +
                        ' ' + RunProgram("sha256sum", Quote(scratch / "s")).out.substr(0, 64) +
                        '\n');
    }
    std::sort(lines.begin(), lines.end()); // as the listing is
    const auto dump = OlefileDump(path);
    EXPECT_EQ(dump.out, std::accumulate(lines.begin(), lines.end(), std::string())) << dump.err;
}

TEST_F(CompoundFile, AFileMadeByAnotherToolOpens) {
    const auto frame = Random(699840, 5), note = Random(300, 6);
    MakeWithGsf(scratch / "gsf.cfb", {{"NTSC601", frame}, {"Folder/Note", note}});
    ComPtr<IStorage> root = Open(scratch / "gsf.cfb"), folder;
    EXPECT_EQ(GetStream(root.get(), u"NTSC601"), frame);
    ASSERT_EQ(root->OpenStorage(u"Folder", nullptr, kReadOnly, nullptr, 0, &folder), S_OK);
    EXPECT_EQ(GetStream(folder.get(), u"Note"), note);
}

TEST_F(CompoundFile, DamagedFilesGiveErrorsNotCrashes) {
    const std::string path = scratch / "sample.cfb";
    WriteSample(path, 8);
    const auto good = ReadFile(path);
    const std::string damaged = scratch / "damaged.cfb";
    auto readEverything = [&](const std::vector<BYTE>& bytes) {
        WriteFile(damaged, bytes);
        ComPtr<IStorage> root;
        HRESULT hr = StgOpenStorage(Wide(damaged).c_str(), nullptr, kReadOnly, nullptr, 0, &root);
        if (FAILED(hr)) {
            EXPECT_FALSE(root);
            return hr;
        }
        for (const char16_t* name : {u"NTSC601", u"Small", u"Edge4096", u"S3", u"Inner"}) {
            ComPtr<IStream> stream;
            const HRESULT opened = root->OpenStream(name, nullptr, kReadOnly, 0, &stream);
            if (FAILED(opened)) hr = opened;
            BYTE buffer[8192];
            ULONG read = 0;
            while (stream && stream->Read(buffer, sizeof buffer, &read) == S_OK) {
            }
        }
        return hr;
    };
    EXPECT_EQ(readEverything(good), STG_E_FILENOTFOUND); // "Inner" is a storage, not a stream

    // Cut short anywhere: the header, the FAT, the directory or the data.
    int failures = 0;
    for (std::size_t size :
         {0ul, 100ul, 511ul, 512ul, 1024ul, 4096ul, good.size() / 2, good.size() - 512})
        failures += FAILED(readEverything({good.begin(), good.begin() + long(size)}));
    EXPECT_GE(failures, 7);
    // Not a compound file at all.
    EXPECT_EQ(readEverything(Random(2048, 1)), STG_E_FILEALREADYEXISTS);
    // Random damage: whatever happens, no crash and no hang.
    std::mt19937 random(42);
    for (int round = 0; round < 300; ++round) {
        auto bytes = good;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits; ++e) {
            // Most damage goes to the header and the structure sectors.
            const std::size_t at = random() % 2 ? random() % 2048 : random() % bytes.size();
            bytes[at] = static_cast<BYTE>(random());
        }
        readEverything(bytes);
    }
}

TEST_F(CompoundFile, StreamOperations) {
    const std::string path = scratch / "ops.cfb";
    ComPtr<IStorage> root, second;
    ASSERT_EQ(StgCreateDocfile(Wide(path).c_str(), kCreate, 0, &root), S_OK);
    EXPECT_EQ(
        StgCreateDocfile(Wide(path).c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &second),
        STG_E_FILEALREADYEXISTS);
    ComPtr<IStream> stream, again;
    EXPECT_EQ(root->CreateStream(u"A", STGM_READWRITE, 0, 0, &stream), STG_E_INVALIDFLAG);
    EXPECT_EQ(root->CreateStream(u"a/b", kCreate, 0, 0, &stream), STG_E_INVALIDNAME);
    EXPECT_EQ(root->CreateStream(u"ThisNameIsLongerThanThirtyOneChars", kCreate, 0, 0, &stream),
              STG_E_INVALIDNAME);
    ASSERT_EQ(root->CreateStream(u"A", kCreate, 0, 0, &stream), S_OK);
    EXPECT_EQ(root->OpenStream(u"A", nullptr, kReadOnly, 0, &again), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->CreateStream(u"A", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &again),
              STG_E_FILEALREADYEXISTS);

    EXPECT_EQ(stream->Write("hello world", 11, nullptr), S_OK);
    ULARGE_INTEGER position{};
    EXPECT_EQ(stream->Seek({-5}, STREAM_SEEK_END, &position), S_OK);
    char text[20] = {};
    ULONG read = 0;
    EXPECT_EQ(stream->Read(text, 20, &read), S_FALSE); // short: fewer bytes than asked
    EXPECT_EQ(std::tuple(position.QuadPart, read, std::string(text)), std::tuple(6u, 5u, "world"));
    EXPECT_EQ(stream->Seek({-1}, STREAM_SEEK_SET, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->Seek({20}, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(stream->Write("!", 1, nullptr), S_OK); // past the end: zeros between
    STATSTG status{};
    EXPECT_EQ(stream->Stat(&status, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(std::tuple(status.cbSize.QuadPart, std::u16string(status.pwcsName), status.type),
              std::tuple(21u, u"A", STGTY_STREAM));
    CoTaskMemFree(status.pwcsName);
    EXPECT_EQ(stream->SetSize({11}), S_OK);
    stream.Reset();
    EXPECT_EQ(root->DestroyElement(u"Nope"), STG_E_FILENOTFOUND);
    root.Reset(); // written when the last element goes
    root = Open(path);
    const auto data = GetStream(root.get(), u"A");
    EXPECT_EQ(std::string(data.begin(), data.end()), "hello world");
    EXPECT_EQ(root->OpenStream(u"A", nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &stream),
              STG_E_ACCESSDENIED);
    EXPECT_EQ(root->CreateStream(u"B", kCreate, 0, 0, &stream), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->OpenStream(u"Missing", nullptr, kReadOnly, 0, &stream), STG_E_FILENOTFOUND);
    EXPECT_EQ(
        StgOpenStorage(Wide(scratch / "none.cfb").c_str(), nullptr, kReadOnly, nullptr, 0, &root),
        STG_E_FILENOTFOUND);
}

TEST_F(CompoundFile, ChangesToAnOpenedFileAreKept) {
    const std::string path = scratch / "edit.cfb";
    WriteSample(path, 2);
    ComPtr<IStorage> root = Open(path, STGM_READWRITE | STGM_SHARE_EXCLUSIVE);
    EXPECT_EQ(root->DestroyElement(u"Small"), S_OK);
    EXPECT_EQ(root->RenameElement(u"S1", u"Renamed"), S_OK);
    PutStream(root.get(), u"Added", Random(10, 1));
    root.Reset();
    root = Open(path);
    ComPtr<IStream> stream;
    EXPECT_EQ(root->OpenStream(u"Small", nullptr, kReadOnly, 0, &stream), STG_E_FILENOTFOUND);
    EXPECT_EQ(std::tuple(GetStream(root.get(), u"Renamed"), GetStream(root.get(), u"Added")),
              std::tuple(Random(37, 11), Random(10, 1)));
    EXPECT_EQ(GetStream(root.get(), u"NTSC601"), Random(699840, 1));
}

} // namespace
