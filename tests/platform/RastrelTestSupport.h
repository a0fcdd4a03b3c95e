#pragma once
// What the rastrel tests share: a scratch folder, a private registry file
// with the component libraries registered in it, and running commands.
#include "platform/Windows.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace rastrel::testing {

class Scratch {
public:
    Scratch() {
        char pattern[] = "/tmp/rastrel-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        if (made == nullptr) std::abort();
        path_ = made;
    }
    ~Scratch() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline std::vector<BYTE> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::vector<BYTE>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::u16string Wide(const std::string& text) {
    return {text.begin(), text.end()};
}

struct CommandResult {
    int status = -1;
    std::string output;
};

inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command line; stdout and stderr together.
inline CommandResult RunCommand(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>&1 </dev/null").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, n);
    const int raw = ::pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
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
        registry_ = scratch_ / "registry.reg";
        ::setenv("RASTREL_REGISTRY", registry_.c_str(), 1);
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
#ifdef RASTREL_LIBRARY
        ASSERT_EQ(CallEntry(RASTREL_LIBRARY, "DllRegisterServer"), S_OK);
#endif
#ifdef THUMBNAIL_LIBRARY
        ASSERT_EQ(CallEntry(THUMBNAIL_LIBRARY, "DllRegisterServer"), S_OK);
#endif
    }
    void TearDown() override {
        CoUninitialize();
        ::unsetenv("RASTREL_REGISTRY");
    }
    const std::string& Registry() const {
        return registry_;
    }

private:
    Scratch scratch_;
    std::string registry_;
};

} // namespace rastrel::testing
