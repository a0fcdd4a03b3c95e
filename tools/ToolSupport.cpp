#include "tools/ToolSupport.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <unistd.h>

namespace merkanix::tools {

bool ArgumentReader::Next() {
    if (++index_ >= argc_) return false;
    text_ = argv_[index_];
    option_ = text_.rfind("--", 0) == 0;
    const std::size_t equals = option_ ? text_.find('=') : std::string::npos;
    hasInlineValue_ = equals != std::string::npos;
    name_ = hasInlineValue_ ? text_.substr(0, equals) : text_;
    inlineValue_ = hasInlineValue_ ? text_.substr(equals + 1) : std::string();
    return true;
}

std::string ArgumentReader::Value() {
    if (hasInlineValue_) return inlineValue_;
    if (index_ + 1 >= argc_) throw UsageError(name_ + " needs a value");
    return argv_[++index_];
}

void ArgumentReader::RefuseValue() const {
    if (hasInlineValue_) throw UsageError(name_ + " takes no value");
}

double OptionReal(std::string_view option, std::string_view value) {
    double result = 0.0;
    const char* end = value.data() + value.size();
    auto [ptr, ec] = std::from_chars(value.data(), end, result);
    if (value.empty() || ec != std::errc() || ptr != end)
        throw UsageError(std::string(option) + ": '" + std::string(value) + "' is not a number");
    return result;
}

std::int64_t OptionInteger(std::string_view option, std::string_view value, std::int64_t min,
                           std::int64_t max) {
    std::int64_t result = 0;
    const char* end = value.data() + value.size();
    auto [ptr, ec] = std::from_chars(value.data(), end, result);
    if (value.empty() || ec != std::errc() || ptr != end)
        throw UsageError(std::string(option) + ": '" + std::string(value) + "' is not an integer");
    if (result < min || result > max)
        throw UsageError(std::string(option) + ": " + std::to_string(result) + " is out of range " +
                         std::to_string(min) + ".." + std::to_string(max));
    return result;
}

ProgressBar::ProgressBar(std::string label, std::size_t total)
    : label_(std::move(label)), total_(total), enabled_(isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() {
    Finish();
}

void ProgressBar::Update(std::size_t done) {
    if (!enabled_ || total_ == 0) return;
    std::lock_guard lock(mutex_);
    if (finished_) return;
    const int permille = static_cast<int>(done >= total_ ? 1000 : done * 1000 / total_);
    const auto now = std::chrono::steady_clock::now();
    // Redrawing on every step would cost more than the work on fast runs.
    if (permille == lastPermille_ ||
        (permille < 1000 && now - lastDraw_ < std::chrono::milliseconds(100)))
        return;
    lastPermille_ = permille;
    lastDraw_ = now;
    constexpr int kWidth = 40;
    const int filled = permille * kWidth / 1000;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '.');
    std::fprintf(stderr, "\r%s [%s] %zu/%zu", label_.c_str(), bar.c_str(), done, total_);
    std::fflush(stderr);
}

void ProgressBar::Update(std::size_t done, std::size_t total) {
    if (!enabled_) return;
    {
        std::lock_guard lock(mutex_);
        total_ = total;
    }
    Update(done);
}

void ProgressBar::Finish() {
    std::lock_guard lock(mutex_);
    if (!enabled_ || finished_) return;
    finished_ = true;
    if (lastPermille_ >= 0) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

int RunTool(const char* program, const std::string& usage, const std::function<int()>& body) {
    try {
        return body();
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s: %s\n%s", program, e.what(), usage.c_str());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", program, e.what());
        return 1;
    }
}

} // namespace merkanix::tools
