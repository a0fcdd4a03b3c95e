// regsvr [-u] [-s] LIBRARY: registers (or with -u unregisters) an in-process
// component server by calling its DllRegisterServer (DllUnregisterServer).
// Exit status as the platform's tool: 0 done, 1 bad command line, 3 the
// library does not load, 4 it lacks the entry point, 5 the entry point failed.
#include "platform/Com.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>

int main(int argc, char** argv) {
    bool unregister = false, silent = false;
    const char* library = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-u") == 0 || std::strcmp(argv[i], "/u") == 0)
            unregister = true;
        else if (std::strcmp(argv[i], "-s") == 0 || std::strcmp(argv[i], "/s") == 0)
            silent = true;
        else if (library == nullptr && argv[i][0] != '-')
            library = argv[i];
        else {
            library = nullptr;
            break;
        }
    }
    if (library == nullptr) {
        std::fprintf(stderr, "usage: regsvr [-u] [-s] LIBRARY\n");
        return 1;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    CoInitialize(nullptr);
    // A bare file name would be looked up on the library path; this tool
    // takes it as a file, as the platform's does.
    std::string path = std::strchr(library, '/') ? library : std::string("./") + library;
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        std::fprintf(stderr, "regsvr: %s does not load: %s\n", library, dlerror());
        CoUninitialize();
        return 3;
    }
    auto function = reinterpret_cast<DllRegisterServerFunction>(GetProcAddress(module, entry));
    if (function == nullptr) {
        std::fprintf(stderr, "regsvr: %s has no entry point %s\n", library, entry);
        FreeLibrary(module);
        CoUninitialize();
        return 4;
    }
    const HRESULT hr = function();
    FreeLibrary(module);
    CoUninitialize();
    if (FAILED(hr)) {
        std::fprintf(stderr, "regsvr: %s in %s failed with 0x%08X (registry %s)\n", entry, library,
                     static_cast<unsigned>(hr), RegistryFilePath().c_str());
        // A file with lines it cannot read is left as it is, not rewritten.
        if (const std::string problem = RegistryFileProblem(); !problem.empty())
            std::fprintf(stderr,
                         "regsvr: the registry file cannot be read: %s\n"
                         "regsvr: nothing was changed; mend or remove that line first\n",
                         problem.c_str());
        return 5;
    }
    if (!silent)
        std::printf("%s in %s succeeded (registry %s)\n", entry, library,
                    RegistryFilePath().c_str());
    return 0;
}
