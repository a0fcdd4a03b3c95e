#pragma once
// What the command-line tools share: usage errors, option values, the
// progress bar and the main wrapper that maps failures to exit codes.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

namespace merkanix::tools {

// Bad command line: message on stderr, exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A command line read one argument at a time. Options start with "--";
// "--name=value" and "--name value" give the same option, the value being
// taken from the next argument only when the tool asks for one. Everything
// else is an operand, taken whole.
class ArgumentReader {
public:
    ArgumentReader(int argc, char** argv) : argc_(argc), argv_(argv) {}
    // Moves to the next argument; false after the last.
    bool Next();
    // The argument as given.
    const std::string& Text() const { return text_; }
    bool IsOption() const { return option_; }
    // An option's name without "=value"; an operand's whole text.
    const std::string& Name() const { return name_; }
    // The value after '=', or else the next argument. Throws UsageError
    // "NAME needs a value" at the end of the line.
    std::string Value();
    // Throws UsageError "NAME takes no value" for an option given one with '='.
    void RefuseValue() const;

private:
    int argc_;
    char** argv_;
    int index_ = 0;
    std::string text_, name_, inlineValue_;
    bool option_ = false, hasInlineValue_ = false;
};

// Option values are written with '.' whatever the locale.
double OptionReal(std::string_view option, std::string_view value);
std::int64_t OptionInteger(std::string_view option, std::string_view value, std::int64_t min,
                           std::int64_t max);

// A bar on stderr, drawn only when stderr is a terminal; safe to update
// from several threads.
class ProgressBar {
public:
    ProgressBar(std::string label, std::size_t total);
    ~ProgressBar();
    void Update(std::size_t done);
    // For work whose size is known only once it runs.
    void Update(std::size_t done, std::size_t total);
    void Finish();

private:
    std::string label_;
    std::size_t total_;
    bool enabled_;
    bool finished_ = false;
    int lastPermille_ = -1;
    std::chrono::steady_clock::time_point lastDraw_{};
    std::mutex mutex_;
};

// Runs `body`; prints "PROGRAM: message" for failures. Returns the exit
// status: body's own, 2 for a UsageError (after `usage`), 1 otherwise.
int RunTool(const char* program, const std::string& usage, const std::function<int()>& body);

} // namespace merkanix::tools
