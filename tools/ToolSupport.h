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
