#include "common/NumberText.h"

#include "common/Errors.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace merkanix {

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

[[noreturn]] void ThrowNotReal(std::string_view text) {
    throw ConversionError("'" + std::string(text) + "' is not a valid floating point value");
}
} // namespace

double ParseReal(std::string_view text, char decimalSeparator) {
    const std::string_view body = TrimBlanks(text);
    // Copy into a normalised form with '.', validating the grammar on the way.
    char buffer[128];
    if (body.empty() || body.size() >= sizeof buffer) ThrowNotReal(text);
    std::size_t n = 0;
    std::size_t i = 0;
    bool negative = false;
    if (body[i] == '+' || body[i] == '-') negative = body[i++] == '-';
    std::size_t mantissaDigits = 0;
    bool separatorSeen = false;
    for (; i < body.size(); ++i) {
        const char c = body[i];
        if (IsDigit(c)) {
            buffer[n++] = c;
            ++mantissaDigits;
        } else if (!separatorSeen && (c == decimalSeparator || c == '.' || c == ',')) {
            separatorSeen = true;
            buffer[n++] = '.';
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) ThrowNotReal(text);
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        buffer[n++] = 'e';
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-')) buffer[n++] = body[i++];
        std::size_t exponentDigits = 0;
        for (; i < body.size() && IsDigit(body[i]); ++i, ++exponentDigits)
            buffer[n++] = body[i];
        if (exponentDigits == 0) ThrowNotReal(text);
    }
    if (i != body.size()) ThrowNotReal(text);
    double value = 0.0;
    const auto [end, ec] = std::from_chars(buffer, buffer + n, value);
    if (ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow has no value.
        const char* e = static_cast<const char*>(std::memchr(buffer, 'e', n));
        if (e == nullptr || e[1] != '-') ThrowNotReal(text);
        value = 0.0;
    } else if (ec != std::errc() || end != buffer + n) {
        ThrowNotReal(text);
    }
    return negative ? -value : value;
}

std::int32_t ParseInteger(std::string_view text) {
    const std::string_view body = TrimBlanks(text);
    std::string_view digits = body;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    std::int64_t value = 0;
    bool ok = !digits.empty() && digits.size() <= 11;
    for (std::size_t i = 0; ok && i < digits.size(); ++i) {
        if (!IsDigit(digits[i])) {
            ok = false;
            break;
        }
        value = value * 10 + (digits[i] - '0');
    }
    if (negative) value = -value;
    if (!ok || value < INT32_MIN || value > INT32_MAX)
        throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
    return static_cast<std::int32_t>(value);
}

std::string WithDecimalSeparator(std::string text, char decimalSeparator) {
    for (char& c : text)
        if (c == ',') c = decimalSeparator;
    return text;
}

std::string FormatGeneral(double value, char decimalSeparator) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
    if (value == 0.0) return "0";
    // Round to 15 significant digits first; the layout follows from the
    // rounded digits and their decimal exponent.
    char scientific[40];
    std::snprintf(scientific, sizeof scientific, "%.14e", value);
    const bool negative = scientific[0] == '-';
    const char* p = scientific + (negative ? 1 : 0);
    std::string digits;
    digits += p[0];
    digits.append(p + 2, 14);
    const int exponent = std::atoi(std::strchr(p, 'e') + 1);
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= 15 || std::fabs(value) < 1e-5) {
        out += digits[0];
        if (digits.size() > 1) {
            out += decimalSeparator;
            out.append(digits, 1);
        }
        out += 'E';
        out += std::to_string(exponent);
        return out;
    }
    if (exponent < 0) {
        out += '0';
        out += decimalSeparator;
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
        return out;
    }
    const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= integerDigits) {
        out += digits;
        out.append(integerDigits - digits.size(), '0');
    } else {
        out.append(digits, 0, integerDigits);
        out += decimalSeparator;
        out.append(digits, integerDigits);
    }
    return out;
}

std::string FormatFixed(double value, int decimals, char decimalSeparator) {
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string out(buffer);
    if (decimalSeparator != '.')
        for (char& c : out)
            if (c == '.') c = decimalSeparator;
    return out;
}

std::string FormatRoundTrip(double value) {
    if (std::isnan(value)) return "nan";
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return buffer;
}

} // namespace merkanix
