#pragma once
// Runs a shell command, for the checks against outside programs (libtiff's
// tools, Pillow, Python's json), and collects what it printed.
#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace merkanix::testing {

struct ShellResult {
    int status = -1;
    std::string output; // stdout and stderr together
};

inline ShellResult RunShell(const std::string& command) {
    ShellResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        result.output.append(buffer, n);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Whether the system's Python can import `module`.
inline bool PythonHas(const std::string& module) {
    return RunShell("/usr/bin/python3 -c 'import " + module + "'").status == 0;
}

} // namespace merkanix::testing
