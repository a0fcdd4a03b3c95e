#include "RastrelTestSupport.h"

#include <random>
#include <sstream>

using namespace rastrel::testing;

namespace {

constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kReadOnly = STGM_READ | STGM_SHARE_EXCLUSIVE;

std::vector<BYTE> Pattern(std::size_t size, unsigned seed) {
    std::vector<BYTE> data(size);
    std::mt19937 random(seed);
    for (BYTE& b : data)
        b = static_cast<BYTE>(random());
    return data;
}

void PutStream(IStorage* storage, const char16_t* name, const std::vector<BYTE>& data) {
    IStream* stream = nullptr;
    ASSERT_EQ(storage->CreateStream(name, kCreate, 0, 0, &stream), S_OK);
    ULONG written = 0;
    ASSERT_EQ(stream->Write(data.data(), static_cast<ULONG>(data.size()), &written), S_OK);
    EXPECT_EQ(written, data.size());
    stream->Release();
}

std::vector<BYTE> GetStream(IStorage* storage, const char16_t* name) {
    IStream* stream = nullptr;
    EXPECT_EQ(storage->OpenStream(name, nullptr, kReadOnly, 0, &stream), S_OK);
    if (stream == nullptr) return {};
    STATSTG status{};
    EXPECT_EQ(stream->Stat(&status, STATFLAG_NONAME), S_OK);
    std::vector<BYTE> data(static_cast<std::size_t>(status.cbSize.QuadPart));
    ULONG read = 0;
    EXPECT_EQ(stream->Read(data.data(), static_cast<ULONG>(data.size()), &read), S_OK);
    EXPECT_EQ(read, data.size());
    stream->Release();
    return data;
}

// Streams on both sides of the 4096-byte mini-stream limit, in the root and
// in a nested storage, enough to need several directory and FAT sectors.
struct Sample {
    std::u16string name;
    std::vector<BYTE> data;
};
std::vector<Sample> WriteSample(const std::string& path, std::size_t manyStreams = 40) {
    std::vector<Sample> samples = {{u"NTSC601", Pattern(699840, 1)},
                                   {u"Small", Pattern(100, 2)},
                                   {u"Edge4095", Pattern(4095, 3)},
                                   {u"Edge4096", Pattern(4096, 4)},
                                   {u"Empty", {}}};
    for (std::size_t i = 0; i < manyStreams; ++i)
        samples.push_back({u"S" + Wide(std::to_string(i)), Pattern(i * 37, 10 + unsigned(i))});
    IStorage* root = nullptr;
    EXPECT_EQ(StgCreateDocfile(Wide(path).c_str(), kCreate, 0, &root), S_OK);
    for (const Sample& sample : samples)
        PutStream(root, sample.name.c_str(), sample.data);
    IStorage* nested = nullptr;
    EXPECT_EQ(root->CreateStorage(u"Inner", kCreate, 0, 0, &nested), S_OK);
    PutStream(nested, u"Deep", Pattern(5000, 99));
    nested->Release();
    EXPECT_EQ(root->Commit(STGC_DEFAULT), S_OK);
    root->Release();
    return samples;
}

std::string Sha256Lines(const std::vector<Sample>& samples, const std::string& folder) {
    Scratch scratch;
    std::ostringstream lines;
    for (const Sample& sample : samples) {
        WriteFile(scratch / "s", sample.data);
        const auto sum = RunCommand("sha256sum " + Quote(scratch / "s")).output;
        lines << folder << std::string(sample.name.begin(), sample.name.end()) << ' '
              << sample.data.size() << ' ' << sum.substr(0, 64) << '\n';
    }
    return lines.str();
}

TEST(CompoundFile, WhatWeWriteReadsBackAndOpensInOlefile) {
    Scratch scratch;
    const std::string path = scratch / "sample.cfb";
    const auto samples = WriteSample(path);
    EXPECT_EQ(ReadFile(path).size() % 512, 0u);

    IStorage* root = nullptr;
    ASSERT_EQ(
        StgOpenStorage(Wide(path).c_str(), nullptr, STGM_PRIORITY | kReadOnly, nullptr, 0, &root),
        S_OK);
    for (const Sample& sample : samples)
        EXPECT_EQ(GetStream(root, sample.name.c_str()), sample.data);
    EXPECT_EQ(GetStream(root, u"ntsc601"), samples[0].data); // names ignore case
    IStorage* nested = nullptr;
    ASSERT_EQ(root->OpenStorage(u"Inner", nullptr, kReadOnly, nullptr, 0, &nested), S_OK);
    EXPECT_EQ(GetStream(nested, u"Deep"), Pattern(5000, 99));
    nested->Release();
    root->Release();

    // The independent reader sees the same streams, sizes and bytes.
    std::vector<Sample> all = samples;
    all.push_back({u"Inner/Deep", Pattern(5000, 99)});
    std::vector<std::string> expected, actual;
    std::istringstream want(Sha256Lines(all, ""));
    for (std::string line; std::getline(want, line);)
        expected.push_back(line);
    const auto dump =
        RunCommand("/usr/bin/python3 " + Quote(std::string(RASTREL_TEST_DIR) + "/olefile_dump.py") +
                   " " + Quote(path));
    ASSERT_EQ(dump.status, 0) << dump.output;
    std::istringstream got(dump.output);
    for (std::string line; std::getline(got, line);)
        actual.push_back(line);
    std::sort(expected.begin(), expected.end());
    std::sort(actual.begin(), actual.end());
    EXPECT_EQ(actual, expected);
}

TEST(CompoundFile, ManyFatSectorsNeedTheDifat) {
    // Over 109 FAT sectors: a file of more than 7 MB.
    Scratch scratch;
    const std::string path = scratch / "big.cfb";
    IStorage* root = nullptr;
    ASSERT_EQ(StgCreateDocfile(Wide(path).c_str(), kCreate, 0, &root), S_OK);
    const auto big = Pattern(8 << 20, 7);
    PutStream(root, u"Big", big);
    root->Release();
    ASSERT_EQ(StgOpenStorage(Wide(path).c_str(), nullptr, kReadOnly, nullptr, 0, &root), S_OK);
    EXPECT_EQ(GetStream(root, u"Big"), big);
    root->Release();
    const auto dump =
        RunCommand("/usr/bin/python3 " + Quote(std::string(RASTREL_TEST_DIR) + "/olefile_dump.py") +
                   " " + Quote(path));
    EXPECT_EQ(dump.status, 0) << dump.output;
    EXPECT_NE(dump.output.find("Big 8388608 "), std::string::npos) << dump.output;
}

TEST(CompoundFile, AFileMadeByAnotherToolOpens) {
    Scratch scratch;
    std::filesystem::create_directories(scratch / "in/Folder");
    const auto frame = Pattern(699840, 5), note = Pattern(300, 6);
    WriteFile(scratch / "in/NTSC601", frame);
    WriteFile(scratch / "in/Folder/Note", note);
    const auto made = RunCommand("cd " + Quote(scratch / "in") + " && gsf createole " +
                                 Quote(scratch / "gsf.cfb") + " NTSC601 Folder");
    ASSERT_EQ(made.status, 0) << made.output;
    IStorage* root = nullptr;
    ASSERT_EQ(
        StgOpenStorage(Wide(scratch / "gsf.cfb").c_str(), nullptr, kReadOnly, nullptr, 0, &root),
        S_OK);
    EXPECT_EQ(GetStream(root, u"NTSC601"), frame);
    IStorage* folder = nullptr;
    ASSERT_EQ(root->OpenStorage(u"Folder", nullptr, kReadOnly, nullptr, 0, &folder), S_OK);
    EXPECT_EQ(GetStream(folder, u"Note"), note);
    folder->Release();
    root->Release();
}

TEST(CompoundFile, DamagedFilesGiveErrorsNotCrashes) {
    Scratch scratch;
    const std::string path = scratch / "sample.cfb";
    WriteSample(path, 8);
    const auto good = ReadFile(path);
    const std::string damaged = scratch / "damaged.cfb";
    auto readEverything = [&](const std::vector<BYTE>& bytes) {
        WriteFile(damaged, bytes);
        IStorage* root = nullptr;
        HRESULT hr = StgOpenStorage(Wide(damaged).c_str(), nullptr, kReadOnly, nullptr, 0, &root);
        if (FAILED(hr)) {
            EXPECT_EQ(root, nullptr);
            return hr;
        }
        for (const char16_t* name : {u"NTSC601", u"Small", u"Edge4096", u"S3", u"Inner"}) {
            IStream* stream = nullptr;
            const HRESULT opened = root->OpenStream(name, nullptr, kReadOnly, 0, &stream);
            if (FAILED(opened)) hr = opened;
            if (stream) {
                BYTE buffer[8192];
                ULONG read = 0;
                while (stream->Read(buffer, sizeof buffer, &read) == S_OK) {
                }
                stream->Release();
            }
        }
        root->Release();
        return hr;
    };
    EXPECT_EQ(readEverything(good), STG_E_FILENOTFOUND); // "Inner" is a storage, not a stream

    // Cut short anywhere: the header, the FAT, the directory or the data.
    int failures = 0;
    for (std::size_t size :
         {std::size_t{0}, std::size_t{100}, std::size_t{511}, std::size_t{512}, std::size_t{1024},
          std::size_t{4096}, good.size() / 2, good.size() - 512})
        failures += FAILED(readEverything({good.begin(), good.begin() + long(size)}));
    EXPECT_GE(failures, 7);
    // Not a compound file at all.
    EXPECT_EQ(readEverything(Pattern(2048, 1)), STG_E_FILEALREADYEXISTS);
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

TEST(CompoundFile, StreamOperations) {
    Scratch scratch;
    const std::string path = scratch / "ops.cfb";
    IStorage* root = nullptr;
    ASSERT_EQ(StgCreateDocfile(Wide(path).c_str(), kCreate, 0, &root), S_OK);
    IStorage* second = nullptr;
    EXPECT_EQ(
        StgCreateDocfile(Wide(path).c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &second),
        STG_E_FILEALREADYEXISTS);
    IStream* stream = nullptr;
    EXPECT_EQ(root->CreateStream(u"A", STGM_READWRITE, 0, 0, &stream), STG_E_INVALIDFLAG);
    EXPECT_EQ(root->CreateStream(u"a/b", kCreate, 0, 0, &stream), STG_E_INVALIDNAME);
    EXPECT_EQ(root->CreateStream(u"ThisNameIsLongerThanThirtyOneChars", kCreate, 0, 0, &stream),
              STG_E_INVALIDNAME);
    ASSERT_EQ(root->CreateStream(u"A", kCreate, 0, 0, &stream), S_OK);
    IStream* again = nullptr;
    EXPECT_EQ(root->OpenStream(u"A", nullptr, kReadOnly, 0, &again), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->CreateStream(u"A", STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &again),
              STG_E_FILEALREADYEXISTS);

    EXPECT_EQ(stream->Write("hello world", 11, nullptr), S_OK);
    ULARGE_INTEGER position{};
    EXPECT_EQ(stream->Seek({-5}, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 6u);
    char text[20] = {};
    ULONG read = 0;
    EXPECT_EQ(stream->Read(text, 20, &read), S_FALSE); // short: fewer bytes than asked
    EXPECT_EQ(read, 5u);
    EXPECT_STREQ(text, "world");
    EXPECT_EQ(stream->Seek({-1}, STREAM_SEEK_SET, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(stream->Seek({20}, STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(stream->Write("!", 1, nullptr), S_OK); // past the end: zeros between
    STATSTG status{};
    EXPECT_EQ(stream->Stat(&status, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(status.cbSize.QuadPart, 21u);
    EXPECT_EQ(std::u16string(status.pwcsName), u"A");
    EXPECT_EQ(status.type, STGTY_STREAM);
    CoTaskMemFree(status.pwcsName);
    EXPECT_EQ(stream->SetSize({11}), S_OK);
    stream->Release();
    EXPECT_EQ(root->DestroyElement(u"Nope"), STG_E_FILENOTFOUND);
    root->Release();

    ASSERT_EQ(StgOpenStorage(Wide(path).c_str(), nullptr, kReadOnly, nullptr, 0, &root), S_OK);
    const auto data = GetStream(root, u"A");
    EXPECT_EQ(std::string(data.begin(), data.end()), "hello world");
    EXPECT_EQ(root->OpenStream(u"A", nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, &stream),
              STG_E_ACCESSDENIED);
    EXPECT_EQ(root->CreateStream(u"B", kCreate, 0, 0, &stream), STG_E_ACCESSDENIED);
    EXPECT_EQ(root->OpenStream(u"Missing", nullptr, kReadOnly, 0, &stream), STG_E_FILENOTFOUND);
    root->Release();
    EXPECT_EQ(
        StgOpenStorage(Wide(scratch / "none.cfb").c_str(), nullptr, kReadOnly, nullptr, 0, &root),
        STG_E_FILENOTFOUND);
}

TEST(CompoundFile, ChangesToAnOpenedFileAreKept) {
    Scratch scratch;
    const std::string path = scratch / "edit.cfb";
    WriteSample(path, 2);
    IStorage* root = nullptr;
    ASSERT_EQ(StgOpenStorage(Wide(path).c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                             nullptr, 0, &root),
              S_OK);
    EXPECT_EQ(root->DestroyElement(u"Small"), S_OK);
    EXPECT_EQ(root->RenameElement(u"S1", u"Renamed"), S_OK);
    PutStream(root, u"Added", Pattern(10, 1));
    root->Release();
    ASSERT_EQ(StgOpenStorage(Wide(path).c_str(), nullptr, kReadOnly, nullptr, 0, &root), S_OK);
    IStream* stream = nullptr;
    EXPECT_EQ(root->OpenStream(u"Small", nullptr, kReadOnly, 0, &stream), STG_E_FILENOTFOUND);
    EXPECT_EQ(GetStream(root, u"Renamed"), Pattern(37, 11));
    EXPECT_EQ(GetStream(root, u"Added"), Pattern(10, 1));
    EXPECT_EQ(GetStream(root, u"NTSC601"), Pattern(699840, 1));
    root->Release();
}

} // namespace
