#include "support/RastrelTesting.h"

#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <tuple>

using namespace rastrel::testing;

namespace {

// The thumbnail writer: a small server of our own to load and unload.
constexpr CLSID kServerClass = CLSID_ThumbnailWriter;
constexpr CLSID kUnknownClass = {
    0x12345678, 0x1234, 0x1234, {0x12, 0x34, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}};

HRESULT Create(const CLSID& clsid, DWORD context, void** object) {
    return CoCreateInstance(clsid, nullptr, context, IID_IUnknown, object);
}

bool IsLoaded(const std::string& library) {
    return ReadBytes("/proc/self/maps").find(library) != std::string::npos;
}

class RuntimeTest : public ScratchTest {
protected:
    void SetUp() override {
        ::setenv("RASTREL_REGISTRY", (scratch / "reg.reg").c_str(), 1);
        ASSERT_EQ(CallEntry(THUMBNAIL_LIBRARY, "DllRegisterServer"), S_OK);
    }
    void TearDown() override { ::unsetenv("RASTREL_REGISTRY"); }
};

TEST(Guid, TextFormBothWays) {
    char text[39];
    GuidToText(kServerClass, text);
    EXPECT_STREQ(text, "{C50058B7-AB3B-11CE-8468-0000B468276B}");
    GUID back{};
    ASSERT_TRUE(GuidFromText("{c50058b7-ab3b-11ce-8468-0000b468276b}", &back));
    EXPECT_EQ(back, kServerClass);
    EXPECT_FALSE(GuidFromText("{C50058B7-AB3B-11CE-8468-0000B468276}", &back));
    EXPECT_FALSE(GuidFromText("C50058B7-AB3B-11CE-8468-0000B468276B", &back));
    OLECHAR wide[39];
    EXPECT_EQ(StringFromGUID2(kServerClass, wide, 39), 39);
    EXPECT_EQ(StringFromGUID2(kServerClass, wide, 38), 0);
    EXPECT_EQ(CLSIDFromString(wide, &back), S_OK);
    EXPECT_EQ(back, kServerClass);
}

TEST_F(RuntimeTest, CreatesLoadsOnceAndUnloadsWhenUnused) {
    void* object = nullptr;
    EXPECT_EQ(Create(kServerClass, CLSCTX_INPROC_SERVER, &object), CO_E_NOTINITIALIZED);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();

    EXPECT_EQ(Create(kUnknownClass, CLSCTX_INPROC_SERVER, &object), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Create(kServerClass, CLSCTX_LOCAL_SERVER, &object), REGDB_E_CLASSNOTREG);

    ComPtr<IUnknown> first, second;
    ASSERT_EQ(Create(kServerClass, CLSCTX_INPROC_SERVER, first.Out()), S_OK);
    ASSERT_EQ(Create(kServerClass, CLSCTX_ALL, second.Out()), S_OK);
    // One copy of the library serves both objects.
    Dl_info a{}, b{};
    ASSERT_NE(::dladdr(*reinterpret_cast<void**>(first.get()), &a), 0);
    ASSERT_NE(::dladdr(*reinterpret_cast<void**>(second.get()), &b), 0);
    EXPECT_EQ(a.dli_fbase, b.dli_fbase);
    const std::string name = "librastrel-thumbnail.so";
    CoFreeUnusedLibraries();
    EXPECT_TRUE(IsLoaded(name)); // objects alive
    first.Reset();
    second.Reset();
    CoFreeUnusedLibraries();
    EXPECT_FALSE(IsLoaded(name));

    ComPtr<IClassFactory> factory;
    for (BOOL lock : {TRUE, FALSE}) {
        ASSERT_EQ(CoGetClassObject(kServerClass, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   factory.Out()),
                  S_OK);
        EXPECT_EQ(factory->LockServer(lock), S_OK);
        factory.Reset();
        if (lock) CoFreeUnusedLibraries();
        EXPECT_TRUE(IsLoaded(name)); // locked, then not freed yet
    }
    CoUninitialize(); // the last one frees what is unused
    EXPECT_FALSE(IsLoaded(name));
}

TEST_F(RuntimeTest, AMissingLibraryIsReported) {
    std::ofstream(scratch / "reg.reg", std::ios::app)
        << "[HKEY_CLASSES_ROOT\\CLSID\\{12345678-1234-1234-1234-123456789ABC}\\InprocServer32]\n"
           "@=\"/nonexistent/libnothing.so\"\n";
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    void* object = nullptr;
    EXPECT_EQ(Create(kUnknownClass, CLSCTX_INPROC_SERVER, &object), CO_E_DLLNOTFOUND);
    CoUninitialize();
}

// A module's whole path is checked where the libraries register themselves.
TEST(Loader, ModulePathsAndTheirBuffer) {
    HMODULE module = LoadLibraryA(THUMBNAIL_LIBRARY);
    ASSERT_NE(module, nullptr);
    char small[8];
    EXPECT_EQ(GetModuleFileNameA(module, small, sizeof small), sizeof small);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::strlen(small), 7u);
    EXPECT_NE(GetProcAddress(module, "DllGetClassObject"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "NoSuchEntry"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(LoadLibraryA("/nonexistent/lib.so"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Memory, GlobalBlocksKeepTheirSizeAndContent) {
    HGLOBAL block = GlobalAlloc(GHND, 100);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 100u);
    auto* bytes = static_cast<BYTE*>(GlobalLock(block));
    EXPECT_EQ(bytes[99], 0);
    bytes[0] = 7;
    GlobalUnlock(block);
    block = GlobalReAlloc(block, 5000, GMEM_ZEROINIT);
    bytes = static_cast<BYTE*>(GlobalLock(block));
    EXPECT_EQ(std::pair(bytes[0], bytes[4999]), std::pair(BYTE{7}, BYTE{0}));
    GlobalUnlock(block);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(Files, HandlesAndTheOlderCalls) {
    ScratchFolder scratch;
    const std::string path = scratch / "f";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(file, "abcdef", 6, &done, nullptr));
    EXPECT_EQ(GetFileSize(file, nullptr), 6u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    const HFILE old = _lopen(path.c_str(), OF_READ);
    ASSERT_NE(old, HFILE_ERROR);
    EXPECT_EQ(_llseek(old, 2, 0), 2);
    char text[8] = {};
    EXPECT_EQ(_lread(old, text, 8), 4u);
    EXPECT_EQ(std::pair(std::string(text), _lclose(old)), std::pair(std::string("cdef"), 0));
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_EQ(_lopen(path.c_str(), OF_READ), HFILE_ERROR);
}

TEST(Gdi, DibSectionsDescribeThemselves) {
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), 65, 48, 1, 24, BI_RGB, 0, 0, 0, 0, 0}, {}};
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(section, nullptr);
    DIBSECTION description{};
    EXPECT_EQ(GetObjectA(section, sizeof description, &description), int(sizeof description));
    // Rows of 65 * 3 bytes rounded up to 4, zeros to the last byte.
    EXPECT_EQ(std::tuple(description.dsBm.bmWidthBytes, description.dsBm.bmBits,
                         description.dsBmih.biSizeImage, static_cast<BYTE*>(bits)[196 * 48 - 1]),
              std::tuple(196, bits, 196u * 48u, 0));
    EXPECT_TRUE(DeleteObject(section));
    EXPECT_FALSE(DeleteObject(section));
    EXPECT_EQ(GetObjectA(section, sizeof description, &description), 0);
    info.bmiHeader.biBitCount = 7;
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr);
}

} // namespace
