#include "RegistryFile.h"
#include "support/RastrelTesting.h"

#include <chrono>
#include <cstring>
#include <sys/wait.h>
#include <tuple>

using namespace rastrel::testing;

namespace {

class RegistryTest : public ScratchTest {
protected:
    void SetUp() override { ::setenv("RASTREL_REGISTRY", (scratch / "reg.reg").c_str(), 1); }
    void TearDown() override { ::unsetenv("RASTREL_REGISTRY"); }
    std::string Text() const { return ReadBytes(scratch / "reg.reg"); }
};

LONG CreateKey(const std::string& name, HKEY* key) {
    return RegCreateKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                           key, nullptr);
}

LONG SetString(HKEY key, const char* name, const std::string& value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1));
}

std::string QueryString(HKEY key, const char* name) {
    char buffer[512];
    DWORD size = sizeof buffer, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return "<missing>";
    EXPECT_EQ(type, REG_SZ);
    return std::string(buffer, size > 0 ? size - 1 : 0);
}

TEST(RegistryText, RoundTripsEveryValueKind) {
    const std::string text = "REGEDIT4\n\n[HKEY_CLASSES_ROOT\\A\\Quote\"d]\n"
                             "@=\"C:\\\\path with \\\"quotes\\\"\"\n\"Number\"=dword:0000002a\n"
                             "\"Bytes\"=hex:01,02,ff\n\"Multi\"=hex(7):61,00,00\n"
                             "\"Line\"=hex(1):61,0a,62,00\n\n[HKEY_CLASSES_ROOT\\Empty]\n";
    auto tree = platform::ParseRegistryText(text);
    ASSERT_TRUE(tree);
    platform::RegistryNode* key = tree->Find("hkey_classes_root\\a\\QUOTE\"D");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(std::string(key->Value("")->data.begin(), key->Value("")->data.end()),
              std::string("C:\\path with \"quotes\"\0", 22));
    EXPECT_EQ(std::tuple(key->Value("number")->data, key->Value("Multi")->type),
              std::tuple(std::vector<BYTE>{42, 0, 0, 0}, REG_MULTI_SZ));
    EXPECT_NE(tree->Find("HKEY_CLASSES_ROOT\\Empty"), nullptr);
    // Written and read again, nothing changes; long hex values wrap.
    std::vector<BYTE> blob(300);
    for (std::size_t i = 0; i < blob.size(); ++i)
        blob[i] = static_cast<BYTE>(i * 7);
    key->values.push_back({"Blob", REG_BINARY, blob});
    const std::string written = platform::WriteRegistryText(*tree);
    EXPECT_NE(written.find("\\\n  "), std::string::npos);
    auto again = platform::ParseRegistryText(written);
    ASSERT_TRUE(again);
    EXPECT_EQ(platform::WriteRegistryText(*again), written);
    key = again->Find("HKEY_CLASSES_ROOT\\A\\Quote\"d");
    EXPECT_EQ(key->Value("Line")->data, (std::vector<BYTE>{'a', '\n', 'b', 0}));
    EXPECT_EQ(key->Value("Blob")->data, blob);
}

TEST(RegistryText, RefusesMalformedText) {
    for (const char* text :
         {"REGEDIT5\n", "REGEDIT4\n\"a\"=\"b\"\n", "REGEDIT4\n[HKEY_CLASSES_ROOT\\\\x]\n",
          "REGEDIT4\n[HKEY_CLASSES_ROOT]\n\"a\"=dword:123456789\n",
          "REGEDIT4\n[HKEY_CLASSES_ROOT]\n\"a\"=hex:1,2g\n",
          "REGEDIT4\n[HKEY_CLASSES_ROOT]\n\"a\"=\"unterminated\n",
          "REGEDIT4\n[HKEY_CLASSES_ROOT]\n\"a\"=\"x\" trailing\n",
          "REGEDIT4\n[HKEY_CLASSES_ROOT\n"})
        EXPECT_FALSE(platform::ParseRegistryText(text)) << text;
    EXPECT_TRUE(platform::ParseRegistryText(""));
}

