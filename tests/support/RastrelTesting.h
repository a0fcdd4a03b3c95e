#pragma once
// What the rastrel tests share: every test binary runs against a registry
// file of its own with both component libraries registered in it; objects
// are made by class identifier and held as a client holds them; a progress
// sink that counts and cancels; files, programs and the oracles run on them.
#include "platform/ComPtr.h"
#include "platform/Windows.h"
#include "rastrel.h"
#include "support/RunCommand.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace rastrel::testing {

using merkanix::testing::CommandResult;
using merkanix::testing::Quote;
using merkanix::testing::ReadBytes;
using merkanix::testing::RunProgram;
using merkanix::testing::ScratchFolder;
using merkanix::testing::WriteBytes;

inline std::vector<BYTE> ReadFile(const std::string& path) {
    const std::string bytes = ReadBytes(path);
    return {bytes.begin(), bytes.end()};
}
inline void WriteFile(const std::string& path, const std::vector<BYTE>& bytes) {
    merkanix::testing::WriteBytes(path, {bytes.begin(), bytes.end()});
}
inline std::u16string Wide(const std::string& text) {
    return {text.begin(), text.end()};
}
// Bytes that are the same for the same seed.
inline std::vector<BYTE> Random(std::size_t size, unsigned seed) {
    std::vector<BYTE> bytes(size);
    std::mt19937 random(seed);
    for (BYTE& b : bytes)
        b = static_cast<BYTE>(random());
    return bytes;
}

// A command line through the shell: its status, stdout and stderr together.
inline CommandResult RunShell(const std::string& command) {
    return RunProgram("/bin/sh", "-c " + Quote("exec 2>&1; " + command));
}
// A Python script given as text, with its arguments.
inline CommandResult RunPython(const std::string& script, const std::string& args) {
    return RunProgram("/usr/bin/python3", "-c " + Quote(script) + " " + args);
}
// The streams of a compound file as olefile, an independent reader, lists
// them: "name size sha256" a line.
inline CommandResult OlefileDump(const std::string& path) {
    return RunProgram("/usr/bin/python3",
                      Quote(MERKANIX_SOURCE_DIR "/tests/platform/olefile_dump.py") + " " +
                          Quote(path));
}
// What Pillow makes of a compound file's "Thumbnail" stream: `expressions`
// printed, of the stream `d` and the picture `im`.
inline std::string ThumbnailInPillow(const std::string& path, const std::string& expressions) {
    const CommandResult shown =
        RunPython("import olefile, io, sys\nfrom PIL import Image\n"
                  "d = olefile.OleFileIO(sys.argv[1]).openstream('Thumbnail').read()\n"
                  "im = Image.open(io.BytesIO(d))\nprint(" +
                      expressions + ")\n",
                  Quote(path));
    return shown.out + shown.err;
}
// A compound file made by gsf, another implementation, of these streams; a
// path "Storage/Name" puts one in a storage.
inline void MakeWithGsf(const std::string& out,
                        const std::vector<std::pair<std::string, std::vector<BYTE>>>& streams) {
    ScratchFolder in;
    for (const auto& [path, bytes] : streams) {
        std::filesystem::create_directories(std::filesystem::path(in / path).parent_path());
        WriteFile(in / path, bytes);
    }
    const CommandResult made =
        RunShell("cd " + Quote(in.path()) + " && gsf createole " + Quote(out) + " *");
    ASSERT_EQ(made.status, 0) << made.out;
}

// Calls a library's DllRegisterServer or DllUnregisterServer.
inline HRESULT CallEntry(const std::string& library, const char* entry) {
    HMODULE module = LoadLibraryA(library.c_str());
    if (module == nullptr) return E_FAIL;
    auto function = reinterpret_cast<DllRegisterServerFunction>(GetProcAddress(module, entry));
    const HRESULT hr = function ? function() : E_FAIL;
    FreeLibrary(module);
    return hr;
}

// Every test of a binary that uses it runs against its own registry file,
// never the user's, with both component libraries registered.
class RegisteredComponents : public ::testing::Environment {
public:
    void SetUp() override {
        ::setenv("RASTREL_REGISTRY", (scratch_ / "registry.reg").c_str(), 1);
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        ASSERT_EQ(CallEntry(RASTREL_LIBRARY, "DllRegisterServer"), S_OK);
        ASSERT_EQ(CallEntry(THUMBNAIL_LIBRARY, "DllRegisterServer"), S_OK);
    }
    void TearDown() override {
        CoUninitialize();
        ::unsetenv("RASTREL_REGISTRY");
    }

private:
    ScratchFolder scratch_;
};

// Tests whose files go to a scratch folder of their own.
class ScratchTest : public ::testing::Test {
protected:
    ScratchFolder scratch;
};

template <class T> ComPtr<T> Make(const CLSID& clsid, const IID& iid) {
    ComPtr<T> object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.Out()), S_OK);
    return object;
}
template <class T> ComPtr<T> As(IUnknown* object, const IID& iid) {
    ComPtr<T> result;
    EXPECT_EQ(object->QueryInterface(iid, result.Out()), S_OK);
    return result;
}

// A bitmap object, with an image when a size is given.
inline ComPtr<IBitmapImage> NewBitmap(LONG width = 0, LONG height = 0, DWORD format = 0) {
    auto bitmap = Make<IBitmapImage>(CLSID_Bitmap, IID_IBitmapImage);
    if (width != 0 && bitmap->Create(width, height, format) != S_OK)
        ADD_FAILURE() << "no " << width << " x " << height << " image of format " << format;
    return bitmap;
}
inline BitmapImage ImageOf(IBitmapImage* bitmap) {
    BitmapImage image{};
    EXPECT_EQ(bitmap->GetImage(&image), S_OK);
    return image;
}
inline std::vector<BYTE> PixelsOf(IBitmapImage* bitmap) {
    DWORD bytes = 0;
    bitmap->GetPixelBytes(&bytes);
    const BitmapImage image = ImageOf(bitmap);
    return {image.pixels, image.pixels + bytes};
}
inline RGBQUAD* PaletteOf(IBitmapImage* bitmap) {
    return reinterpret_cast<RGBQUAD*>(ImageOf(bitmap).header + 1);
}
// Every pixel byte, row padding too, from Random.
inline void FillRandom(IBitmapImage* bitmap, unsigned seed) {
    const std::vector<BYTE> bytes = Random(PixelsOf(bitmap).size(), seed);
    std::copy(bytes.begin(), bytes.end(), ImageOf(bitmap).pixels);
}

// A sink that counts its calls and cancels at a chosen step.
class CountingSink final : public IProgressSink {
public:
    explicit CountingSink(long cancelAtStep = -1) : cancelAt(cancelAtStep) {}
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT Begin() override { return Count(begins); }
    HRESULT End() override { return Count(ends); }
    HRESULT SetPhaseCount(LONG count) override {
        phases.push_back(count);
        return S_OK;
    }
    HRESULT Step(ProgressRecord* progress) override {
        records.push_back(*progress);
        return static_cast<long>(records.size()) == cancelAt ? S_FALSE : S_OK;
    }
    const long cancelAt;
    std::vector<ProgressRecord> records;
    std::vector<LONG> phases;
    int begins = 0, ends = 0;

private:
    static HRESULT Count(int& calls) {
        ++calls;
        return S_OK;
    }
};

} // namespace rastrel::testing
