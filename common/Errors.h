#pragma once
// The failures that stop an action. Each carries the text the user sees.
#include <stdexcept>
#include <string>

namespace merkanix {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text that is not a number, or a date that does not exist.
class ConversionError : public Error {
public:
    using Error::Error;
};

// A file that cannot be opened, read or written.
class InOutError : public Error {
public:
    using Error::Error;
};

// Raised where the arithmetic would trap: invalid operation, division by
// zero, overflow.
class FloatingPointError : public Error {
public:
    using Error::Error;
};

inline constexpr const char* kInvalidOperationText = "Invalid floating point operation";
inline constexpr const char* kDivisionByZeroText = "Floating point division by zero";
inline constexpr const char* kOverflowText = "Floating point overflow";

// "Cannot open file "PATH". REASON" from errno.
[[noreturn]] void ThrowFileError(const char* what, const std::string& path, int errorNumber);

} // namespace merkanix
