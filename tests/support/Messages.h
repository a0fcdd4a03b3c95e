#pragma once
// The text a failure shows, for tests that check messages.
#include <exception>
#include <string>

namespace merkanix::testing {

// The message of the exception of type E that `action` throws, or "no error".
template <typename E = std::exception, typename Action> std::string MessageOf(Action&& action) {
    try {
        action();
    } catch (const E& e) {
        return e.what();
    }
    return "no error";
}

} // namespace merkanix::testing