TEST_F(RegistryTest, KeysValuesAndTheirErrorCodes) {
    HKEY key = nullptr;
    ASSERT_EQ(CreateKey("CLSID\\{X}\\InprocServer32", &key), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, nullptr, "/lib/librastrel.so"), ERROR_SUCCESS);
    EXPECT_EQ(QueryString(key, nullptr), "/lib/librastrel.so");
    EXPECT_EQ(QueryString(key, ""), "/lib/librastrel.so");

    char small[4];
    DWORD size = sizeof small;
    EXPECT_EQ(
        RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, 19u);
    EXPECT_EQ(RegQueryValueExA(key, "Nothing", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);

    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{Y}", 0, KEY_READ, &opened),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(opened, nullptr);
    HKEY classKey = nullptr; // names ignore case
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "clsid\\{x}", 0, KEY_READ, &classKey),
              ERROR_SUCCESS);
    // Read access does not write.
    EXPECT_EQ(SetString(classKey, "v", "a"), ERROR_ACCESS_DENIED);
    char name[39];
    DWORD nameSize = 0;
    auto enumerate = [&](DWORD index, DWORD room) {
        nameSize = room;
        return RegEnumKeyExA(classKey, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
    };
    EXPECT_EQ(enumerate(0, sizeof name), ERROR_SUCCESS);
    EXPECT_EQ(std::pair(std::string(name), nameSize),
              std::pair(std::string("InprocServer32"), 14u));
    EXPECT_EQ(enumerate(0, 5), ERROR_MORE_DATA);
    EXPECT_EQ(enumerate(1, sizeof name), ERROR_NO_MORE_ITEMS);

    // A key with subkeys is not deleted; its last subkey is, then it.
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(key, "late", "a"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "CLSID\\{X}"), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(classKey), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(classKey), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(classKey), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(CreateKey("bad\nname", &key), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Text().find("{X}"), std::string::npos);
}

TEST_F(RegistryTest, ACorruptFileIsReportedAndLeftAlone) {
    WriteBytes(scratch / "reg.reg", "REGX\n");
    HKEY key = nullptr;
    EXPECT_EQ(CreateKey("CLSID", &key), ERROR_BADDB);
    EXPECT_EQ(Text(), "REGX\n");
}

// A batch (one library's registration) holds the file's lock from its
// first change to its last: another process's change waits for the end.
TEST_F(RegistryTest, ABatchKeepsOtherWritersOutUntilItEnds) {
    using Clock = std::chrono::steady_clock;
    const pid_t child = ::fork();
    if (child == 0) {
        RegistryBatch batch;
        HKEY key = nullptr;
        const bool first = CreateKey("A1", &key) == ERROR_SUCCESS;
        ::usleep(400000);
        ::_exit(first && CreateKey("A2", &key) == ERROR_SUCCESS ? 0 : 1);
    }
    ::usleep(100000);
    const auto start = Clock::now();
    HKEY key = nullptr;
    EXPECT_EQ(CreateKey("B", &key), ERROR_SUCCESS);
    const auto waited = Clock::now() - start;
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    const std::string text = Text();
    EXPECT_LT(text.find("A2]"), std::string::npos);
    EXPECT_NE(text.find("B]"), std::string::npos);
}

// A writer killed while it wrote leaves its temporary; the next change
// removes those of processes that are gone, and no other.
TEST_F(RegistryTest, TemporariesOfDeadWritersAreRemoved) {
    const pid_t gone = ::fork();
    if (gone == 0) ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string dead = std::to_string(gone), alive = std::to_string(::getppid());
    const std::vector<std::string> stale = {"reg.reg.tmp." + dead, ".reg.reg." + dead + ".3.tmp"},
                                   kept = {".reg.reg." + alive + ".0.tmp", "reg.reg.tmp.x"};
    for (const auto& name : stale)
        WriteBytes(scratch / name, "half");
    for (const auto& name : kept)
        WriteBytes(scratch / name, "half");
    HKEY key = nullptr;
    ASSERT_EQ(CreateKey("CLSID", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    for (const auto& name : stale)
        EXPECT_FALSE(std::filesystem::exists(scratch / name)) << name;
    for (const auto& name : kept)
        EXPECT_TRUE(std::filesystem::exists(scratch / name)) << name;
}

// Processes that write at once each keep their keys: every change is a
// locked read-change-rename of the whole file.
TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
    constexpr int kProcesses = 4, kKeys = 25;
    auto name = [](int p, int k) { return "P" + std::to_string(p) + "\\K" + std::to_string(k); };
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int k = 0; k < kKeys; ++k) {
                HKEY key = nullptr;
                if (CreateKey(name(p, k), &key) != ERROR_SUCCESS ||
                    SetString(key, "v", "x") != ERROR_SUCCESS)
                    ::_exit(1);
                RegCloseKey(key);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto tree = platform::ParseRegistryText(Text());
    ASSERT_TRUE(tree);
    for (int p = 0; p < kProcesses; ++p)
        for (int k = 0; k < kKeys; ++k)
            EXPECT_NE(tree->Find("HKEY_CLASSES_ROOT\\" + name(p, k)), nullptr);
}

// Every test here names its own file with RASTREL_REGISTRY; without it the
// file is the user's.
TEST(RegistryLocation, FollowsTheEnvironment) {
    ::unsetenv("RASTREL_REGISTRY");
    ::setenv("XDG_CONFIG_HOME", "/tmp/config", 1);
    EXPECT_EQ(RegistryFilePath(), "/tmp/config/rastrel/registry.reg");
    ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
