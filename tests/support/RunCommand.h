#pragma once
// Runs a tool of the build, or an outside program (libtiff's tools, Pillow,
// Python's json), and collects its exit status and output.
#include "support/TestFiles.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace merkanix::testing {

struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs `program` with `args` passed through the shell as they are.
inline CommandResult RunProgram(const std::string& program, const std::string& args) {
    ScratchFolder scratch;
    const std::string command = Quote(program) + " " + args + " >" + Quote(scratch / "out") +
                                " 2>" + Quote(scratch / "err") + " </dev/null";
    const int raw = std::system(command.c_str());
    CommandResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadBytes(scratch / "out");
    r.err = ReadBytes(scratch / "err");
    return r;
}

// `tool` is a program of build/bin; `args` are passed through the shell as they are.
inline CommandResult RunTool(const std::string& tool, const std::string& args) {
    return RunProgram(std::string(MERKANIX_BIN_DIR) + "/" + tool, args);
}

// The lines of a tool's output, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A shell command line, as it is.
inline CommandResult RunShell(const std::string& command) {
    return RunProgram("/bin/sh", "-c " + Quote(command));
}

// Whether the system's Python can import `module`.
inline bool PythonHas(const std::string& module) {
    return RunShell("/usr/bin/python3 -c 'import " + module + "'").status == 0;
}

} // namespace merkanix::testing
